#pragma once

#include <windows.h>

// Stand-ins for time: Wine's machine never sleeps, and no test can wait an hour. Tests may swap
// an entry inside a scope (tests/support/platform_scope.h).
struct ClockSeam {
    // A clock that counts sleep and one that does not, in milliseconds: tests move them to make
    // the laptop sleep or the program stall. The first is the interrupt time (Windows 10 and
    // later), documented to count sleep and hibernation, else the tick count; the second is the
    // first where Windows has no unbiased interrupt time (before Windows 7).
    ULONGLONG(WINAPI* tickCount64)();
    ULONGLONG(WINAPI* awakeTickCount64)();
    // The hourly protection timer: no API reads a timer's period back.
    decltype(&::SetTimer) setProtectionTimer;
};

extern ClockSeam g_clockSeam;
