// Installing over an earlier installation: a running Kalnix, flags left forced, an installation
// from before the protection service, and (on 64-bit Windows) an earlier 32-bit Kalnix.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "installer_fixture.h"
#include "support/installed_kalnix.h"
#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

TEST_F(Reinstall, OverARunningKalnixKeepsTheUsersSettingsAndEndsIt) {
    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_EQ(1u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(15u, GetSettingDword(L"AlarmTime", 0));
    StartKalnixAsTheTaskWould();

    SetSettingDword(L"Action", 2);
    SetSettingDword(L"AlarmTime", 33);
    SetSettingDword(L"EnableLogging", 1);
    SetSettingDword(L"HideTrayIcon", 1);
    SetSettingDword(L"RestAfter", 30);
    // As an installation from before the setting existed left it.
    DeleteSettingValue(L"HibernateAfter");
    // NSIS would write over a file in place, keeping its owner, its permissions and whoever
    // holds it open: a Kalnix.exe held open (here by this test) cannot be deleted, and setup
    // stops rather than write into it.
    const std::wstring exe = InstallDir() + L"\\Kalnix.exe";
    HANDLE held = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(4u, RunSetup(L"/S"));
    CloseHandle(held);
    // The earlier installation's service protects on.
    EXPECT_TRUE(SetupLogHas(("Could not replace " + std::string(exe.begin(), exe.end()) +
                             ": it could not be deleted.\r\nStartProtectionService: the earlier protection service "
                             "runs again.\r\nInstallation failed.\r\n")
                                .c_str()));
    ExpectOneProtectionService(InstallDir());
    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(1u, GetSettingDword(L"EnableLogging", 0));
    EXPECT_EQ(1u, GetSettingDword(L"HideTrayIcon", 0));
    EXPECT_EQ(30u, GetSettingDword(L"RestAfter", 0));
    EXPECT_EQ(60u, GetSettingDword(L"HibernateAfter", 0)) << "a missing setting gets its first value";
    EXPECT_TRUE(SetupLogHas("TerminateUIProcess: a running Kalnix was stopped.\r\n"));
    EXPECT_EQ(std::vector<DWORD>{ExpectOneProtectionService(InstallDir())}, KalnixProcessIds());

    // An option on the command line is the administrator's explicit choice: it wins.
    ASSERT_EQ(0u, RunSetup(L"/S /ALARMTIME=5"));
    EXPECT_EQ(5u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
}

// Ended without its own teardown (terminated by a setup program run as SYSTEM, a log-off, a
// crash), Kalnix leaves the flags forced: a reinstallation must not save them as the user's.
// Here an installation of before the protection service, whose Kalnix protected by itself.
TEST_F(Reinstall, AfterKalnixWasEndedWithTheFlagsForcedKeepsTheSavedOnes) {
    ASSERT_EQ(0u, RunSetup(L"/S /MODE=1"));
    TakeTheProtectionServiceAway();
    StartKalnixAsTheTaskWould();
    ASSERT_TRUE(WaitUntil([] { return ReadLidFlags() == kForcedFlags; }, 10000));
    ASSERT_TRUE(KillKalnixProcesses());
    ASSERT_TRUE(ReadLidFlags() == kForcedFlags);

    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_TRUE(SetupLogHas("SavePowerSettings skipped: the lid-close flags saved earlier are kept.\r\n"));
    EXPECT_EQ(kUserFlags.ac, GetSettingDword(L"PowerSettings1", 0));
    EXPECT_EQ(kUserFlags.dc, GetSettingDword(L"PowerSettings2", 0));
    ExpectOneProtectionService(InstallDir());

    ASSERT_TRUE(RunUninstallAndWait());
    EXPECT_TRUE(PolicyIsTheUsers()) << "the user's own policy comes back byte for byte";
}

// Over an installation of before the protection service (as it leaves everything but the
// service), whose Kalnix runs elevated, as every program does under Wine: each setting and
// saved value is kept, that Kalnix ended, and only the service runs Kalnix.exe.
TEST_F(Reinstall, OverAnInstallationWithoutTheServiceLeavesOnlyTheServiceRunningAndKeepsEverySetting) {
    ASSERT_EQ(0u, RunSetup(L"/S /MODE=2"));
    TakeTheProtectionServiceAway();
    SetSettingDword(L"AlarmTime", 33);
    SetSettingDword(L"RestAfter", 30);
    StartKalnixAsTheTaskWould();
    const std::vector<DWORD> earlier = KalnixProcessIds();
    ASSERT_EQ(1u, earlier.size());

    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_TRUE(SetupLogHas("TerminateUIProcess: a running Kalnix was stopped.\r\n"));
    const DWORD service = ExpectOneProtectionService(InstallDir());
    EXPECT_NE(earlier[0], service);
    EXPECT_EQ(std::vector<DWORD>{service}, KalnixProcessIds()) << "the earlier Kalnix is ended";
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(30u, GetSettingDword(L"RestAfter", 0));
    EXPECT_EQ(kUserFlags.ac, GetSettingDword(L"PowerSettings1", 0));
    EXPECT_EQ(kUserFlags.dc, GetSettingDword(L"PowerSettings2", 0));
    EXPECT_EQ(L"Kalnix", ReadMachineString(kUninstallKey, L"DisplayName"));
    EXPECT_TRUE(PolicyIsTheUsers()) << "the lid alarm keeps the user's own flags";
}

#ifdef _WIN64
// What an earlier 32-bit Kalnix left on 64-bit Windows: its files in Program Files (x86), its
// settings, Run value and Apps & Features entry in the 32-bit registry view.
void StageEarlierX86Install(const std::wstring& folder) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", folder + L"\\Kalnix.exe"));
    ASSERT_TRUE(CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", folder + L"\\Uninstall.exe"));
    auto write = [](const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY handle;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                                 nullptr, &handle, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(handle);
    };
    const DWORD action = 2, alarmTime = 30, restAfter = 120, doNothing = kLidCloseDoNothing;
    write(L"Software\\Kalnix", L"Action", REG_DWORD, &action, sizeof(action));
    write(L"Software\\Kalnix", L"AlarmTime", REG_DWORD, &alarmTime, sizeof(alarmTime));
    write(L"Software\\Kalnix", L"RestAfter", REG_DWORD, &restAfter, sizeof(restAfter));
    write(L"Software\\Kalnix", L"PowerSettings1", REG_DWORD, &kUserFlags.ac, sizeof(DWORD));
    write(L"Software\\Kalnix", L"PowerSettings2", REG_DWORD, &kUserFlags.dc, sizeof(DWORD));
    write(L"Software\\Kalnix", L"LidCloseScheme", REG_BINARY, &kBalancedScheme, sizeof(kBalancedScheme));
    write(L"Software\\Kalnix", L"LidCloseAction", REG_DWORD, &doNothing, sizeof(doNothing));
    std::wstring location = folder, run = L"\"" + folder + L"\\Kalnix.exe\"";
    write(kUninstallKey, L"InstallLocation", REG_SZ, location.c_str(), DWORD((location.size() + 1) * sizeof(wchar_t)));
    write(kRunKey, L"Kalnix", REG_SZ, run.c_str(), DWORD((run.size() + 1) * sizeof(wchar_t)));
}

bool KeyExistsIn32BitView(const wchar_t* key) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// The 32-bit Kalnix forced the flags and the lid-close action and was running where the setup
// program cannot see its window (run as SYSTEM): the 64-bit one takes over its settings,
// including the user's own saved flags and action, and leaves one installation.
TEST_F(SilentInstall, OverAnEarlier32BitKalnixTakesItsSettingsOverAndLeavesOneInstallation) {
    wchar_t programFilesX86[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86, MAX_PATH), 0u);
    const std::wstring x86Folder = std::wstring(programFilesX86) + L"\\Kalnix";
    StageEarlierX86Install(x86Folder);
    PresetPowerPolicy(PatternedPowerPolicy(kForcedFlags.ac, kForcedFlags.dc));
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseSleep);
    // Set by Group Policy, say: a later choice than the 32-bit Kalnix's.
    SetSettingDword(L"RestAfter", 90);
    HDESK desktop = CreateDesktopW(L"KalnixX86Elsewhere", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(nullptr, desktop);
    KalnixProcess earlier;
    ASSERT_TRUE(earlier.StartProgram(x86Folder + L"\\Kalnix.exe", L"", L"KalnixX86Elsewhere"));

    EXPECT_EQ(0u, RunSetup(L"/S"));
    earlier.ExitCode(10000);
    EXPECT_FALSE(earlier.Running()) << "the earlier Kalnix was ended";
    CloseDesktop(desktop);
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0)) << "the user's mode is kept";
    EXPECT_EQ(30u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(kUserFlags.ac, GetSettingDword(L"PowerSettings1", 0)) << "not the forced flags saved anew";
    EXPECT_EQ(kUserFlags.dc, GetSettingDword(L"PowerSettings2", 0));
    EXPECT_EQ(90u, GetSettingDword(L"RestAfter", 0)) << "a value the 64-bit key had is kept";
    EXPECT_TRUE(SetupLogHas("SavePowerSettings skipped"));
    StartKalnixAsTheTaskWould();
    // Only the 64-bit key can give the 64-bit Kalnix the user's saved action, which it puts
    // back in the lid alarm.
    auto batteryAction = [] { return StandinLidCloseAction(kBalancedScheme, true, 99); };
    EXPECT_TRUE(WaitUntil([&] { return batteryAction() == kLidCloseDoNothing; }, 15000)) << batteryAction();
    // The saved action goes right after it is put back: waited for, as the write comes first.
    EXPECT_TRUE(WaitUntil([] { return !SettingExists(L"LidCloseScheme"); }, 5000)) << "put back, no longer saved";
    EXPECT_FALSE(KeyExistsIn32BitView(L"Software\\Kalnix"));
    EXPECT_FALSE(KeyExistsIn32BitView(kUninstallKey));
    HKEY run;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_WOW64_32KEY, &run));
    EXPECT_NE(ERROR_SUCCESS, RegQueryValueExW(run, L"Kalnix", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(run);
    EXPECT_FALSE(FileExists(x86Folder));
    EXPECT_TRUE(MachineKeyExists(kUninstallKey));
    ExpectOneProtectionService(InstallDir());
    EXPECT_EQ(2u, KalnixProcessIds().size()) << "the service and its Kalnix of this session";
}

// The 32-bit Kalnix's files are deleted by path: where a user could have changed its folder
// (here, its log is a second name of a user's file), the folder is left as it is.
TEST_F(SilentInstall, LeavesAnEarlier32BitFolderAUserCouldHaveChangedWithExitCode5) {
    wchar_t programFilesX86[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86, MAX_PATH), 0u);
    const std::wstring x86Folder = std::wstring(programFilesX86) + L"\\Kalnix", usersFile = L"C:\\users-file.log";
    StageEarlierX86Install(x86Folder);
    ASSERT_TRUE(CopyFileTo(KALNIX_TEST_BIN_DIR_W L"\\installer_inert_tool.exe", usersFile));
    ASSERT_TRUE(CreateHardLinkW((x86Folder + L"\\Kalnix.log").c_str(), usersFile.c_str(), nullptr));

    EXPECT_EQ(5u, RunSetup(L"/S"));
    std::string folder(x86Folder.begin(), x86Folder.end());
    EXPECT_TRUE(SetupLogHas(("The 32-bit Kalnix's folder " + folder + " is left as it is: " + folder +
                             " holds Kalnix.log, which has 2 names (hard links).\r\n")
                                .c_str()));
    EXPECT_TRUE(FileExists(x86Folder + L"\\Kalnix.exe"));
    EXPECT_TRUE(FileExists(x86Folder + L"\\Uninstall.exe"));
    EXPECT_TRUE(FileExists(usersFile));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0)) << "its settings are still taken over";
    EXPECT_EQ(L"<missing>", ReadMachineString(kRunKey, L"Kalnix"));
    EXPECT_FALSE(KeyExistsIn32BitView(kUninstallKey));
    EXPECT_TRUE(FileExists(InstallDir() + L"\\Kalnix.exe")) << "installed all the same";
}
#endif

}  // namespace
