#include "app/tray_icon.h"

#include <shellapi.h>
#include <versionhelpers.h>

#include <cwchar>

#include "app/app_state.h"
#include "app/tray_icon_image.h"
#include "app/window_dpi.h"
#include "common/applied_setting.h"
#include "common/seam_shell.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

constexpr UINT kTrayIconId = 1;
constexpr UINT kBalloonTimeoutMs = 10000;

int g_lastTrayState = kTrayStateEnabled;
wchar_t g_trayNote[64] = {};
// The picture last handed to the shell, which keeps a copy of its own: held until the next
// one replaces it.
HICON g_trayIcon = nullptr;
// The balloon shown last is a wake notice whose action the user may take.
bool g_wakeNoticeOffered = false;
// Kalnix's own icon for balloons, at the DPI it was loaded for: kept until that DPI changes
// or the tray icon goes.
HICON g_balloonIcon = nullptr;
UINT g_balloonIconDpi = 0;

// Since Windows Vista the shell takes the whole record, with the balloon's own icon; older
// shells take the version-2 layout, up to and including the balloon flags.
bool ShellTakesFullRecord() {
    static const bool full = IsWindowsVistaOrGreater();
    return full;
}

DWORD NotifyRecordSize() { return ShellTakesFullRecord() ? sizeof(NOTIFYICONDATAW) : NOTIFYICONDATAW_V2_SIZE; }

// Under version 4 the shell shows the standard tooltip only when asked to.
UINT TipFlags() { return ShellTakesFullRecord() ? NIF_TIP | NIF_SHOWTIP : NIF_TIP; }

// Kalnix's own icon at the size a balloon's large icon takes at the window's DPI.
HICON BalloonIcon(HWND window) {
    UINT dpi = DpiOf(window);
    if (g_balloonIcon && g_balloonIconDpi == dpi) return g_balloonIcon;
    if (g_balloonIcon) DestroyIcon(g_balloonIcon);
    int edge = LargeIconSize(dpi);
    g_balloonIcon = static_cast<HICON>(LoadImageW(g_instance, MAKEINTRESOURCEW(IDI_KALNIX), IMAGE_ICON, edge, edge, 0));
    g_balloonIconDpi = dpi;
    return g_balloonIcon;
}

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
    ReadAppliedSettingDword(SettingId::HideTrayIcon, &hide, LocalRead::FreshKey);
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

// A record that names the tray window's icon.
NOTIFYICONDATAW ExistingIconRecord(UINT flags) {
    NOTIFYICONDATAW record = {};
    record.cbSize = NotifyRecordSize();
    record.hWnd = g_trayWindow;
    record.uID = kTrayIconId;
    record.uFlags = flags;
    return record;
}

// A balloon the user's own action brought (the start after installing) shows at once; the
// others come unasked and wait while Windows keeps a new user's first hour quiet.
enum class BalloonCause { UserAction, Unasked };

void SetBalloon(NOTIFYICONDATAW& record, const wchar_t* text, BalloonCause cause) {
    record.uFlags |= NIF_INFO;
    record.uTimeout = kBalloonTimeoutMs;
    CopyText(record.szInfo, text);
    CopyText(record.szInfoTitle, L"Kalnix");
    if (!ShellTakesFullRecord()) {
        record.dwInfoFlags = NIIF_INFO;  // an older shell has no large balloon icon
        return;
    }
    record.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
    if (cause == BalloonCause::Unasked) record.dwInfoFlags |= NIIF_RESPECT_QUIET_TIME;
    record.hBalloonIcon = BalloonIcon(record.hWnd);
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
    SetBalloon(record, g_pendingBalloonText, BalloonCause::UserAction);
    g_pendingBalloonText[0] = L'\0';  // offered once only
}

// The shell keeps the callback version per icon, so it is set once the icon exists, in a
// record of its own: the balloon's timeout shares the member.
void SetIconVersion(HWND window) {
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    record.hWnd = window;
    record.uVersion = NOTIFYICON_VERSION_4;
    g_shellSeam.notifyIcon(NIM_SETVERSION, &record);
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

    NOTIFYICONDATAW record = ExistingIconRecord(NIF_MESSAGE | NIF_ICON | TipFlags());
    record.hWnd = window;
    record.uCallbackMessage = kTrayCallbackMessage;
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
    bool added = g_shellSeam.notifyIcon(NIM_ADD, &record) != FALSE;
    SetIconVersion(window);
    return added;
}

void ShowTrayBalloon(const wchar_t* text) {
    if (!text || TrayIconHidden()) return;
    g_wakeNoticeOffered = false;
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    SetBalloon(record, text, BalloonCause::Unasked);
    g_shellSeam.notifyIcon(NIM_MODIFY, &record);
}

void ShowTrayWakeNotice(const wchar_t* text, bool mayAct) {
    if (!text) return;
    if (!mayAct) return ShowTrayBalloon(text);
    // The action's line always fits: the note gives way.
    constexpr int kBalloonChars = sizeof(NOTIFYICONDATAW::szInfo) / sizeof(wchar_t);
    const int room = kBalloonChars - 2 - static_cast<int>(wcslen(kWakeNoticeAction));
    wchar_t offered[kBalloonChars];
    _snwprintf(offered, kBalloonChars - 1, L"%.*ls\n%ls", room, text, kWakeNoticeAction);
    offered[kBalloonChars - 1] = L'\0';
    ShowTrayBalloon(offered);
    g_wakeNoticeOffered = !TrayIconHidden();
}

bool TakeWakeNoticeSelection(UINT event) {
    bool selected = event == NIN_BALLOONUSERCLICK && g_wakeNoticeOffered;
    if (event == NIN_BALLOONUSERCLICK || event == NIN_BALLOONHIDE || event == NIN_BALLOONTIMEOUT)
        g_wakeNoticeOffered = false;
    return selected;
}

void SetTrayNote(const wchar_t* note) {
    CopyText(g_trayNote, note ? note : L"");
    if (TrayIconHidden()) return;
    // Only the tooltip changes; the icon, if not shown yet, gets the note when it is added.
    NOTIFYICONDATAW record = ExistingIconRecord(TipFlags());
    StateTip(record, StateText(g_lastTrayState));
    g_shellSeam.notifyIcon(NIM_MODIFY, &record);
}

void ReloadTrayIcon() {
    if (TrayIconHidden()) return;
    NOTIFYICONDATAW record = ExistingIconRecord(NIF_ICON);
    record.hIcon = TakeTrayIcon(g_trayWindow, g_lastTrayState);
    g_shellSeam.notifyIcon(NIM_MODIFY, &record);
}

void ReturnFocusToTray() {
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    g_shellSeam.notifyIcon(NIM_SETFOCUS, &record);
}

void DeleteTrayIcon() {
    NOTIFYICONDATAW record = ExistingIconRecord(0);
    g_shellSeam.notifyIcon(NIM_DELETE, &record);
    if (g_trayIcon) DestroyIcon(g_trayIcon);
    g_trayIcon = nullptr;
    if (g_balloonIcon) DestroyIcon(g_balloonIcon);
    g_balloonIcon = nullptr;
}
