#include "app/tray_window.h"

#include <shellapi.h>
#include <cwchar>

#include "app/app_state.h"
#include "app/elevation.h"
#include "app/face.h"
#include "app/face_client.h"
#include "app/settings_effect.h"
#include "app/tray_icon.h"
#include "app/tray_menu.h"
#include "common/seam_sessions.h"
#include "common/user32_functions.h"
#include "protect/protection_run.h"
#include "protect/standalone_host.h"
#include "res/resource.h"

namespace {

UINT g_taskbarCreatedMessage = 0;

// Set once the session's end or WM_DESTROY has ended the protection. Messages already queued by
// then and dialogs still open must not bring the icon back or open anything.
bool g_trayEnding = false;

// Whether the protection started at creation senses the lid itself (CreateTrayWindow).
TrayLid g_trayLid = TrayLid::Sensed;
// The window is the protection service's face (CreateFaceWindow): no protection of its own.
bool g_face = false;

// Everyone may look at the face's dialogs; what they change asks for an administrator there.
bool MayOpenDialogs() { return g_face || IsUserAdministrator(); }

void RefreshEnabledIcon() {
    UpdateTrayIcon(g_trayWindow, kTrayStateEnabled, nullptr);
}

// Only an administrator may keep what woke the laptop from waking it again.
void ShowWakeNoticeHere(const wchar_t* text) { ShowTrayWakeNotice(text, IsUserAdministrator()); }

// A wake notice's action: More settings, which lists what may wake the laptop; where this
// Kalnix may not write the settings, the dialog starts elevated at once.
void OpenWakeChoices(HWND hwnd) {
    if (DialogNeedsElevation()) StartKalnixElevated(hwnd, kElevatedMoreSettingsSwitch);
    else OnTrayCommand(hwnd, IDM_MORE_SETTINGS, MayOpenDialogs());
}

// The protection as the tray program hosts it in its own session, shown through the icon.
ProtectionHost TrayProtectionHost(HWND hwnd, bool administrator) {
    ProtectionHost host = StandaloneHost(hwnd);
    host.changesPowerPolicy = administrator;
    if (g_trayLid == TrayLid::Posted) host.startLidSource = nullptr;
    host.showBalloon = ShowTrayBalloon;
    host.showWakeNotice = ShowWakeNoticeHere;
    host.stateChanged = RefreshEnabledIcon;
    host.showNote = SetTrayNote;
    return host;
}

void OnTrayCreate(HWND hwnd) {
    g_trayEnding = false;
    // Creation has not returned yet: what the protection's start shows needs the window now.
    g_trayWindow = hwnd;
    g_taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    AllowTaskbarCreated();
    if (g_face) return StartFace(hwnd);
    bool administrator = IsUserAdministrator();
    if (!administrator)
        UpdateTrayIcon(hwnd, kTrayStateDisabled, L"Kalnix is disabled\nLogged on user is not an administrator");
    StartProtection(TrayProtectionHost(hwnd, administrator));
}

// Puts the lid-close settings back and tells the driver, once: at the end of the session or
// at WM_DESTROY, whichever comes first.
void EndTray() {
    if (g_trayEnding) return;
    g_trayEnding = true;
    if (g_face) EndFace();
    else EndProtection();
}

// An open menu would keep its own loop running after the quit message: it ends first.
void OnTrayClose(HWND hwnd) {
    EndTrayMenu(hwnd);
    DestroyWindow(hwnd);
}

void OnTrayDestroy(HWND hwnd) {
    EndTrayMenu(hwnd);
    EndTray();
    DeleteTrayIcon();
    PostQuitMessage(0);
}

// A log-off or shutdown ends the process after this message without WM_DESTROY: the forced
// settings must be put back now. A cancelled end (FALSE) leaves the protection running.
void OnTrayEndSession(HWND hwnd, BOOL ending) {
    if (!ending) return;
    EndTrayMenu(hwnd);
    EndTray();
}

void OnTrayPaint(HWND hwnd) {
    PAINTSTRUCT paint;
    BeginPaint(hwnd, &paint);
    EndPaint(hwnd, &paint);
}

LRESULT OnTraySysCommand(HWND hwnd, WPARAM command) {
    if (command != SC_CLOSE) return 0;
    ShowWindow(hwnd, SW_HIDE);
    return 1;
}

// The protection's timers are its own (HandleProtectionMessage); the window's is the menu's.
void OnTrayTimer(WPARAM timer) {
    if (g_trayEnding) return;
    if (timer == kMenuClickTimer) OnMenuClickTimer(g_trayWindow, MayOpenDialogs());
    else if (g_face && timer == kFaceRetryTimer) OnFaceRetryTimer(g_trayWindow);
}

// Version 4 carries the anchor point of the icon (or of the keyboard's focus on it) in wParam.
POINT AnchorPoint(WPARAM wParam) {
    return {static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam))};
}

