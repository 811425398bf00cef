#include <gtest/gtest.h>

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

// Any handle will do: the record only carries it to the shell.
const HWND kWindow = reinterpret_cast<HWND>(0x1230);

constexpr const wchar_t* kNotAdministratorTip = L"Kalnix is disabled\nLogged on user is not an administrator";

// The record the shell must see for a shown state, its icon aside (a picture loaded for each
// update, which ExpectSameRecord compares by its pixels); every member not set here is zero.
// Under version 4 the standard tooltip shows only when asked for.
NOTIFYICONDATAW ExpectedRecord(HWND window, const wchar_t* tip) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kArch.notifyRecordFullSize;
    record.hWnd = window;
    record.uID = 1;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    record.uCallbackMessage = WM_USER + 1;
    wcsncpy(record.szTip, tip, 127);
    return record;
}

// The shell keeps the callback version per icon: set, on its own, once the icon exists.
NOTIFYICONDATAW VersionRecord(HWND window) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kArch.notifyRecordFullSize;
    record.hWnd = window;
    record.uID = 1;
    record.uVersion = NOTIFYICON_VERSION_4;
    return record;
}

// The pixels of an icon's colour image, with its size.
std::string IconImage(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return {};
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    std::string bytes(static_cast<size_t>(bitmap.bmWidthBytes) * bitmap.bmHeight, '\0');
    GetBitmapBits(info.hbmColor, static_cast<LONG>(bytes.size()), &bytes[0]);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return std::to_string(bitmap.bmWidth) + "x" + std::to_string(bitmap.bmHeight) + ":" + bytes;
}

// Kalnix's own application icon, at the size of a balloon's large icon.
std::string LargeKalnixIcon() {
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KALNIX), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    std::string image = IconImage(icon);
    DestroyIcon(icon);
    return image;
}

// A balloon carries Kalnix's own large icon; the expected record then takes its handle.
void ExpectKalnixBalloonIcon(const NOTIFYICONDATAW& actual, NOTIFYICONDATAW& expected) {
    EXPECT_NE(actual.hBalloonIcon, nullptr);
    EXPECT_EQ(IconImage(actual.hBalloonIcon), LargeKalnixIcon()) << "not Kalnix's icon at the large size";
    expected.hBalloonIcon = actual.hBalloonIcon;
}

// `icon`: the resource whose picture the record must carry (0: no icon at all).
void ExpectSameRecord(const NOTIFYICONDATAW& sent, const NOTIFYICONDATAW& expected, UINT icon) {
    if (icon) EXPECT_TRUE(IconShows(sent.hIcon, icon)) << "not the picture of icon " << icon;
    else EXPECT_EQ(sent.hIcon, nullptr);
    NOTIFYICONDATAW actual = sent;
    actual.hIcon = nullptr;
    EXPECT_EQ(actual.cbSize, expected.cbSize);
    EXPECT_EQ(actual.hWnd, expected.hWnd);
    EXPECT_EQ(actual.uID, expected.uID);
    EXPECT_EQ(actual.uFlags, expected.uFlags);
    EXPECT_EQ(actual.uCallbackMessage, expected.uCallbackMessage);
    EXPECT_EQ(std::wstring(actual.szTip), std::wstring(expected.szTip));
    EXPECT_EQ(actual.uVersion, expected.uVersion);
    EXPECT_EQ(std::wstring(actual.szInfo), std::wstring(expected.szInfo));
    EXPECT_EQ(std::wstring(actual.szInfoTitle), std::wstring(expected.szInfoTitle));
    EXPECT_EQ(actual.dwInfoFlags, expected.dwInfoFlags);
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(actual)), 0) << "a member the shell reads differs";
}

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"HideTrayIcon", 0);
        g_instance = GetModuleHandleW(nullptr);
        g_pendingBalloonText[0] = L'\0';
    }
    void TearDown() override {
        g_pendingBalloonText[0] = L'\0';
        g_trayWindow = nullptr;
        RemoveFile(LogPathBesideExecutable());
    }
    // The update's two requests, the add and then the icon's version; returns the add's record.
    NOTIFYICONDATAW Added() {
        const auto& calls = shell_.Calls();
        EXPECT_EQ(calls.size(), 2u);
        if (calls.size() != 2) return {};
        EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_SETVERSION));
        NOTIFYICONDATAW version = VersionRecord(calls[0].record.hWnd);
        EXPECT_EQ(std::memcmp(&calls[1].record, &version, sizeof(NOTIFYICONDATAW)), 0) << "version 4, and nothing else";
        NOTIFYICONDATAW record = calls[0].record;
        shell_.Clear();
        return record;
    }
    ShellRecorder shell_;
};

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

