#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tray_icon.h"
#include "app/tray_window.h"
#include "common/power_guard.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "res/resource.h"
#include "support/dialog_catcher.h"
#include "tray_window_fixture.h"
#include "support/icon_pixels.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

constexpr const wchar_t* kNotAdministratorTip = L"Kalnix is disabled\nLogged on user is not an administrator";

BOOL WINAPI MemberOnlyOfAdministrators(HANDLE token, PSID sid, PBOOL member) {
    *member = token == nullptr && IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    return TRUE;
}

struct TimerCall {
    HWND window;
    UINT_PTR id;
    UINT periodMs;
    bool procedure;
};
std::vector<TimerCall> g_timerCalls;

// Notes the arguments, then arms the real timer, so the window behaves as it would.
UINT_PTR WINAPI RecordSetTimer(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC procedure) {
    g_timerCalls.push_back({window, id, periodMs, procedure != nullptr});
    return SetTimer(window, id, periodMs, procedure);
}

class TrayWindowTest : public TrayWindowFixture {
protected:
    // The last update's add request, which its version request follows.
    NOTIFYICONDATAW LastAdd() {
        const auto& calls = shell_.Calls();
        EXPECT_GE(calls.size(), 2u);
        if (calls.size() < 2) return {};
        EXPECT_EQ(calls[calls.size() - 2].message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_SETVERSION));
        return calls[calls.size() - 2].record;
    }
    // What a run in automatic protection leaves: the user's flags saved, the forced ones in force.
    static void ForcedFlagsWithTheUsersSaved() {
        SetSettingDword(L"PowerSettings1", savedAc);
        SetSettingDword(L"PowerSettings2", savedDc);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(ForcedLidFlags(savedAc), ForcedLidFlags(savedDc)));
    }
    static constexpr DWORD savedAc = 3, savedDc = 1;
};

TEST(IsUserAdministratorTest, AsksForTheBuiltInAdministratorsOfTheCallersToken) {
    EXPECT_TRUE(IsUserAdministrator()) << "the Wine user is an administrator";
    {
        MembershipOverride check(MemberOnlyOfAdministrators);
        EXPECT_TRUE(IsUserAdministrator());
    }
    {
        MembershipOverride check(NotAMember);
        EXPECT_FALSE(IsUserAdministrator());
    }
    {
        MembershipOverride check(CheckFailsClaimingMember);
        EXPECT_FALSE(IsUserAdministrator());
    }
}

TEST_F(TrayWindowTest, HiddenWindowOfTheRegisteredClassIsFoundByName) {
    HWND window = Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(L"KalnixWndClass", L"KalnixWnd"), window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & (WS_POPUP | WS_CHILD | WS_CAPTION), static_cast<LONG>(WS_POPUP));
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(GetParent(window), nullptr);
}

