#include "tray_record.h"

#include <cwchar>
#include <string>

#include "app/app_state.h"
#include "app/tray_icon.h"
#include "res/resource.h"
#include "support/arch_facts.h"
#include "support/platform_fakes.h"
#include "support/test_support.h"

namespace {

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

// A balloon changes the shown icon: NIM_MODIFY with only its own members. Kalnix's own
// balloons come unasked (a rest, a standby's drain, why the laptop stayed awake): they wait
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
    HICON icon = shell_.Calls()[0].record.hBalloonIcon;
    DeleteTrayIcon();
    EXPECT_TRUE(IconImage(icon).empty()) << "the balloon's icon outlives the tray icon";

    shell_.Clear();
    SetSettingDword(L"HideTrayIcon", 1);
    ShowTrayBalloon(L"hidden");
    EXPECT_TRUE(shell_.Calls().empty()) << "no icon, no balloon";
}

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