TEST_F(TrayIconTest, PendingBalloonIsOfferedWithTheFirstUpdateOnly) {
    wcscpy(g_pendingBalloonText, kFreshStartBalloon);
    UpdateTrayIcon(kWindow, 0, nullptr);
    NOTIFYICONDATAW expected = ExpectedRecord(kWindow, L"Kalnix is enabled");
    expected.uFlags |= NIF_INFO;
    expected.uTimeout = 10000;
    wcscpy(expected.szInfo,
           L"Kalnix is now running and protecting your laptop.\nDouble click on tray icon for settings.");
    wcscpy(expected.szInfoTitle, L"Kalnix");
    // It follows the user's own installation: shown at once, also in Windows' quiet time.
    expected.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
    NOTIFYICONDATAW added = Added();
    ExpectKalnixBalloonIcon(added, expected);
    ExpectSameRecord(added, expected, IDI_TRAY_ENABLED);
    EXPECT_EQ(g_pendingBalloonText[0], L'\0');

    UpdateTrayIcon(kWindow, 0, nullptr);
    ExpectSameRecord(Added(), ExpectedRecord(kWindow, L"Kalnix is enabled"), IDI_TRAY_ENABLED);
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

// The balloon and the note change the shown icon: NIM_MODIFY with only its own members. Kalnix's
// own balloons come unasked (a rest, a standby's drain, why the laptop stayed awake): they wait
// while Windows keeps a user's first hour quiet.
TEST_F(TrayIconTest, BalloonModifiesTheShownIconWithTitleTextTimeoutAndKalnixsIcon) {
    g_trayWindow = kWindow;
    ShowTrayBalloon(L"The lid alarm rings");
    ASSERT_EQ(shell_.Calls().size(), 1u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_MODIFY));
    NOTIFYICONDATAW expected = {};
    expected.cbSize = kArch.notifyRecordFullSize;
    expected.hWnd = kWindow;
    expected.uID = 1;
    expected.uFlags = NIF_INFO;
    expected.uTimeout = 10000;
    expected.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON | NIIF_RESPECT_QUIET_TIME;
    wcscpy(expected.szInfo, L"The lid alarm rings");
    wcscpy(expected.szInfoTitle, L"Kalnix");
    ExpectKalnixBalloonIcon(shell_.Calls()[0].record, expected);
    ExpectSameRecord(shell_.Calls()[0].record, expected, 0);

    shell_.Clear();
    SetSettingDword(L"HideTrayIcon", 1);
    ShowTrayBalloon(L"hidden");
    EXPECT_TRUE(shell_.Calls().empty()) << "no icon, no balloon";
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
// after a dialog), before that and at another DPI the resource's own image of the size.
TEST(TrayIconPicture, EachScaleGetsTheImageOfItsSmallIconSize) {
    g_instance = GetModuleHandleW(nullptr);
    ASSERT_EQ(SystemDpi(), 96u) << "the test prefix runs at 100 %";
    const struct { UINT dpi; int edge; } rows[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}, {240, 40}, {288, 48},
                                                   {384, 64}};
    for (bool controls : {false, true}) {
        SCOPED_TRACE(controls ? "common controls loaded" : "no common controls");
        HMODULE library = controls ? LoadLibraryW(L"comctl32.dll") : nullptr;
        ASSERT_EQ(GetModuleHandleW(L"comctl32.dll") != nullptr, controls);
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

namespace {

// Shells before Windows Vista take the version-2 record, without the balloon's own icon, and
// know neither the large icon nor quiet time: their balloons keep the information icon. Wine
// reports an older Windows to a program named under its AppDefaults, read at the start, so
// the check runs in a child copy.
constexpr const wchar_t* kOlderShellChild = L"KALNIX_OLDER_SHELL_CHILD";

std::wstring AppDefaultsKey() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = wcsrchr(path, L'\\');
    return std::wstring(L"Software\\Wine\\AppDefaults\\") + (name ? name + 1 : path);
}

TEST(TrayIconOlderShell, GetsTheVersionTwoRecordAndTheInformationIcon) {
    if (IsChildRun(kOlderShellChild)) {
        ResetSettingsKey();
        g_instance = GetModuleHandleW(nullptr);
        g_trayWindow = kWindow;
        ShellRecorder shell;
        wcscpy(g_pendingBalloonText, kFreshStartBalloon);
        UpdateTrayIcon(kWindow, 0, nullptr);
        ShowTrayBalloon(L"The lid alarm rings");
        const auto& calls = shell.Calls();
        ASSERT_EQ(calls.size(), 3u);
        for (const ShellCall& call : calls) EXPECT_EQ(call.record.cbSize, kArch.notifyRecordSize);
        EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
        EXPECT_EQ(calls[0].record.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
        EXPECT_EQ(calls[2].record.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
        return;
    }
    const std::wstring key = AppDefaultsKey();
    const wchar_t* version = sizeof(void*) == 8 ? L"winxp64" : L"winxp";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version,
                              static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    DWORD result = RunChildCopy(kOlderShellChild, L"TrayIconOlderShell.*", 60000);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version");
    EXPECT_EQ(result, 0u);
}

}  // namespace
