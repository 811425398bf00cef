#include "tray_record.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "app/app_state.h"
#include "app/tray_icon.h"
#include "app/tray_icon_image.h"
#include "app/window_dpi.h"
#include "res/resource.h"
#include "support/arch_facts.h"
#include "support/icon_pixels.h"
#include "support/platform_fakes.h"
#include "support/test_support.h"

namespace {

constexpr const wchar_t* kNotAdministratorTip = L"Kalnix is disabled\nLogged on user is not an administrator";

TEST_F(TrayIconTest, EachStateSendsItsIconAndTooltip) {
    const struct { int state; UINT icon; const wchar_t* tip; } rows[] = {
        {0, IDI_TRAY_ENABLED, L"Kalnix is enabled"},
        {1, IDI_TRAY_DISABLED, L"Kalnix is disabled"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        EXPECT_TRUE(UpdateTrayIcon(kWindow, row.state, nullptr));
        ExpectSameRecord(Added(), ExpectedRecord(kWindow, row.tip), row.icon);
    }
}

TEST_F(TrayIconTest, StateTwoRepeatsTheLastShownStateWithItsPlainTooltip) {
    UpdateTrayIcon(kWindow, 1, kNotAdministratorTip);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, kNotAdministratorTip), IDI_TRAY_DISABLED);
    UpdateTrayIcon(kWindow, 2, nullptr);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"Kalnix is disabled"), IDI_TRAY_DISABLED);
    UpdateTrayIcon(kWindow, 0, nullptr);
    Added();
    UpdateTrayIcon(kWindow, 2, nullptr);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"Kalnix is enabled"), IDI_TRAY_ENABLED);
}

TEST_F(TrayIconTest, UnknownStateSendsNoIconNorTooltipAndKeepsTheLastState) {
    UpdateTrayIcon(kWindow, 1, nullptr);
    Added();
    UpdateTrayIcon(kWindow, 5, nullptr);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L""), 0);
    UpdateTrayIcon(kWindow, 7, L"caller text");
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"caller text"), 0);
    UpdateTrayIcon(kWindow, 2, nullptr);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"Kalnix is disabled"), IDI_TRAY_DISABLED);
}

TEST_F(TrayIconTest, ResultIsTheShellsAnswerToTheAdd) {
    ShellRecorder refusing(FALSE);
    EXPECT_FALSE(UpdateTrayIcon(kWindow, 0, nullptr));
    EXPECT_EQ(refusing.Calls().size(), 2u);
    SetSettingDword(L"HideTrayIcon", 1);
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr)) << "a suppressed icon counts as success";
}

TEST_F(TrayIconTest, HiddenIconSendsNothingAndKeepsBalloonAndLastState) {
    UpdateTrayIcon(kWindow, 1, nullptr);
    Added();
    wcscpy(g_pendingBalloonText, L"pending");
    SetSettingDword(L"HideTrayIcon", 1);
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, L"ignored"));
    EXPECT_TRUE(shell_.Calls().empty());
    EXPECT_EQ(std::wstring(g_pendingBalloonText), L"pending");

    // Only exactly 1 hides; the suppressed state 0 above did not become the last state.
    SetSettingDword(L"HideTrayIcon", 2);
    UpdateTrayIcon(kWindow, 2, nullptr);
    NOTIFYICONDATAW record = Added();
    EXPECT_TRUE(IconShows(record.hIcon, IDI_TRAY_DISABLED));
    EXPECT_EQ(std::wstring(record.szInfo), L"pending");
    EXPECT_EQ(g_pendingBalloonText[0], L'\0');
}

