#include "common/platform.h"

#include <oleacc.h>

#include "common/com_library.h"
#include "common/desktop_shell.h"
#include "common/loaded_function.h"
#include "common/power_library.h"
#include "common/sound_output.h"
#include "common/system_events.h"
#include "common/user32_functions.h"

namespace {

HPOWERNOTIFY WINAPI RegisterPowerSettingIfPresent(HANDLE recipient, LPCGUID setting, DWORD flags) {
    auto fn = User32().registerPowerSettingNotification;
    return fn ? fn(recipient, setting, flags) : nullptr;
}

BOOL WINAPI UnregisterPowerSettingIfPresent(HPOWERNOTIFY handle) {
    auto fn = User32().unregisterPowerSettingNotification;
    return fn ? fn(handle) : FALSE;
}

HPOWERNOTIFY WINAPI RegisterSuspendResumeIfPresent(HANDLE recipient, DWORD flags) {
    auto fn = User32().registerSuspendResumeNotification;
    return fn ? fn(recipient, flags) : nullptr;
}

BOOL WINAPI UnregisterSuspendResumeIfPresent(HPOWERNOTIFY handle) {
    auto fn = User32().unregisterSuspendResumeNotification;
    return fn ? fn(handle) : FALSE;
}

LONG WINAPI GetDisplayConfigBufferSizesIfPresent(UINT32 flags, UINT32* paths, UINT32* modes) {
    auto fn = User32().getDisplayConfigBufferSizes;
    return fn ? fn(flags, paths, modes) : ERROR_NOT_SUPPORTED;
}

LONG WINAPI QueryDisplayConfigIfPresent(UINT32 flags, UINT32* pathCount, DISPLAYCONFIG_PATH_INFO* paths,
                                        UINT32* modeCount, DISPLAYCONFIG_MODE_INFO* modes,
                                        DISPLAYCONFIG_TOPOLOGY_ID* topology) {
    auto fn = User32().queryDisplayConfig;
    return fn ? fn(flags, pathCount, paths, modeCount, modes, topology) : ERROR_NOT_SUPPORTED;
}

// The power calls fail as their own failures do where the library lacks them.
BOOLEAN WINAPI SetSuspendStateIfPresent(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeupEventsDisabled) {
    auto fn = PowerLibrary().setSuspendState;
    return fn ? fn(hibernate, force, wakeupEventsDisabled) : MissingPowerFunction();
}

BOOLEAN WINAPI GetPwrCapabilitiesIfPresent(PSYSTEM_POWER_CAPABILITIES capabilities) {
    auto fn = PowerLibrary().getPwrCapabilities;
    return fn ? fn(capabilities) : MissingPowerFunction();
}

LONG WINAPI CallNtPowerInformationIfPresent(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputSize,
                                            PVOID output, ULONG outputSize) {
    constexpr LONG kProcedureNotFound = static_cast<LONG>(0xC000007A);  // STATUS_PROCEDURE_NOT_FOUND
    auto fn = PowerLibrary().callNtPowerInformation;
    return fn ? fn(level, input, inputSize, output, outputSize) : kProcedureNotFound;
}

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

BOOL WINAPI IsRemoteSession() { return GetSystemMetrics(SM_REMOTESESSION) != 0; }

// oleacc's property services, through COM from System32 (common/accessible_role.h uses them).
HRESULT WINAPI CreateAccPropServices(IAccPropServices** services) {
    const ComFunctions& com = Com();
    if (!com.createInstance) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return com.createInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(services));
}

UINT WINAPI DpiForWindowIfPresent(HWND window) {
    static const auto fn = LoadedFunction<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    return fn ? fn(window) : 0;
}

}  // namespace

Platform g_platform = {
    &::Beep,
    &::Shell_NotifyIconW,
    &::ShellExecuteW,
    OpenThroughDesktopShell,
    &::CheckTokenMembership,
    &::OpenEventW,
    &::GetSecurityInfo,
    &::SetTimer,
    RegisterPowerSettingIfPresent,
    UnregisterPowerSettingIfPresent,
    RegisterSuspendResumeIfPresent,
    UnregisterSuspendResumeIfPresent,
    GetDisplayConfigBufferSizesIfPresent,
    QueryDisplayConfigIfPresent,
    ReadMonitorConnections,
    &::GetSystemPowerStatus,
    CallNtPowerInformationIfPresent,
    &::CreateProcessW,
    SetSuspendStateIfPresent,
    GetPwrCapabilitiesIfPresent,
    &::DefWindowProcW,
    ReadDefaultSoundOutput,
    &::RegisterEventSourceW,
    &::ReportEventW,
    &::DeregisterEventSource,
    TickCount64,
    AwakeTickCount64,
    &::WTSGetActiveConsoleSessionId,
    IsRemoteSession,
    &::GetRawInputData,
    QuerySystemEvents,
    CreateAccPropServices,
    DpiForWindowIfPresent,
};