TEST_F(TrayWindowTest, AdministratorGetsHourlyTimerAndAnImmediateFirstTick) {
    PlatformScope platform;
    g_timerCalls.clear();
    g_clockSeam.setProtectionTimer = RecordSetTimer;
    HWND window = Create();
    EXPECT_TRUE(shell_.Calls().empty()) << "the icon waits for the first tick";
    ASSERT_EQ(g_timerCalls.size(), 1u);
    EXPECT_EQ(g_timerCalls[0].window, window);
    EXPECT_EQ(g_timerCalls[0].id, 1u);
    EXPECT_EQ(g_timerCalls[0].periodMs, 3600000u) << "one hour";
    EXPECT_FALSE(g_timerCalls[0].procedure);

    MSG tick = {};
    ASSERT_TRUE(PeekMessageW(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(tick.wParam, 1u);
    EXPECT_EQ(tick.lParam, 0);
    DispatchMessageW(&tick);
    NOTIFYICONDATAW record = LastAdd();
    EXPECT_EQ(record.hWnd, window);
    EXPECT_EQ(std::wstring(record.szTip), L"Kalnix is enabled");

    // Timers other than the two known ones are ignored.
    shell_.Clear();
    EXPECT_EQ(SendMessageW(window, WM_TIMER, 3, 0), 0);
    EXPECT_TRUE(shell_.Calls().empty());

    EXPECT_TRUE(KillTimer(window, 1)) << "protection timer armed";
    EXPECT_FALSE(KillTimer(window, 2)) << "alarm timer not armed";
}

TEST_F(TrayWindowTest, NonAdministratorGetsDisabledIconAndNoTimer) {
    MembershipOverride check(NotAMember);
    HWND window = Create();
    NOTIFYICONDATAW record = LastAdd();
    EXPECT_EQ(shell_.Calls().size(), 2u);
    EXPECT_EQ(record.hWnd, window) << "the window's own handle, before creation returned";
    EXPECT_TRUE(IconShows(record.hIcon, IDI_TRAY_DISABLED));
    EXPECT_EQ(std::wstring(record.szTip), kNotAdministratorTip);

    MSG tick;
    EXPECT_FALSE(PeekMessageW(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_FALSE(KillTimer(window, 1));

    // After a shell restart the second line is gone.
    shell_.Clear();
    EXPECT_EQ(SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0), 0);
    record = LastAdd();
    EXPECT_TRUE(IconShows(record.hIcon, IDI_TRAY_DISABLED));
    EXPECT_EQ(std::wstring(record.szTip), L"Kalnix is disabled");
}

// Windows' colour mode for the taskbar, in the test prefix's user hive: -1 deletes the value.
void SetTaskbarLight(int light) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD value = static_cast<DWORD>(light);
    if (light < 0) RegDeleteValueW(key, L"SystemUsesLightTheme");
    else RegSetValueExW(key, L"SystemUsesLightTheme", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

// The shown icon gets the picture for the taskbar as it looks now when its colours, the
// window's DPI or the displays change; other setting changes leave it alone.
TEST_F(TrayWindowTest, PictureFollowsTheTaskbarsColoursAndScale) {
    HWND window = Create();
    MSG tick = {};
    ASSERT_TRUE(PeekMessageW(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    DispatchMessageW(&tick);
    EXPECT_TRUE(IconShows(LastAdd().hIcon, IDI_TRAY_ENABLED)) << "no colour mode: Windows' dark taskbar";

    const auto colours = reinterpret_cast<LPARAM>(L"ImmersiveColorSet");
    const auto environment = reinterpret_cast<LPARAM>(L"Environment");
    const struct { const char* name; int light; UINT msg; WPARAM wParam; LPARAM lParam; UINT icon; } rows[] = {
        {"taskbar turned light", 1, WM_SETTINGCHANGE, 0, colours, IDI_TRAY_ENABLED_LIGHT},
        {"other settings change nothing", 0, WM_SETTINGCHANGE, 0, environment, 0},
        {"taskbar turned dark", 0, WM_SETTINGCHANGE, 0, colours, IDI_TRAY_ENABLED},
        {"new scale", 1, WM_DPICHANGED, MAKEWPARAM(144, 144), 0, IDI_TRAY_ENABLED_LIGHT},
        {"displays changed", -1, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080), IDI_TRAY_ENABLED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetTaskbarLight(row.light);
        shell_.Clear();
        RECT suggested = {0, 0, 100, 100};
        SendMessageW(window, row.msg, row.wParam, row.msg == WM_DPICHANGED ? reinterpret_cast<LPARAM>(&suggested) : row.lParam);
        if (!row.icon) {
            EXPECT_TRUE(shell_.Calls().empty());
            continue;
        }
        ASSERT_FALSE(shell_.Calls().empty());
        const ShellCall& call = shell_.Calls().back();  // a display change may change the tooltip first
        EXPECT_EQ(call.message, static_cast<DWORD>(NIM_MODIFY));
        EXPECT_EQ(call.record.uFlags, static_cast<UINT>(NIF_ICON)) << "only the picture changes";
        EXPECT_EQ(call.record.hWnd, window);
        EXPECT_TRUE(IconShows(call.record.hIcon, row.icon));
    }
    SetTaskbarLight(-1);
}

TEST_F(TrayWindowTest, SystemCloseOnlyHidesAndOtherCommandsDoNothing) {
    HWND window = Create();
    ShowWindow(window, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(IsWindowVisible(window));
    // SC_CLOSE with low bits set would close the window under default processing.
    const WPARAM ignored[] = {SC_MINIMIZE, SC_MAXIMIZE, SC_CLOSE | 2, 0};
    for (WPARAM command : ignored) {
        SCOPED_TRACE(command);
        EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, command, 0), 0);
        ASSERT_TRUE(IsWindow(window));
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_FALSE(IsIconic(window));
        EXPECT_FALSE(IsZoomed(window));
    }
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0), 1);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(shell_.Calls().empty()) << "the icon stays";
}

TEST_F(TrayWindowTest, PaintValidatesWithoutDefaultProcessing) {
    HWND window = Create();
    // Created without height; give it an area that can need painting.
    SetWindowPos(window, nullptr, 0, 0, 50, 50, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    UpdateWindow(window);
    InvalidateRect(window, nullptr, TRUE);
    ASSERT_TRUE(GetUpdateRect(window, nullptr, FALSE));
    EXPECT_EQ(SendMessageW(window, WM_PAINT, 0, 0), 0);
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
}

TEST_F(TrayWindowTest, DoubleClickOpensStatusDialogOnlyForAnAdministrator) {
    HWND window = Create();
    const struct { LPARAM lParam; bool administrator; int dialogs; const char* name; } rows[] = {
        {WM_LBUTTONDBLCLK, true, 1, "double-click"},
        {MAKELPARAM(WM_LBUTTONDBLCLK, 1), true, 1, "double-click, icon id in high word"},
        {MAKELPARAM(WM_LBUTTONDBLCLK, 0xFFFF), true, 1, "double-click, any high word"},
        {WM_LBUTTONDOWN, true, 0, "single click"},
        {WM_LBUTTONUP, true, 0, "button up"},
        {WM_RBUTTONDBLCLK, true, 0, "right double-click"},
        {MAKELPARAM(0, WM_LBUTTONDBLCLK), true, 0, "double-click in the high word only"},
        {WM_LBUTTONDBLCLK, false, 0, "double-click by a non-administrator"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MembershipOverride check(row.administrator ? MemberOnlyOfAdministrators : NotAMember);
        DialogCatcher dialogs;
        EXPECT_EQ(SendMessageW(window, WM_USER + 1, 1, row.lParam), 0);
        EXPECT_EQ(dialogs.Count(), row.dialogs);
        if (row.dialogs) {
            EXPECT_EQ(dialogs.Owner(), window);
        }
    }
}

TEST_F(TrayWindowTest, DestroyMessageStopsTimersRemovesIconAndQuitsWithZero) {
    HWND window = Create();
    SetTimer(window, 2, 100000, nullptr);
    shell_.Clear();
    // Sent directly, as the installer does: the window itself lives on.
    EXPECT_EQ(SendMessageW(window, WM_DESTROY, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 2));
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(shell_.Calls()[0].record.hWnd, window);
    EXPECT_EQ(shell_.Calls()[0].record.uID, 1u);
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

// The setup program may end a Kalnix it has just started before its loop first ran: the
// tick posted at creation is then still queued behind WM_DESTROY.
TEST_F(TrayWindowTest, NothingQueuedBehindDestroyForcesTheFlagsOrBringsTheIconBack) {
    ForcedFlagsWithTheUsersSaved();
    SetProtectionSettings(1, AlarmDelaySeconds());
    HWND window = Create();
    SendMessageW(window, WM_DESTROY, 0, 0);
    ASSERT_EQ(ReadStandinPolicy().user.LidCloseAc.Flags, savedAc) << "the destroy handling restores";
    ClearPowerCallLog();
    shell_.Clear();

    SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    PumpMessages();  // the first tick
    EXPECT_TRUE(PowerCallLog().empty());
    GLOBAL_POWER_POLICY policy = ReadStandinPolicy();
    EXPECT_EQ(policy.user.LidCloseAc.Flags, savedAc);
    EXPECT_EQ(policy.user.LidCloseDc.Flags, savedDc);
    EXPECT_TRUE(shell_.Calls().empty()) << "the icon came back";

    // A lid closing the monitor thread reported just before the end arms no alarm.
    SetProtectionSettings(2, 5);
    PostMessageW(window, kLidStateMessage, 0, 0);
    PumpMessages();
    EXPECT_FALSE(KillTimer(window, 2)) << "an alarm was armed";
    ClearPowerStandin();
}

// A log-off or shutdown sends no WM_DESTROY: the end of the session puts everything back.
TEST_F(TrayWindowTest, EndOfTheSessionPutsBackTheFlagsAndTheLidCloseActionOnce) {
    ForcedFlagsWithTheUsersSaved();
    // The on-battery action Kalnix replaced with Sleep.
    SetSettingRaw(L"LidCloseScheme", REG_BINARY, &kBalancedScheme, sizeof(kBalancedScheme));
    SetSettingDword(L"LidCloseAction", 0);
    PresetLidCloseAction(kBalancedScheme, true, 1);
    SetProtectionSettings(1, AlarmDelaySeconds());
    HWND window = Create();
    PumpMessages();  // the first tick
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);  // cancelled
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseAc.Flags, ForcedLidFlags(savedAc));

    SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    GLOBAL_POWER_POLICY policy = ReadStandinPolicy();
    EXPECT_EQ(policy.user.LidCloseAc.Flags, savedAc);
    EXPECT_EQ(policy.user.LidCloseDc.Flags, savedDc);
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), 0u);
    EXPECT_FALSE(KillTimer(window, 1)) << "the hourly tick would force them again";
    ClearPowerCallLog();
    SendMessageW(window, WM_DESTROY, 0, 0);
    EXPECT_TRUE(PowerCallLog().empty()) << "put back twice";
    ClearPowerStandin();
}

TEST_F(TrayWindowTest, CloseMessageDestroysTheWindowThroughDefaultProcessing) {
    HWND window = Create();
    shell_.Clear();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_DELETE));
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

}  // namespace

namespace {

// The notification area of the test prefix's explorer, asked whether it holds the icon:
// a modification that changes nothing succeeds only for an icon that exists.
bool ShellHoldsIcon(HWND window) {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = NOTIFYICONDATAW_V2_SIZE;
    probe.hWnd = window;
    probe.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

// The real shell takes the records: the add succeeds once, a repeated add is refused
// while the icon exists, and the destroy handling removes it while the window lives on.
TEST(TrayWindowRealShellTest, IconAddedOnceByTheFirstTickAndRemovedByDestroy) {
    ResetSettingsKey();
    g_instance = GetModuleHandleW(nullptr);
    CreateTrayWindow(TrayLid::Posted);
    HWND window = g_trayWindow;
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(ShellHoldsIcon(window));

    MSG tick = {};
    ASSERT_TRUE(PeekMessageW(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    DispatchMessageW(&tick);
    EXPECT_TRUE(ShellHoldsIcon(window));
    EXPECT_FALSE(UpdateTrayIcon(window, 0, nullptr)) << "the shell already holds this icon";

    SendMessageW(window, WM_DESTROY, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(ShellHoldsIcon(window));

    DestroyWindow(window);
    g_trayWindow = nullptr;
    DropMessages();
}

}  // namespace
