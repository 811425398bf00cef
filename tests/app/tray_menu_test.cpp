#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tray_menu.h"
#include "app/tray_window.h"
#include "protect/protection_modes.h"
#include "res/resource.h"
#include "support/dialog_catcher.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/test_support.h"

namespace {

// The items as a user sees them: "*" marks the default (bold) item, brackets a grayed one,
// "-" a separator.
std::wstring Shown(HMENU menu) {
    std::wstring shown;
    UINT defaultId = GetMenuDefaultItem(menu, FALSE, 0);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
        item.dwTypeData = text;
        item.cch = ARRAYSIZE(text);
        GetMenuItemInfoW(menu, i, TRUE, &item);
        if (!shown.empty()) shown += L" | ";
        if (item.fType & MFT_SEPARATOR) shown += L"-";
        else if (item.fState & MFS_GRAYED) shown += L"[" + std::wstring(text) + L"]";
        else shown += (item.wID == defaultId ? L"*" : L"") + std::wstring(text);
    }
    return shown;
}

TEST(TrayMenuItems, FollowWhatTheUserMayDoAndWhetherTheLogCanBeOpened) {
    const struct { bool administrator, log; const wchar_t* shown; } rows[] = {
        {true, true, L"*&Status | S&ettings\u2026 | &More settings\u2026 | Open &log | - | E&xit Kalnix"},
        {true, false, L"*&Status | S&ettings\u2026 | &More settings\u2026 | - | E&xit Kalnix"},
        {false, true, L"[Kalnix is &disabled: logged on user is not an administrator] | Open &log"},
        {false, false, L"[Kalnix is &disabled: logged on user is not an administrator]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.administrator << row.log);
        HMENU menu = BuildTrayMenu(row.administrator, row.log);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(Shown(menu), row.shown);
        DestroyMenu(menu);
    }
}

// Watches the menu this thread opens: its items as it opens (WM_INITMENUPOPUP, sent to its
// owner), when `message` is posted to the owner, to be handled inside the menu's own loop. The
// menu is closed when that loop waits (WM_ENTERIDLE), and Waits() counts it.
class MenuWatch {
public:
    explicit MenuWatch(UINT message = 0, WPARAM wParam = 0) {
        message_ = message;
        wParam_ = wParam;
        items_.clear();
        waits_ = 0;
        hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    }
    ~MenuWatch() { UnhookWindowsHookEx(hook_); }
    MenuWatch(const MenuWatch&) = delete;
    MenuWatch& operator=(const MenuWatch&) = delete;
    const std::wstring& Items() const { return items_; }
    int Waits() const { return waits_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && call->message == WM_INITMENUPOPUP) {
            items_ = Shown(reinterpret_cast<HMENU>(call->wParam));
            if (message_) PostMessageW(call->hwnd, message_, wParam_, 0);
        } else if (code == HC_ACTION && call->message == WM_ENTERIDLE) {
            ++waits_;
            EndMenu();
        }
        return CallNextHookEx(hook_, code, wParam, lParam);
    }
    static inline HHOOK hook_ = nullptr;
    static inline UINT message_ = 0;
    static inline WPARAM wParam_ = 0;
    static inline std::wstring items_;
    static inline int waits_ = 0;
};

// Refuses every popup menu this thread tries to create, so that the menu's own loop never
// runs, and remembers where it was to show.
class MenuCatcher {
public:
    MenuCatcher() {
        count_ = 0;
        hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~MenuCatcher() { UnhookWindowsHookEx(hook_); }
    MenuCatcher(const MenuCatcher&) = delete;
    MenuCatcher& operator=(const MenuCatcher&) = delete;
    int Count() const { return count_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            wchar_t className[16] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16);
            if (wcscmp(className, L"#32768") == 0) {
                ++count_;
                return 1;
            }
        }
        return CallNextHookEx(hook_, code, wParam, lParam);
    }
    static inline HHOOK hook_ = nullptr;
    static inline int count_ = 0;
};

BOOL WINAPI MemberOnlyOfAdministrators(HANDLE token, PSID sid, PBOOL member) {
    *member = token == nullptr && IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    return TRUE;
}

