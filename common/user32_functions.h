#pragma once

#include <windows.h>

// The functions of user32 that older systems lack (Windows Vista, 7 and 8 added them), looked
// up once for the whole process. An entry is null where this Windows lacks the function.
struct User32Functions {
    decltype(&::RegisterPowerSettingNotification) registerPowerSettingNotification;
    decltype(&::UnregisterPowerSettingNotification) unregisterPowerSettingNotification;
    decltype(&::RegisterSuspendResumeNotification) registerSuspendResumeNotification;
    decltype(&::UnregisterSuspendResumeNotification) unregisterSuspendResumeNotification;
    decltype(&::GetDisplayConfigBufferSizes) getDisplayConfigBufferSizes;
    decltype(&::QueryDisplayConfig) queryDisplayConfig;
    decltype(&::ChangeWindowMessageFilter) changeWindowMessageFilter;
};

// The table, resolved at the first call.
const User32Functions& User32();
