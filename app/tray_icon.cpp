#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "app/app_state.h"
#include "common/platform.h"
#include "common/settings_store.h"
#include "res/resource.h"

namespace {

// The version-2 layout, up to and including the balloon flags: every shell since
// Windows 2000 accepts it (936 bytes on x86, 952 on x64).
constexpr DWORD kNotifyRecordSize = NOTIFYICONDATAW_V2_SIZE;
constexpr UINT kTrayIconId = 1;
constexpr UINT kBalloonTimeoutMs = 10000;

int g_lastTrayState = kTrayStateEnabled;

// Copies as much of source as fits, always terminated.
template <size_t N>
void CopyText(wchar_t (&destination)[N], const wchar_t* source) {
    wcsncpy(destination, source, N - 1);
    destination[N - 1] = L'\0';
}

bool TrayIconHidden() {
    HKEY key = nullptr;
    OpenSettingsKey(&key);
    DWORD hide = 0;
    ReadSettingDword(L"HideTrayIcon", &hide, key);
    if (key) RegCloseKey(key);
    return hide == 1;
}

void TakePendingBalloon(NOTIFYICONDATAW& record) {
    if (g_pendingBalloonText[0] == L'\0') return;
    record.uFlags |= NIF_INFO;
    record.dwInfoFlags = NIIF_INFO;
    record.uTimeout = kBalloonTimeoutMs;
    CopyText(record.szInfo, g_pendingBalloonText);
    CopyText(record.szInfoTitle, L"Kalnix");
    g_pendingBalloonText[0] = L'\0';  // offered once only
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
    if (state == kTrayStateEnabled) {
        record.hIcon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_TRAY_ENABLED));
        CopyText(record.szTip, L"Kalnix is enabled");
        g_lastTrayState = kTrayStateEnabled;
    } else if (state == kTrayStateDisabled) {
        record.hIcon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_TRAY_DISABLED));
        CopyText(record.szTip, L"Kalnix is disabled");
        g_lastTrayState = kTrayStateDisabled;
    }
    if (text) CopyText(record.szTip, text);

    // NIM_ADD fails while the icon exists, leaving it as it is; the shown state never
    // needs to change during a run.
    g_platform.notifyIcon(NIM_SETVERSION, &record);
    return g_platform.notifyIcon(NIM_ADD, &record) != FALSE;
}

void DeleteTrayIcon() {
    NOTIFYICONDATAW record = {};
    record.cbSize = kNotifyRecordSize;
    record.hWnd = g_trayWindow;
    record.uID = kTrayIconId;
    g_platform.notifyIcon(NIM_DELETE, &record);
}
