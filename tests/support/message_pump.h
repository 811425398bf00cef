#pragma once

#include <windows.h>

// The calling thread's message queue, as the tests drive it in place of a message loop.

// Removes every pending message unhandled (posted ticks, the WM_QUIT of a destroyed window).
void DropMessages();
// Dispatches every pending message; a WM_QUIT is taken off the queue, as no window receives it.
void PumpMessages();
// Dispatches messages as they come for `ms` milliseconds, as a message loop would.
void PumpMessagesFor(DWORD ms);
