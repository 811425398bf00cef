#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "app/app_state.h"
#include "app/tray_icon_image.h"
#include "app/window_dpi.h"
#include "common/applied_setting.h"
#include "common/platform.h"
#include "protect/sleep_capabilities.h"
#include "res/resource.h"

namespace {

// The version-2 layout, up to and including the balloon flags: every shell since
// Windows 2000 accepts it (936 bytes on x86, 952 on x64).
constexpr DWORD kNotifyRecordSize = NOTIFYICONDATAW_V2_SIZE;
constexpr UINT kTrayIconId = 1;
constexpr UINT kBalloonTimeoutMs = 10000;

int g_lastTrayState = kTrayStateEnabled;
wchar_t g_trayNote[64] = {};
// The picture last handed to the shell, which keeps a copy of its own: held until the next
// one replaces it.
HICON g_trayIcon = nullptr;

// Copies as much of source as fits, always terminated.
template <size_t N>
void CopyText(wchar_t (&destination)[N], const wchar_t* source) {
    wcsncpy(destination, source, N - 1);
    destination[N - 1] = L'\0';
}

// Read at every use, the local value through a fresh handle with the logging read: its
// failures belong in the log.
bool TrayIconHidden() {
    DWORD hide = 0;
    ReadAppliedSettingDword(L"HideTrayIcon", &hide, LocalRead::FreshKey);
    return hide == 1;
}

// The state's own tooltip text, with the note as its second line when there is one.
void StateTip(NOTIFYICONDATAW& record, const wchar_t* stateText) {
    if (g_trayNote[0] == L'\0') {
        CopyText(record.szTip, stateText);
        return;
    }
    _snwprintf(record.szTip, ARRAYSIZE(record.szTip) - 1, L"%ls\n%ls", stateText, g_trayNote);
    record.szTip[ARRAYSIZE(record.szTip) - 1] = L'\0';
}

// A record that names the existing icon, for NIM_MODIFY.
NOTIFYICONDATAW ExistingIconRecord(UINT flags) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kNotifyRecordSize;
    record.hWnd = g_trayWindow;
    record.uID = kTrayIconId;
    record.uFlags = flags;
    return record;
}

void SetBalloon(NOTIFYICONDATAW& record, const wchar_t* text) {
    record.uFlags |= NIF_INFO;
    record.dwInfoFlags = NIIF_INFO;
    record.uTimeout = kBalloonTimeoutMs;
    CopyText(record.szInfo, text);
    CopyText(record.szInfoTitle, L"Kalnix");
}

// The state's art for the taskbar as it looks now, at the size the notification area shows
// for the window's DPI.
HICON TakeTrayIcon(HWND window, int state) {
    HICON icon = LoadSmallIcon(TrayIconResource(state == kTrayStateEnabled, CurrentTaskbarLook()), DpiOf(window));
    if (g_trayIcon) DestroyIcon(g_trayIcon);
    g_trayIcon = icon;
    return icon;
}

void TakePendingBalloon(NOTIFYICONDATAW& record) {
    if (g_pendingBalloonText[0] == L'\0') return;
    SetBalloon(record, g_pendingBalloonText);
    g_pendingBalloonText[0] = L'\0';  // offered once only
}

// A Modern Standby laptop sleeps differently (and Kalnix puts it to rest differently): where
// a user looks first, the tooltip says so.
const wchar_t* StateText(int state) {
    if (state == kTrayStateDisabled) return L"Kalnix is disabled";
    return MachineSleep().modernStandby ? L"Kalnix is enabled\nThis laptop sleeps in Modern Standby"
                                        : L"Kalnix is enabled";
}

}  // namespace

bool UpdateTrayIcon(HWND window, int state, const wchar_t* text) {
    if (TrayIconHidden()) return true;

    NOTIFYICONDATAW record = {};
    record.cbSize = kNotifyRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.uVersion = NOTIFYICON_VERSION_4;
    TakePendingBalloon(record);

    if (state == kTrayStateLast) state = g_lastTrayState;
    if (state == kTrayStateEnabled || state == kTrayStateDisabled) {
        record.hIcon = TakeTrayIcon(window, state);
        StateTip(record, StateText(state));
        g_lastTrayState = state;
    }
    if (text) CopyText(record.szTip, text);

    // NIM_ADD fails while the icon exists, leaving it as it is; the shown state never
    // needs to change during a run.
    g_platform.notifyIcon(NIM_SETVERSION, &record);
    return g_platform.notifyIcon(NIM_ADD, &record) != FALSE;
}

void ShowTrayBalloon(const wchar_t* text) {
    if (!text || TrayIconHidden()) return;
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    SetBalloon(record, text);
    g_platform.notifyIcon(NIM_MODIFY, &record);
}

void SetTrayNote(const wchar_t* note) {
    CopyText(g_trayNote, note ? note : L"");
    if (TrayIconHidden()) return;
    // Only the tooltip changes; the icon, if not shown yet, gets the note when it is added.
    NOTIFYICONDATAW record = ExistingIconRecord(NIF_TIP);
    StateTip(record, StateText(g_lastTrayState));
    g_platform.notifyIcon(NIM_MODIFY, &record);
}

void ReloadTrayIcon() {
    if (TrayIconHidden()) return;
    NOTIFYICONDATAW record = ExistingIconRecord(NIF_ICON);
    record.hIcon = TakeTrayIcon(g_trayWindow, g_lastTrayState);
    g_platform.notifyIcon(NIM_MODIFY, &record);
}

void DeleteTrayIcon() {
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    g_platform.notifyIcon(NIM_DELETE, &record);
    if (g_trayIcon) DestroyIcon(g_trayIcon);
    g_trayIcon = nullptr;
}
