#pragma once

#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>

// The few system calls whose effect Wine cannot show, in one table for every layer (no speaker, no way to inspect the
// notification area's records, an administrator test that always passes there, no way to
// let a second start create the single-instance marker between our look and our create,
// a protection period of an hour that no test can wait for). Tests may swap an entry
// inside a scope; everything else calls Win32 directly.
struct Platform {
    decltype(&::Beep) beep;
    decltype(&::Shell_NotifyIconW) notifyIcon;
    decltype(&::ShellExecuteW) shellExecute;
    decltype(&::CheckTokenMembership) checkTokenMembership;
    decltype(&::OpenEventW) openEvent;
    // Wine keeps no owners faithfully: tests make the single-instance marker's owner a plain
    // user or Administrators here.
    decltype(&::GetSecurityInfo) getSecurityInfo;
    decltype(&::SetTimer) setProtectionTimer;
    // Wine's power registrations are stubs and its one display path is external: tests see
    // the registrations and their undoing and feed display layouts here. Absent before
    // Windows Vista, 7 or 8, so the real entries go through common/user32_functions.h (null
    // handle, FALSE or ERROR_NOT_SUPPORTED where the function is missing).
    decltype(&::RegisterPowerSettingNotification) registerPowerSettingNotification;
    decltype(&::UnregisterPowerSettingNotification) unregisterPowerSettingNotification;
    decltype(&::RegisterSuspendResumeNotification) registerSuspendResumeNotification;
    decltype(&::UnregisterSuspendResumeNotification) unregisterSuspendResumeNotification;
    decltype(&::GetDisplayConfigBufferSizes) getDisplayConfigBufferSizes;
    decltype(&::QueryDisplayConfig) queryDisplayConfig;
    // Wine reports mains power and no battery, has no powercfg.exe and no execution state of
    // its own: the wake report's sources.
    decltype(&::GetSystemPowerStatus) getSystemPowerStatus;
    // As powrprof.h declares it; that header has no include guard, so it stays out of here.
    LONG(WINAPI* callNtPowerInformation)(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputSize, PVOID output,
                                         ULONG outputSize);
    decltype(&::CreateProcessW) createProcess;
};

extern Platform g_platform;
