#include "common/seam_clocks.h"

#include "common/loaded_function.h"

namespace {

// The interrupt time is documented to go on while the laptop sleeps or hibernates (its unbiased
// form is the one that stops); the tick count is not documented either way. Before Windows 10
// the tick count is all there is, and before Windows Vista only its 32-bit form, which wraps
// after 49 days.
ULONGLONG WINAPI TickCount64() {
    using QueryInterruptTimeFunction = VOID(WINAPI*)(PULONGLONG);
    static const auto interrupt = LoadedFunction<QueryInterruptTimeFunction>(L"kernel32.dll", "QueryInterruptTime");
    if (interrupt) {
        ULONGLONG time = 0;
        interrupt(&time);
        return time / 10000u;
    }
    static const auto fn = LoadedFunction<decltype(&::GetTickCount64)>(L"kernel32.dll", "GetTickCount64");
    return fn ? fn() : GetTickCount();
}

// The interrupt time without the time asleep (Windows 7 and later), in milliseconds.
ULONGLONG WINAPI AwakeTickCount64() {
    static const auto fn =
        LoadedFunction<decltype(&::QueryUnbiasedInterruptTime)>(L"kernel32.dll", "QueryUnbiasedInterruptTime");
    ULONGLONG unbiased = 0;
    if (fn && fn(&unbiased)) return unbiased / 10000u;
    return TickCount64();
}

}  // namespace

ClockSeam g_clockSeam = {
    TickCount64,
    AwakeTickCount64,
    &::SetTimer,
};
