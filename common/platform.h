#pragma once

#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>

#include "common/monitor_connections.h"

struct IAccPropServices;

// The few system calls whose effect Wine cannot show, in one table for every layer (no speaker, no way to inspect the
// notification area's records, an administrator test that always passes there, no way to
// let a second start create the single-instance marker between our look and our create,
// a protection period of an hour that no test can wait for). Tests may swap an entry
// inside a scope; everything else calls Win32 directly.
struct Platform {
    decltype(&::Beep) beep;
    decltype(&::Shell_NotifyIconW) notifyIcon;
    decltype(&::ShellExecuteW) shellExecute;
    // An elevated Kalnix hands what it opens for the user to the desktop's shell, which starts it
    // without administrator rights (common/desktop_shell.h). Under Wine everything runs as one
    // administrator, and a test must not start a browser: tests see what the shell is asked, or
    // make it refuse.
    HRESULT(WINAPI* openThroughDesktopShell)(const wchar_t* target);
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
    // The monitors' connection records through WMI, where the layout above cannot be read
    // (common/monitor_connections.h). Wine publishes none.
    HRESULT(WINAPI* readMonitorConnections)(MonitorConnection* records, UINT capacity, UINT* count);
    // Wine reports mains power and no battery, has no powercfg.exe and no execution state of
    // its own: the wake report's sources.
    decltype(&::GetSystemPowerStatus) getSystemPowerStatus;
    // As powrprof.h declares it; that header has no include guard, so it stays out of here.
    LONG(WINAPI* callNtPowerInformation)(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputSize, PVOID output,
                                         ULONG outputSize);
    decltype(&::CreateProcessW) createProcess;
    // Putting a closed laptop to rest: Wine neither sleeps nor hibernates, reports no sleep
    // states, and its display-off request reaches no display. As powrprof.h declares the two
    // power calls; they fail with the look-up's error where the power library lacks them.
    BOOLEAN(WINAPI* setSuspendState)(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeupEventsDisabled);
    BOOLEAN(WINAPI* getPwrCapabilities)(PSYSTEM_POWER_CAPABILITIES capabilities);
    // Only for the display-off request (SC_MONITORPOWER) to Kalnix's own window.
    decltype(&::DefWindowProcW) defWindowProc;
    // The default sound output's mute state and master volume (0.0 to 1.0): S_OK, or a failed
    // HRESULT when there is no such device or it cannot be asked. Wine has no audio endpoint.
    HRESULT(WINAPI* readSoundOutput)(BOOL* muted, float* volume);
    // Wine's event log keeps nothing a test could read back.
    decltype(&::RegisterEventSourceW) registerEventSource;
    decltype(&::ReportEventW) reportEvent;
    decltype(&::DeregisterEventSource) deregisterEventSource;
    // A clock that counts sleep and one that does not, in milliseconds: tests move them to make
    // the laptop sleep or the program stall. The first is the interrupt time (Windows 10 and
    // later), documented to count sleep and hibernation, else the tick count; the second is the
    // first where Windows has no unbiased interrupt time (before Windows 7).
    ULONGLONG(WINAPI* tickCount64)();
    ULONGLONG(WINAPI* awakeTickCount64)();
    // Who is at the laptop: Wine has one session, the console's, which is never a remote one,
    // and delivers no input that programs inject (Windows delivers it with no device).
    decltype(&::WTSGetActiveConsoleSessionId) activeConsoleSessionId;
    BOOL(WINAPI* isRemoteSession)();
    decltype(&::GetRawInputData) getRawInputData;
    // What woke the laptop, from the System log (common/system_events.h): Wine's event log
    // keeps no power events, so tests hand in the events of real laptops here.
    DWORD(WINAPI* querySystemEvents)(const wchar_t* query, DWORD maxEvents, wchar_t* xml, DWORD chars);
    // oleacc's property services, which tell screen readers what a control is: Wine's answers
    // every annotation with E_NOTIMPL, so tests see them here.
    HRESULT(WINAPI* createAccPropServices)(IAccPropServices** services);
    // A window's DPI (GetDpiForWindow, Windows 10 1607 and later; 0 where it is missing): Wine
    // gives every window the system's, so tests set another display's scale here.
    UINT(WINAPI* dpiForWindow)(HWND window);
};

extern Platform g_platform;
