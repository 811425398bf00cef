#pragma once

#include <windows.h>

#include "protect/rest_decision.h"

// Putting a closed laptop nobody is at to rest: the ways this laptop has now, tried in order,
// each refusal logged and reported, the next way tried after it.

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
// those are withdrawn and the next way is tried. The display-off request is made to `window`'s
// own default handling; whether standby followed is told by ConfirmDisplayOff or
// DisplayOffUnconfirmed. `firstCause` is the wake report's (may be empty). Right before each
// call the window's queue is looked at: a lid report or input waiting there calls the rest
// off, for the caller to handle them first.
RestOutcome PutToRest(HWND window, const wchar_t* firstCause);

// Between a display-off request and the display going off, a suspend, or the wait's end.
bool DisplayOffPending();
// The display went off or the laptop suspends: the rest took place, noted and reported.
void ConfirmDisplayOff();
// Nothing followed within the wait: reported as a failed rest.
void DisplayOffUnconfirmed();
// The lid opened meanwhile, or the program ends: nothing to tell.
void ForgetDisplayOff();
// How long a display-off request may take to show.
constexpr UINT kDisplayOffConfirmMs = 15000;
