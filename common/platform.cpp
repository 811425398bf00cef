#include "common/platform.h"

#include <powrprof.h>

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

}  // namespace

Platform g_platform = {
    &::Beep,
    &::Shell_NotifyIconW,
    &::ShellExecuteW,
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
    &::GetSystemPowerStatus,
    &::CallNtPowerInformation,
    &::CreateProcessW,
};
