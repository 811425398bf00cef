#pragma once

#include <windows.h>

// Two clocks, read together: one that counts the time the laptop slept or hibernated, and one
// that counts only the time it was awake. Their difference since a moment is the time asleep
// since then; a program that merely stalled (a slow call, a busy main thread) moved both alike.

struct ClockStamp {
    ULONGLONG tickMs;   // counts sleep
    ULONGLONG awakeMs;  // does not
};

ClockStamp ClockNow();
ULONGLONG MsSince(const ClockStamp& stamp);
ULONGLONG MsAwakeSince(const ClockStamp& stamp);
ULONGLONG MsAsleepSince(const ClockStamp& stamp);

// A window timer that knows when it is due. WM_TIMER can come early (anyone may post it, and
// a re-armed timer's old tick) or late (the laptop slept with the timer armed).
struct TimerDue {
    ClockStamp armed;
    UINT delayMs;
};

enum class TimerCheck { Due, Early, Slept };

TimerDue ArmedNow(UINT delayMs);
// Slept when the laptop slept more than 2 s since the timer was armed: the timer's wait has
// lost its meaning. Early, with the milliseconds still to wait, when the tick comes more than
// a clock step before its time.
TimerCheck CheckTimer(const TimerDue& timer, UINT* remainingMs);
