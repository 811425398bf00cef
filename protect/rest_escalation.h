#pragma once

#include <windows.h>

#include "protect/rest_decision.h"

// Putting a closed laptop nobody is at to rest: the ways this laptop has now, tried in order,
// each refusal logged and reported, the next way tried after it; and the one owner of a
// display-off rest in flight, its wait for the display or the standby included.

enum class RestOutcome {
    Rested,   // the laptop slept or hibernated, and has woken again
    Pending,  // the display-off request went out: its effect is still to come
    Failed,   // every way was refused
    NoWay,    // this laptop has no way to rest
    CalledOff,  // a lid report or keyboard or mouse input waits in the window's queue
};

// Reads the capabilities afresh and tries the ways. A sleep or hibernation returns only after
// the wake, so the note for the user, the battery at the suspend and the rest event are taken
// before the call; a call that fails, or returns without time asleep, did not rest the laptop:
// those are withdrawn and the next way is tried. The display-off request goes to the host; one
// it cannot make is logged once a closure and the next way tried. One it makes waits for its
// effect (kRestConfirmTimer), with `ringing`, whether the alarm rang. `firstCause` is the wake
// report's (may be empty). Right before each call the window's queue is looked at: a lid report
// or input waiting there calls the rest off, for the caller to handle them first.
RestOutcome PutToRest(HWND window, const wchar_t* firstCause, bool ringing);
// A new closure: no display-off request waits, and the host's lack of one is said anew.
void StartClosureRests(HWND window);

// kRestConfirmTimer: Waiting (also for an early tick, or no request waiting), Confirmed when
// the laptop slept meanwhile, Unconfirmed (logged and reported as a failed rest) when nothing
// followed within the wait. `ringingBefore`: whether the alarm rang when the request was made.
enum class DisplayOffCheck { Waiting, Confirmed, Unconfirmed };
DisplayOffCheck CheckDisplayOff(HWND window, bool* ringingBefore);
// The display went off or the laptop suspends: true when a request waited, and the rest took
// place, noted and reported.
bool ConfirmDisplayOff(HWND window, bool* ringingBefore);
// The lid opened meanwhile: nothing to tell.
void ForgetDisplayOff(HWND window);
// How long a display-off request may take to show.
constexpr UINT kDisplayOffConfirmMs = 15000;
