#include "app/tray_icon_image.h"

#include <commctrl.h>

#include "app/app_state.h"
#include "app/high_contrast.h"
#include "app/window_dpi.h"
#include "common/loaded_function.h"
#include "common/scoped_handle.h"
#include "res/resource.h"

namespace {

using LoadIconMetricFunction = HRESULT(WINAPI*)(HINSTANCE instance, PCWSTR name, int metric, HICON* icon);

// LoadIconMetric(LIM_SMALL) from the common controls of version 6 where they are in the
// process already (Windows maps them for the first dialog; the version 5 in System32 lacks the
// function). Mapping them only for this would cost an idle Kalnix their memory (some 1.4 MB
// under Wine) for the same image. Null when they are not there.
HICON LoadIconAtSmallMetric(UINT resource) {
    auto load = LoadedFunction<LoadIconMetricFunction>(L"comctl32.dll", "LoadIconMetric");
    HICON icon = nullptr;
    if (!load || FAILED(load(g_instance, MAKEINTRESOURCEW(resource), LIM_SMALL, &icon))) return nullptr;
    return icon;
}

// Read quietly: a Windows without the value is no fault to log.
bool SystemUsesLightTheme() {
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize", 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegQueryValueExW(key.get(), L"SystemUsesLightTheme", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    return value != 0;
}

}  // namespace

TaskbarLook CurrentTaskbarLook() {
    if (HighContrastOn()) return TaskbarLook::HighContrast;
    return SystemUsesLightTheme() ? TaskbarLook::Light : TaskbarLook::Dark;
}

UINT TrayIconResource(bool enabled, TaskbarLook look) {
    switch (look) {
    case TaskbarLook::Light:        return enabled ? IDI_TRAY_ENABLED_LIGHT : IDI_TRAY_DISABLED_LIGHT;
    case TaskbarLook::HighContrast: return enabled ? IDI_TRAY_ENABLED_CONTRAST : IDI_TRAY_DISABLED_CONTRAST;
    case TaskbarLook::Dark:         break;
    }
    return enabled ? IDI_TRAY_ENABLED : IDI_TRAY_DISABLED;
}

HICON LoadSmallIcon(UINT resource, UINT dpi) {
    // LoadIconMetric sizes for the system's DPI, which stays as it was at sign-in; after the
    // display's scale changed the window's DPI says what the taskbar shows now. Both find the
    // image drawn for the size where the icon has one.
    if (dpi == SystemDpi()) {
        if (HICON icon = LoadIconAtSmallMetric(resource)) return icon;
    }
    const int size = SmallIconSize(dpi);
    return static_cast<HICON>(LoadImageW(g_instance, MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}
