#include "common/seam_power.h"

#include "common/power_library.h"
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

}  // namespace

PowerSeam g_powerSeam = {
    RegisterPowerSettingIfPresent,
    UnregisterPowerSettingIfPresent,
    RegisterSuspendResumeIfPresent,
    UnregisterSuspendResumeIfPresent,
    &::GetSystemPowerStatus,
    CallNtPowerInformationIfPresent,
    &::CreateProcessW,
    SetSuspendStateIfPresent,
    GetPwrCapabilitiesIfPresent,
};