// Group Policy's HideTrayIcon wins over the local value at every update, read quietly: with
// a policy, a missing local value is no failure to log.
TEST_F(TrayIconTest, APolicyDecidesWhetherTheIconShows) {
    PolicyCleanup policies;
    SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
    SetPolicyDword(L"HideTrayIcon", 1);
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    EXPECT_TRUE(shell_.Calls().empty()) << "hidden by policy, shown locally";
    SetPolicyDword(L"HideTrayIcon", 0);
    SetSettingDword(L"HideTrayIcon", 1);
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    Added();
    DeleteSettingValue(L"HideTrayIcon");
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    Added();
    EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), "");
    EXPECT_EQ(GetPolicyDword(L"HideTrayIcon", 7), 0u);
}

TEST_F(TrayIconTest, LongTextsAreCutToTheirFields) {
    const struct { size_t length; size_t shown; } rows[] = {{126, 126}, {127, 127}, {128, 127}, {2000, 127}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        std::wstring text(row.length, L'x');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(L'a' + i % 26);
        UpdateTrayIcon(kWindow, 0, text.c_str());
        NOTIFYICONDATAW record = Added();
        EXPECT_EQ(std::wstring(record.szTip), text.substr(0, row.shown));
        EXPECT_EQ(record.dwState, 0u);  // the member after the tooltip is untouched
        EXPECT_EQ(record.dwStateMask, 0u);
    }

    // The longest pending balloon text fits whole, title beside it intact.
    std::wstring balloon(kBalloonTextChars - 1, L'b');
    wcscpy(g_pendingBalloonText, balloon.c_str());
    UpdateTrayIcon(kWindow, 0, nullptr);
    NOTIFYICONDATAW record = Added();
    EXPECT_EQ(std::wstring(record.szInfo), balloon);
    EXPECT_EQ(std::wstring(record.szInfoTitle), L"Kalnix");
}

TEST_F(TrayIconTest, UnreadableHideSettingIsLoggedAtEveryUpdateAndTheIconShown) {
    DeleteSettingValue(L"HideTrayIcon");
    SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    Added();
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    Added();
    EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), "RQVE Failed: 2\r\n\r\nRQVE Failed: 2\r\n\r\n");

    // Without the key nothing can be read, not even the log gate: icon shown, no log.
    RemoveFile(LogPathBesideExecutable());
    DeleteSettingsKey();
    EXPECT_TRUE(UpdateTrayIcon(kWindow, 0, nullptr));
    Added();
    EXPECT_FALSE(FileExists(LogPathBesideExecutable()));
}

TEST_F(TrayIconTest, DeleteSendsOnlySizeWindowAndIdEvenIfNeverShown) {
    SetSettingDword(L"HideTrayIcon", 1);  // not consulted
    g_trayWindow = kWindow;
    DeleteTrayIcon();
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_DELETE));
    NOTIFYICONDATAW expected = {};
    expected.cbSize = kArch.notifyRecordFullSize;
    expected.hWnd = kWindow;
    expected.uID = 1;
    EXPECT_EQ(std::memcmp(&shell_.Calls()[0].record, &expected, sizeof(expected)), 0);
}

TEST_F(TrayIconTest, NoteBecomesTheTooltipsSecondLineNowAndAtLaterUpdates) {
    g_trayWindow = kWindow;
    UpdateTrayIcon(kWindow, 0, nullptr);
    shell_.Clear();
    SetTrayNote(L"Cannot sense a lid");
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell_.Calls()[0].record.uFlags, static_cast<UINT>(NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(std::wstring(shell_.Calls()[0].record.szTip), L"Kalnix is enabled\nCannot sense a lid");
    shell_.Clear();

    UpdateTrayIcon(kWindow, 2, nullptr);  // a shell restart adds the icon again
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"Kalnix is enabled\nCannot sense a lid"), IDI_TRAY_ENABLED);
    UpdateTrayIcon(kWindow, 1, L"caller's text");
    EXPECT_EQ(std::wstring(Added().szTip), L"caller's text") << "a caller's text replaces the whole tooltip";

    SetTrayNote(nullptr);
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(std::wstring(shell_.Calls()[0].record.szTip), L"Kalnix is disabled");
    shell_.Clear();
    UpdateTrayIcon(kWindow, 0, nullptr);
    EXPECT_EQ(std::wstring(Added().szTip), L"Kalnix is enabled");
}

