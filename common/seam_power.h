#pragma once

#include <windows.h>

// Stand-ins for the machine's power: what Wine's power code cannot show. Tests may swap an entry
// inside a scope (tests/support/platform_scope.h); everything else calls Win32 directly.
struct PowerSeam {
    // Wine's power registrations are stubs: tests see the registrations and their undoing, and
    // send the reports themselves. Absent before Windows Vista or 8, so the real entries go
    // through common/user32_functions.h (null handle or FALSE where the function is missing).
    decltype(&::RegisterPowerSettingNotification) registerPowerSettingNotification;
    decltype(&::UnregisterPowerSettingNotification) unregisterPowerSettingNotification;
    decltype(&::RegisterSuspendResumeNotification) registerSuspendResumeNotification;
    decltype(&::UnregisterSuspendResumeNotification) unregisterSuspendResumeNotification;
    // Wine reports mains power and no battery.
    decltype(&::GetSystemPowerStatus) getSystemPowerStatus;
    // The execution state the wake report names: Wine keeps none. As powrprof.h declares it;
    // that header has no include guard, so it stays out of here.
    LONG(WINAPI* callNtPowerInformation)(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputSize, PVOID output,
                                         ULONG outputSize);
    // Only for the power tool (powercfg.exe in System32), which Wine lacks: tests start a
    // program of theirs in its place with what Kalnix asked for.
    decltype(&::CreateProcessW) createProcess;
    // Putting a closed laptop to rest: Wine neither sleeps nor hibernates and reports no sleep
    // states. As powrprof.h declares the two; they fail with the look-up's error where the power
    // library lacks them.
    BOOLEAN(WINAPI* setSuspendState)(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeupEventsDisabled);
    BOOLEAN(WINAPI* getPwrCapabilities)(PSYSTEM_POWER_CAPABILITIES capabilities);
};

extern PowerSeam g_powerSeam;
