#pragma once

#include <windows.h>

#include "protect/external_display.h"
#include "protect/sleep_capabilities.h"

// When nobody hears the alarm: whether and when Kalnix puts a closed laptop to rest itself,
// and how. Kalnix rests a laptop only when nobody is at it.

enum class RestKind { None, Hibernate, Sleep, DisplayOff };

// How the event log names a rest: "hibernation", "sleep", "display off for Modern Standby".
const wchar_t* RestKindText(RestKind kind);

// The ways to try, in order: hibernation first (nothing drains or heats in it, and it cannot
// be stopped half-way the way a standby can), then S3 sleep, then, on a Modern Standby laptop,
// the display turned off, which is how Windows enters its standby there. Empty where no way
// exists.
struct RestWays {
    int count;
    RestKind kinds[3];
};
RestWays ChooseRestWays(const SleepCapabilities& machine);

// What the rest decision looks at.
struct RestSituation {
    int mode;
    DWORD restAfterSeconds;  // RestAfter: 0 = never
    DWORD alarmSeconds;      // AlarmTime
    bool lidCloseDoesNothing;       // the current power source's lid-close action
    Displays displays;              // an unreadable layout counts as an external display
    bool alarmWithExternalDisplay;  // AlarmWithExternalDisplay = 1
    bool alarmSilent;               // the lid alarm's first tone could not be heard
    bool consoleSession;            // Kalnix runs in the console session
    ULONGLONG msSinceInput;         // since a person's input, awake time; kNoInputSeen for none
    bool userPresentResume;  // woken by someone with the lid closed and an external display in use
};

// How long to wait before putting the laptop to rest, in milliseconds (0: never): counted
// from the first tone in lid alarm mode, from the lid closing in automatic protection. A
// silent alarm waits AlarmTime instead of RestAfter. Never with an external display in use or
// a layout that cannot be read (unless AlarmWithExternalDisplay is 1), nor after a resume by
// someone with one; automatic protection also never with a lid-close action of Do nothing.
UINT RestDelayMs(const RestSituation& situation);

// At the rest timer's tick: rest now, never in this wait, wait until nobody has touched the
// keyboard or mouse for RestAfter (at least 30 s), or not from this session (it is not the
// console's).
enum class RestVerdict { Rest, Never, WaitForQuiet, NotFromThisSession };
struct RestDecision {
    RestVerdict verdict;
    UINT waitMs;  // WaitForQuiet: until the quiet is long enough
};
RestDecision DecideRest(const RestSituation& situation);

// The situation now: the settings, lid-close action, displays, session and input read afresh.
RestSituation CurrentRestSituation(int mode, int alarmSeconds, bool alarmSilent, bool userPresentResume);

// Reads the default sound output at the lid alarm's first tone: true, with a log line, when
// it is muted, at volume 0 or absent, so that nobody can hear the alarm.
bool AlarmIsSilent();
