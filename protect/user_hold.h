#pragma once

#include <windows.h>

#include "protect/external_display.h"

// A closed laptop held for the person at it: woken by its user with an external display in
// use, it gets no alarm and no rest until the lid opens and closes again, the laptop sleeps,
// or the last external display has stayed away. A dock's displays come and go for a few
// seconds after a resume and blink at a KVM switch or a monitor switched off, so the hold is
// decided from the displays kHoldSettleMs after the resume, and ended only by a layout still
// without an external display kHoldSettleMs after the change. One owner of the hold; the
// host window's kHoldSettleTimer paces it. Main thread only.

constexpr UINT kHoldSettleMs = 10000;
// A layout no source can read is read again this many times before it counts as external.
constexpr int kHoldUnreadableRereads = 2;

// Deciding after a resume, held, or rechecking after a display change while held: the closed
// lid is not watched meanwhile.
bool HoldActive();

// A resume by someone with the lid closed: the decision waits for the displays to settle.
void BeginHoldDecision(HWND window);
// The displays changed while held or deciding: the layout is looked at again once it has
// settled, the wait starting anew.
void RecheckHold(HWND window);
// The lid moved or the laptop went to sleep: no hold, nothing pending.
void EndHold(HWND window);

// kHoldSettleTimer: false for a tick that is not due (it waits out the rest of its time) or
// comes with no decision pending.
bool HoldSettleDue(HWND window);
// Applies the displays as read at a due tick. Held: kept for the person (the log says so when
// it begins); NotHeld (after a resume) and LeftLaptop (after the last external display left):
// no hold, the closed lid is to be watched; Waiting: read again later.
enum class HoldOutcome { Held, NotHeld, LeftLaptop, Waiting };
HoldOutcome SettleHold(HWND window, Displays displays);
