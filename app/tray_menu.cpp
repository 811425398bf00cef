#include "app/tray_menu.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/more_settings_dialog.h"
#include "app/open_for_user.h"
#include "app/settings_dialog.h"
#include "app/status_dialog.h"
#include "app/tray_icon.h"
#include "common/applied_setting.h"
#include "common/scoped_handle.h"
#include "res/resource.h"

namespace {

struct MenuTraits {
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyMenu(h); }
};
using ScopedMenu = Scoped<MenuTraits>;

// A menu shown from inside another one's loop (a second key press) would fail anyway.
bool g_menuShown = false;
// Set when the menu was closed because Kalnix is ending: nothing the menu returns is done.
bool g_menuEnded = false;

// A left click's menu, waiting for the double-click time to pass.
struct ClickWait {
    bool pending;
    POINT at;
    bool doubleClicked;  // this click completed a double-click: its NIN_SELECT opens nothing
};
ClickWait g_clickWait = {};

// "Kalnix.log" beside Kalnix.exe, where the diagnostic log writes it.
bool LogPath(wchar_t* path, DWORD capacity) {
    DWORD length = GetModuleFileNameW(nullptr, path, capacity);
    if (length == 0 || length >= capacity) return false;
    wchar_t* lastSlash = wcsrchr(path, L'\\');
    if (!lastSlash) return false;
    const wchar_t kName[] = L"Kalnix.log";
    if (static_cast<size_t>(lastSlash + 1 - path) + ARRAYSIZE(kName) > capacity) return false;
    wcscpy(lastSlash + 1, kName);
    return true;
}

bool LoggingOn() {
    DWORD logging = 0;
    return ReadAppliedSettingDword(SettingId::EnableLogging, &logging, LocalRead::Quiet) && logging == 1;
}

bool LogAvailable() {
    wchar_t path[MAX_PATH];
    return LoggingOn() && LogPath(path, MAX_PATH) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

UINT MenuAlignment() { return GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN; }

// A modal dialog of Kalnix's disables the tray window, its owner: that dialog comes to the
// front rather than a second one over it, or an end under it that would skip its own close.
bool BringOpenDialogForward(HWND window) {
    if (IsWindowEnabled(window)) return false;
    HWND popup = GetLastActivePopup(window);
    if (popup && popup != window) SetForegroundWindow(popup);
    return true;
}

void OpenDialog(HWND window, int templateId, DLGPROC procedure) {
    if (BringOpenDialogForward(window)) return;
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(templateId), window, procedure, 0);
}

void OpenLog(HWND window) {
    wchar_t path[MAX_PATH];
    if (LogPath(path, MAX_PATH) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) OpenForUser(window, path);
}

}  // namespace

HMENU BuildTrayMenu(bool administrator, bool logAvailable) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    if (administrator) {
        AppendMenuW(menu, MF_STRING, IDM_STATUS, L"&Status");
        SetMenuDefaultItem(menu, IDM_STATUS, FALSE);
        AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"S&ettings\u2026");
        AppendMenuW(menu, MF_STRING, IDM_MORE_SETTINGS, L"&More settings\u2026");
    } else {
        AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_DISABLED_STATE,
                    L"Kalnix is &disabled: logged on user is not an administrator");
    }
    if (logAvailable) AppendMenuW(menu, MF_STRING, IDM_OPEN_LOG, L"Open &log");
    if (administrator) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_EXIT, L"E&xit Kalnix");
    }
    return menu;
}

void ShowTrayMenu(HWND window, POINT at, bool administrator, bool fromKeyboard) {
    if (g_menuShown) return;
    ScopedMenu menu(BuildTrayMenu(administrator, LogAvailable()));
    if (!menu.valid()) return;
    g_menuShown = true;
    g_menuEnded = false;
    // Else the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(window);
    UINT command = static_cast<UINT>(TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | MenuAlignment(),
                                                      at.x, at.y, window, nullptr));
    g_menuShown = false;
    if (g_menuEnded) return;  // the window is ending: no command, and no icon to focus
    // Lets the shell finish its own handling of the click that opened the menu.
    PostMessageW(window, WM_NULL, 0, 0);
    // Carried out once the menu's own loop has ended.
    if (command) PostMessageW(window, WM_COMMAND, command, 0);
    else if (fromKeyboard) ReturnFocusToTray();
}

void EndTrayMenu(HWND window) {
    if (g_clickWait.pending) KillTimer(window, kMenuClickTimer);
    g_clickWait = {};
    if (!g_menuShown) return;
    g_menuEnded = true;
    // The menu belongs to this thread: its loop ends as soon as the current message returns.
    EndMenu();
}

void OnTrayButtonDown() { g_clickWait.doubleClicked = false; }

void OnTraySelect(HWND window, POINT at) {
    if (g_clickWait.doubleClicked) return;
    g_clickWait.pending = true;
    g_clickWait.at = at;
    SetTimer(window, kMenuClickTimer, GetDoubleClickTime(), nullptr);
}

void OnTrayDoubleClick(HWND window) {
    // A tick already queued is not taken back by KillTimer: the flag makes it do nothing.
    if (g_clickWait.pending) KillTimer(window, kMenuClickTimer);
    g_clickWait.pending = false;
    g_clickWait.doubleClicked = true;
}

void OnMenuClickTimer(HWND window, bool administrator) {
    KillTimer(window, kMenuClickTimer);
    if (!g_clickWait.pending) return;
    g_clickWait.pending = false;
    ShowTrayMenu(window, g_clickWait.at, administrator, false);
}

void OnTrayCommand(HWND window, UINT command, bool administrator) {
    if (command == IDM_OPEN_LOG) return OpenLog(window);
    // The menu offers nothing else to a user who is not an administrator.
    if (!administrator) return;
    switch (command) {
    case IDM_STATUS:        return OpenDialog(window, IDD_STATUS, StatusDialogProc);
    case IDM_SETTINGS:      return OpenDialog(window, IDD_SETTINGS, SettingsDialogProc);
    case IDM_MORE_SETTINGS:
        if (!BringOpenDialogForward(window)) ShowMoreSettingsDialog(window);
        return;
    case IDM_EXIT:
        if (!BringOpenDialogForward(window)) DestroyWindow(window);
        return;
    }
}