std::wstring g_opened;
HRESULT WINAPI RecordOpen(const wchar_t* target) {
    g_opened = target;
    return S_OK;
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        g_instance = GetModuleHandleW(nullptr);
        SetProtectionSettings(0, AlarmDelaySeconds());
        CreateTrayWindow(TrayLid::Posted);
        ASSERT_NE(g_trayWindow, nullptr);
        DropMessages();  // the first tick
    }
    void TearDown() override {
        if (g_trayWindow && IsWindow(g_trayWindow)) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();
    }
    void Command(UINT id) { SendMessageW(g_trayWindow, WM_COMMAND, id, 0); }
    PlatformScope platform_;
    ShellRecorder shell_;
};

// Version 4 puts the event in lParam's low word and the icon's anchor in wParam. A menu the
// user leaves from the keyboard hands the focus back to the icon (NIM_SETFOCUS).
TEST_F(TrayMenuTest, ShowsOnARightClickOrTheKeyboardAtOnce) {
    const struct { WORD event; bool administrator; int menus; bool focusBack; const char* name; } rows[] = {
        {WM_CONTEXTMENU, true, 1, false, "right-click"},
        {NIN_KEYSELECT, true, 1, true, "Enter or Space on the icon"},
        {WM_CONTEXTMENU, false, 1, false, "right-click by a standard user"},
        {NIN_SELECT, true, 0, false, "left click, before the double-click time"},
        {WM_RBUTTONUP, true, 0, false, "the button's own message"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MembershipOverride check(row.administrator ? MemberOnlyOfAdministrators : NotAMember);
        MenuCatcher menus;
        shell_.Clear();
        SendMessageW(g_trayWindow, WM_USER + 1, MAKEWPARAM(200, 150), MAKELPARAM(row.event, 1));
        EXPECT_EQ(menus.Count(), row.menus);
        bool focusBack = false;
        for (const ShellCall& call : shell_.Calls()) focusBack |= call.message == NIM_SETFOCUS;
        EXPECT_EQ(focusBack, row.focusBack);
        SendMessageW(g_trayWindow, WM_TIMER, kMenuClickTimer, 0);  // a waiting click's menu, refused too
        DropMessages();
    }
}

// A left click opens the menu once the double-click time has passed (the timer's tick); a
// second click within it opens Status instead, and the menu never. The shell reports both
// clicks of a double-click as NIN_SELECT.
TEST_F(TrayMenuTest, ALeftClickOpensTheMenuAndADoubleClickOnlyStatus) {
    MembershipOverride check(MemberOnlyOfAdministrators);
    const struct { std::vector<WORD> events; int menus, dialogs; const char* name; } rows[] = {
        {{WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT}, 1, 0, "single click"},
        {{WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT, WM_LBUTTONDBLCLK, WM_LBUTTONUP, NIN_SELECT}, 0, 1, "double-click"},
        {{WM_LBUTTONDOWN, NIN_SELECT, WM_LBUTTONDBLCLK, NIN_SELECT, WM_LBUTTONDOWN, NIN_SELECT}, 1, 1,
         "double-click, then a click"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MenuCatcher menus;
        DialogCatcher dialogs;
        for (WORD event : row.events) SendMessageW(g_trayWindow, WM_USER + 1, MAKEWPARAM(200, 150), MAKELPARAM(event, 1));
        EXPECT_EQ(menus.Count(), 0) << "nothing before the double-click time";
        SendMessageW(g_trayWindow, WM_TIMER, kMenuClickTimer, 0);
        EXPECT_EQ(menus.Count(), row.menus);
        EXPECT_EQ(dialogs.Count(), row.dialogs);
        SendMessageW(g_trayWindow, WM_TIMER, kMenuClickTimer, 0);
        EXPECT_EQ(menus.Count(), row.menus) << "one click, one menu";
        DropMessages();
    }
}

// The log's item follows the log setting Kalnix goes by: Group Policy's before the local one.
TEST_F(TrayMenuTest, OpenLogIsOfferedWhileTheAppliedLogSettingIsOn) {
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const struct { DWORD local, policy; bool offered; } rows[] = {
        {1, kAbsent, true}, {0, kAbsent, false}, {1, 0, false}, {0, 1, true}};
    MembershipOverride check(MemberOnlyOfAdministrators);
    PolicyCleanup policies;
    const std::wstring log = LogPathBesideExecutable();
    HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "local " << row.local << ", policy " << row.policy);
        DeletePolicyKey();
        SetSettingDword(L"EnableLogging", row.local);
        if (row.policy != kAbsent) SetPolicyDword(L"EnableLogging", row.policy);
        MenuWatch watch;
        SendMessageW(g_trayWindow, WM_USER + 1, MAKEWPARAM(200, 150), MAKELPARAM(WM_CONTEXTMENU, 1));
        EXPECT_NE(watch.Items(), L"") << "the menu opened";
        EXPECT_EQ(watch.Items().find(L"Open &log") != std::wstring::npos, row.offered)
            << testing::PrintToString(watch.Items());
        DropMessages();
    }
    RemoveFile(log);
}