void OnTrayCallback(HWND hwnd, UINT event, POINT anchor) {
    if (g_trayEnding) return;
    switch (event) {
    case WM_LBUTTONDOWN: OnTrayButtonDown(); break;
    // A left click: the menu, unless a second click makes it a double-click.
    case NIN_SELECT: OnTraySelect(hwnd, anchor); break;
    case WM_LBUTTONDBLCLK:
        OnTrayDoubleClick(hwnd);
        if (MayOpenDialogs()) OnTrayCommand(hwnd, IDM_STATUS, true);
        break;
    // A right-click, or Shift+F10 on the icon.
    case WM_CONTEXTMENU: ShowTrayMenu(hwnd, anchor, MayOpenDialogs(), false); break;
    // Enter or Space on the icon.
    case NIN_KEYSELECT: ShowTrayMenu(hwnd, anchor, MayOpenDialogs(), true); break;
    case NIN_BALLOONUSERCLICK:
    case NIN_BALLOONHIDE:
    case NIN_BALLOONTIMEOUT:
        if (TakeWakeNoticeSelection(event)) OpenWakeChoices(hwnd);
        break;
    }
}

void OnTrayMenuCommand(HWND hwnd, UINT command) {
    if (g_trayEnding) return;
    // The face's Exit ends no protection, and says so.
    if (g_face && command == IDM_EXIT) return OnFaceExit(hwnd);
    OnTrayCommand(hwnd, command, MayOpenDialogs());
}

void OnTrayInput(HRAWINPUT input) {
    if (g_face && !g_trayEnding) OnFaceInput(input);
}

void OnTrayFaceLink(HWND hwnd, UINT msg, LPARAM lParam) {
    if (g_trayEnding) return FreeFaceMessage(msg == kFaceLinkMessage ? lParam : 0);
    if (msg == kFaceLinkMessage) OnFaceLinkMessage(hwnd, lParam);
    else OnFaceLinkLost(hwnd);
}

// A change of the display's scale comes as a new DPI for the window, or as a display change.
void OnTrayDisplayChange() {
    if (g_trayEnding) return;
    if (g_face) OnFaceDisplayChange();
    ReloadTrayIcon();
}

void OnTrayDpiChanged() {
    if (!g_trayEnding) ReloadTrayIcon();
}

// The taskbar turned light or dark ("ImmersiveColorSet"), or high contrast went on or off.
void OnTraySettingChange(UINT action, const wchar_t* area) {
    const bool colours = area && wcscmp(area, L"ImmersiveColorSet") == 0;
    if (!g_trayEnding && (colours || action == SPI_SETHIGHCONTRAST)) ReloadTrayIcon();
}

}  // namespace

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // The protection's own timers and messages, and what it looks at before the window does.
    LRESULT result = 0;
    if (!g_face && HandleProtectionMessage(msg, wParam, lParam, &result)) return result;
    switch (msg) {
    case WM_CREATE:           OnTrayCreate(hwnd); return 0;
    case WM_CLOSE:            OnTrayClose(hwnd); return 0;
    case WM_DESTROY:          OnTrayDestroy(hwnd); return 0;
    // Kalnix never holds up a log-off or shutdown.
    case WM_QUERYENDSESSION:  return TRUE;
    case WM_ENDSESSION:       OnTrayEndSession(hwnd, static_cast<BOOL>(wParam)); return 0;
    case WM_PAINT:            OnTrayPaint(hwnd); return 0;
    case WM_SYSCOMMAND:       return OnTraySysCommand(hwnd, wParam);
    case WM_TIMER:            OnTrayTimer(wParam); return 0;
    // Version 4 puts the icon id in lParam's high word; the event is in the low word either way.
    case kTrayCallbackMessage: OnTrayCallback(hwnd, LOWORD(lParam), AnchorPoint(wParam)); return 0;
    case WM_COMMAND:          OnTrayMenuCommand(hwnd, LOWORD(wParam)); return 0;
    case WM_DISPLAYCHANGE:    OnTrayDisplayChange(); return 0;
    // The system cleans up after the default handling.
    case WM_INPUT:            OnTrayInput(reinterpret_cast<HRAWINPUT>(lParam)); break;
    case kFaceLinkMessage:
    case kFaceLinkLost:       OnTrayFaceLink(hwnd, msg, lParam); return 0;
    case WM_DPICHANGED:       OnTrayDpiChanged(); return 0;
    case WM_SETTINGCHANGE:    OnTraySettingChange(static_cast<UINT>(wParam), reinterpret_cast<const wchar_t*>(lParam));
                              return 0;
    }
    // Compared only after the fixed messages: before WM_CREATE the identifier is still 0. The
    // icon is added again with its picture loaded anew: the restarted taskbar may differ.
    if (g_taskbarCreatedMessage != 0 && msg == g_taskbarCreatedMessage) {
        if (!g_trayEnding) UpdateTrayIcon(g_trayWindow, kTrayStateLast, nullptr);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

namespace {

void CreateTrayWindowAs(TrayLid lid, bool face) {
    g_trayLid = lid;
    g_face = face;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = g_instance;
    windowClass.hIcon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_KALNIX));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassExW(&windowClass);

    g_trayWindow = CreateWindowExW(WS_EX_TOOLWINDOW, kTrayWindowClass, kTrayWindowName, WS_POPUP,
                                   CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, g_instance, nullptr);
}

}  // namespace

bool TrayIsFace() { return g_face; }

void CreateFaceWindow() {
    CreateTrayWindowAs(TrayLid::Posted, true);
}

void CreateTrayWindow(TrayLid lid) { CreateTrayWindowAs(lid, false); }


bool IsUserAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    if (!g_sessionSeam.checkTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

bool AllowTaskbarCreated() {
    auto changeFilter = User32().changeWindowMessageFilter;
    if (!changeFilter) return true;  // older than the message filter
    return changeFilter(g_taskbarCreatedMessage, MSGFLT_ADD) != FALSE;
}
