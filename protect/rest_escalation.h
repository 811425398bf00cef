#pragma once

#include <windows.h>

// When nobody hears the alarm: what this laptop can do instead of staying awake with its lid
// closed, when Kalnix should make it, and making it.

// Read once at start (ReadSleepCapabilities); all false where Windows cannot say.
struct SleepCapabilities {
    bool sleepS3;        // SystemS3
    bool hibernation;    // SystemS4 with a hibernation file
    bool modernStandby;  // AoAc: the machine sleeps in S0 low power idle
};

// Where Windows 8 and later keep AoAc in SYSTEM_POWER_CAPABILITIES (the toolchain's header
// calls that byte spare2[2]).
constexpr size_t kAoAcOffset = 20;

enum class RestKind { None, Hibernate, Sleep, DisplayOff };

// Hibernation first: nothing drains or heats in it, and it cannot be stopped half-way the
// way a standby can. Then S3 sleep. A Modern Standby laptop without hibernation enters its
// standby when its display goes off, as after Start > Sleep there. None where no way exists.
RestKind ChooseRestKind(const SleepCapabilities& machine);
// How the event log names a rest: "hibernation", "sleep", "display off for Modern Standby".
const wchar_t* RestKindText(RestKind kind);

// Reads the power capabilities through the seam and logs the kind of sleep.
void ReadSleepCapabilities();
const SleepCapabilities& MachineSleep();

// What the rest decision looks at: the settings, and the machine's state at the moment the
// lid alarm first rings (lid alarm mode) or the lid closes (automatic protection).
struct RestSituation {
    int mode;
    DWORD restAfterSeconds;  // RestAfter: 0 = never
    DWORD alarmSeconds;      // AlarmTime
    bool lidCloseDoesNothing;  // the current power source's lid-close action
    bool externalDisplayInUse;
    bool alarmWithExternalDisplay;  // AlarmWithExternalDisplay = 1
    bool alarmSilent;               // the lid alarm's first tone could not be heard
};

// How long to wait before putting the laptop to rest, in milliseconds (0: never): counted
// from the first tone in lid alarm mode, from the lid closing in automatic protection. A
// silent alarm waits AlarmTime instead of RestAfter. Automatic protection acts only where
// Windows was to sleep: not with a lid-close action of Do nothing, nor with an external
// display in use (unless AlarmWithExternalDisplay is 1).
UINT RestDelayMs(const RestSituation& situation);

// The situation now, with the settings read afresh; alarmSilent as given.
RestSituation CurrentRestSituation(int mode, int alarmSeconds, bool alarmSilent);

// Reads the default sound output at the lid alarm's first tone: true, with a log line, when
// it is muted, at volume 0 or absent, so that nobody can hear the alarm.
bool AlarmIsSilent();

// Puts the laptop to rest the way ChooseRestKind gives. Logs what it does and any failed call;
// where no way exists it logs that once per run. Returns the kind used, None on failure. A
// sleep or hibernation returns once the laptop has woken again.
RestKind PutToRest();

// The seam's clock, which counts sleep, against a timer's due time: more than 2 s late means
// the program was suspended, or the machine slept without telling it.
ULONGLONG TickNow();
ULONGLONG DueTick(UINT delayMs);
bool RanLate(ULONGLONG dueTick);
