#pragma once

#include <windows.h>

#include "protect/external_display.h"
#include "protect/presence.h"
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
    bool onBattery;
    bool lidCloseDoesNothing;       // the current power source's lid-close action
    Displays displays;              // an unreadable layout counts as an external display
    bool alarmWithExternalDisplay;  // AlarmWithExternalDisplay = 1
    bool alarmSilent;               // the lid alarm's first tone could not be heard
    bool consoleSession;            // Kalnix runs in the console session
    ULONGLONG msSinceInput;         // since a person's input, awake time; kNoInputSeen for none
    bool heldForUser;        // woken by someone with the lid closed and an external display in use
};

// How long to wait before putting the laptop to rest, in milliseconds (0: never): counted
// from the first tone in lid alarm mode, from the lid closing in automatic protection. A
// silent alarm waits AlarmTime instead of RestAfter. Never with an external display in use or
// a layout that no source can read (unless AlarmWithExternalDisplay is 1), nor while held for
// someone who woke the laptop; in neither mode on mains power with a lid-close action of Do
// nothing (a laptop docked closed on purpose), while on battery Do nothing is the bag.
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

// The situation now: the settings, the power source and its lid-close action read afresh;
// what the displays are and what the input watch and the session say are handed in, as they
// are gathered where they can be seen.
RestSituation CurrentRestSituation(int mode, int alarmSeconds, bool alarmSilent, bool heldForUser, Displays displays,
                                   const PresenceSeen& presence);
// Whether the rest is off in the settings (RestAfter 0 or absent): the displays and the
// presence then need no look.
bool RestIsOff();

// The tray program's answer at the lid alarm's first tone (protect/standalone_host.h): reads the
// default sound output, true, with a log line, when it is muted, at volume 0 or absent, so
// that nobody can hear the alarm.
bool AlarmIsSilent();