// The notification area shows the small-icon size of the display's scale, each drawn at that
// size: at the system's DPI LoadIconMetric's once the common controls are in the process (as
// after a dialog), before that and at another DPI the resource's own image of the size. The
// case without them runs in a child copy, where no earlier test has loaded them.
constexpr const wchar_t* kNoControlsChild = L"KALNIX_NO_CONTROLS_CHILD";

TEST(TrayIconPicture, EachScaleGetsTheImageOfItsSmallIconSize) {
    const bool controls = !IsChildRun(kNoControlsChild);
    if (controls) {
        EXPECT_EQ(RunChildCopy(kNoControlsChild, L"TrayIconPicture.*", 60000), 0u);
    }
    SCOPED_TRACE(controls ? "common controls loaded" : "no common controls");
    g_instance = GetModuleHandleW(nullptr);
    ASSERT_EQ(SystemDpi(), 96u) << "the test prefix runs at 100 %";
    HMODULE library = controls ? LoadLibraryW(L"comctl32.dll") : nullptr;
    ASSERT_EQ(GetModuleHandleW(L"comctl32.dll") != nullptr, controls);
    const struct { UINT dpi; int edge; } rows[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}, {240, 40}, {288, 48},
                                                   {384, 64}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dpi);
        for (UINT resource : {IDI_TRAY_ENABLED, IDI_TRAY_DISABLED_LIGHT, IDI_TRAY_ENABLED_CONTRAST}) {
            HICON icon = LoadSmallIcon(resource, row.dpi);
            EXPECT_EQ(IconEdge(icon), row.edge);
            EXPECT_TRUE(IconShows(icon, resource));
            if (icon) DestroyIcon(icon);
        }
    }
    if (library) FreeLibrary(library);
}

UINT WINAPI DisplayAt200Percent(HWND) { return 192; }

// The display's scale changed since sign-in (the system's DPI stays at its sign-in value): the
// icon is drawn for the window's DPI, which is the taskbar's now.
TEST_F(TrayIconTest, PictureFollowsTheWindowsDpiNotTheSystems) {
    ASSERT_EQ(SystemDpi(), 96u);
    PlatformScope scope;
    g_displaySeam.dpiForWindow = DisplayAt200Percent;
    g_trayWindow = kWindow;
    UpdateTrayIcon(kWindow, 0, nullptr);
    NOTIFYICONDATAW added = Added();
    EXPECT_EQ(IconEdge(added.hIcon), 32);
    EXPECT_TRUE(IconShows(added.hIcon, IDI_TRAY_ENABLED));
    ReloadTrayIcon();
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(IconEdge(shell_.Calls()[0].record.hIcon), 32);
    DeleteTrayIcon();
}

// The last tray state starts as enabled; only a process that has shown no state yet can
// show that, so the check runs in a child copy of this program.
constexpr const wchar_t* kFirstUpdateChild = L"KALNIX_FIRST_UPDATE_CHILD";

TEST(TrayIconFirstUpdate, StateTwoBeforeAnyStateShowsEnabled) {
    if (IsChildRun(kFirstUpdateChild)) {
        ResetSettingsKey();
        g_instance = GetModuleHandleW(nullptr);
        ShellRecorder shell;
        UpdateTrayIcon(kWindow, 2, nullptr);
        ASSERT_EQ(shell.Calls().size(), 2u);
        EXPECT_EQ(shell.Calls()[0].message, static_cast<DWORD>(NIM_ADD));
        ExpectSameRecord(shell.Calls()[0].record, ExpectedRecord(kWindow, L"Kalnix is enabled"), IDI_TRAY_ENABLED);
        return;
    }
    EXPECT_EQ(RunChildCopy(kFirstUpdateChild, L"TrayIconFirstUpdate.*", 60000), 0u);
}

}  // namespace