// The session's end (a log-off, a shutdown) closes an open menu, which carries out nothing.
TEST_F(TrayMenuTest, TheSessionsEndClosesAnOpenMenu) {
    MembershipOverride check(MemberOnlyOfAdministrators);
    MenuWatch watch(WM_ENDSESSION, TRUE);
    SendMessageW(g_trayWindow, WM_USER + 1, MAKEWPARAM(200, 150), MAKELPARAM(WM_CONTEXTMENU, 1));
    EXPECT_NE(watch.Items(), L"") << "the menu opened";
    EXPECT_EQ(watch.Waits(), 0) << "the menu outlived the end";
    MSG posted;
    EXPECT_FALSE(PeekMessageW(&posted, g_trayWindow, WM_COMMAND, WM_COMMAND, PM_NOREMOVE)) << "no command follows";
    DropMessages();
}

// A standard user's menu offers none of them; asked for all the same, they open nothing.
TEST_F(TrayMenuTest, StatusSettingsAndMoreSettingsOpenTheirDialogsOverTheTrayWindow) {
    const struct { UINT id; bool administrator; const wchar_t* caption; } rows[] = {
        {IDM_STATUS, true, L"Kalnix"},
        {IDM_SETTINGS, true, L"Settings"},
        {IDM_MORE_SETTINGS, true, L"More settings"},
        {IDM_SETTINGS, false, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.id << row.administrator);
        MembershipOverride check(row.administrator ? MemberOnlyOfAdministrators : NotAMember);
        DialogCatcher dialogs;
        Command(row.id);
        EXPECT_EQ(dialogs.Count(), row.caption ? 1 : 0);
        if (!row.caption) continue;
        EXPECT_EQ(dialogs.Caption(), row.caption);
        EXPECT_EQ(dialogs.Owner(), g_trayWindow);
    }
}

// An open modal dialog has disabled its owner, the tray window: a command brings that dialog
// forward rather than open a second one or end Kalnix under it, past the dialog's own close.
TEST_F(TrayMenuTest, WhileADialogIsOpenNeitherAnotherOpensNorKalnixEnds) {
    MembershipOverride check(MemberOnlyOfAdministrators);
    EnableWindow(g_trayWindow, FALSE);
    for (UINT id : {IDM_SETTINGS, IDM_EXIT}) {
        SCOPED_TRACE(id);
        DialogCatcher dialogs;
        Command(id);
        EXPECT_EQ(dialogs.Count(), 0);
        EXPECT_TRUE(IsWindow(g_trayWindow));
    }
}

// The log opens for the user at the desktop, never in an elevated editor.
TEST_F(TrayMenuTest, OpenLogHandsTheLogBesideKalnixToTheDesktop) {
    g_shellSeam.openThroughDesktopShell = RecordOpen;
    g_opened.clear();
    SetSettingDword(L"EnableLogging", 1);
    const std::wstring log = LogPathBesideExecutable();
    RemoveFile(log);
    Command(IDM_OPEN_LOG);
    EXPECT_TRUE(g_opened.empty()) << "no log, nothing to open";
    HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    Command(IDM_OPEN_LOG);
    EXPECT_EQ(g_opened, log);
    RemoveFile(log);
}

}  // namespace
