#include "common/platform.h"

#include <powrprof.h>

#include "common/loaded_function.h"

namespace {

// user32 is always loaded; a function older systems lack is simply not found there.
template <class Fn>
Fn User32Function(const char* name) {
    return LoadedFunction<Fn>(L"user32", name);
}

HPOWERNOTIFY WINAPI RegisterPowerSettingIfPresent(HANDLE recipient, LPCGUID setting, DWORD flags) {
    static auto fn = User32Function<decltype(&::RegisterPowerSettingNotification)>("RegisterPowerSettingNotification");
    return fn ? fn(recipient, setting, flags) : nullptr;
}

HPOWERNOTIFY WINAPI RegisterSuspendResumeIfPresent(HANDLE recipient, DWORD flags) {
    static auto fn = User32Function<decltype(&::RegisterSuspendResumeNotification)>("RegisterSuspendResumeNotification");
    return fn ? fn(recipient, flags) : nullptr;
}

LONG WINAPI GetDisplayConfigBufferSizesIfPresent(UINT32 flags, UINT32* paths, UINT32* modes) {
    static auto fn = User32Function<decltype(&::GetDisplayConfigBufferSizes)>("GetDisplayConfigBufferSizes");
    return fn ? fn(flags, paths, modes) : ERROR_NOT_SUPPORTED;
}

LONG WINAPI QueryDisplayConfigIfPresent(UINT32 flags, UINT32* pathCount, DISPLAYCONFIG_PATH_INFO* paths,
                                        UINT32* modeCount, DISPLAYCONFIG_MODE_INFO* modes,
                                        DISPLAYCONFIG_TOPOLOGY_ID* topology) {
    static auto fn = User32Function<decltype(&::QueryDisplayConfig)>("QueryDisplayConfig");
    return fn ? fn(flags, pathCount, paths, modeCount, modes, topology) : ERROR_NOT_SUPPORTED;
}

}  // namespace

Platform g_platform = {
    &::Beep,
    &::Shell_NotifyIconW,
    &::ShellExecuteW,
    &::CheckTokenMembership,
    &::OpenEventW,
    &::SetTimer,
    RegisterPowerSettingIfPresent,
    RegisterSuspendResumeIfPresent,
    GetDisplayConfigBufferSizesIfPresent,
    QueryDisplayConfigIfPresent,
    &::GetSystemPowerStatus,
    &::CallNtPowerInformation,
    &::CreateProcessW,
};
