#include "protect/sleep_clock.h"

#include "common/seam_clocks.h"

namespace {

constexpr ULONGLONG kSleptMs = 2000;
// The clocks advance in steps of about 16 ms; a window timer may fire within one step of them.
constexpr ULONGLONG kEarlySlackMs = 50;

ULONGLONG Elapsed(ULONGLONG now, ULONGLONG then) { return now > then ? now - then : 0; }

}  // namespace

ClockStamp ClockNow() { return {g_clockSeam.tickCount64(), g_clockSeam.awakeTickCount64()}; }

ULONGLONG MsSince(const ClockStamp& stamp) { return Elapsed(g_clockSeam.tickCount64(), stamp.tickMs); }

ULONGLONG MsAwakeSince(const ClockStamp& stamp) { return Elapsed(g_clockSeam.awakeTickCount64(), stamp.awakeMs); }

ULONGLONG MsAsleepSince(const ClockStamp& stamp) {
    ClockStamp now = ClockNow();
    ULONGLONG total = Elapsed(now.tickMs, stamp.tickMs);
    ULONGLONG awake = Elapsed(now.awakeMs, stamp.awakeMs);
    return Elapsed(total, awake);
}

TimerDue ArmedNow(UINT delayMs) { return {ClockNow(), delayMs}; }

TimerCheck CheckTimer(const TimerDue& timer, UINT* remainingMs) {
    *remainingMs = 0;
    if (MsAsleepSince(timer.armed) > kSleptMs) return TimerCheck::Slept;
    ULONGLONG elapsed = MsSince(timer.armed);
    if (elapsed + kEarlySlackMs >= timer.delayMs) return TimerCheck::Due;
    *remainingMs = static_cast<UINT>(timer.delayMs - elapsed);
    return TimerCheck::Early;
}
