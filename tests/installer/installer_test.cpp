// KalnixSetup-<arch>.exe and its uninstaller, run silently as a fleet would. Each test runs in a
// fresh copy of a pristine Wine prefix (fresh-prefix.sh) whose system32 holds the stand-in
// power profile library, so this program, the setup program, Kalnix.exe and the uninstaller
// all see the same global power policy.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "support/installed_kalnix.h"
#include "support/kalnix_process.h"
#include "support/lid_driver.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalnix";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalnix";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring SystemPath(const wchar_t* tail) {
    wchar_t buffer[MAX_PATH] = {};
    GetSystemDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer) + tail;
}

DWORD RunSetup(const wchar_t* program, const std::wstring& options) {
    return RunAndWait(L"\"" + std::wstring(program) + L"\" " + options, 120000);
}
DWORD RunSetup(const std::wstring& options) { return RunSetup(KALNIX_SETUP_W, options); }
DWORD RunSetupWithDriver(const std::wstring& options) {
    return RunSetup(KALNIX_TEST_BIN_DIR_W L"\\KalnixSetupWithDriver.exe", options);
}

// The uninstaller hands over to a temporary copy of itself and returns at once; removing the
// install folder is its last file step, the Apps & Features entry its very last.
bool RunUninstallAndWait(const std::wstring& folder = InstallDir()) {
    if (RunAndWait(L"\"" + folder + L"\\Uninstall.exe\" /S", 30000) != 0) return false;
    return WaitUntil([folder] {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return false;
        }
        return !FileExists(folder);
    }, 60000);
}

DWORD ReadDword(HKEY root, const wchar_t* key, const wchar_t* value) {
    DWORD data = 0xDEADBEEF, size = sizeof(data);
    RegGetValueW(root, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size);
    return data;
}

// Every test starts from the user's own power policy, which the protection service sees too.
class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PresetUserPolicy();
        LetServicesUseThePowerStandin();
    }
};
using SilentInstall = InstallerTest;
using Reinstall = InstallerTest;
using SilentUninstall = InstallerTest;
using BadOptions = InstallerTest;

// SERVICE_RUNNING, SERVICE_STOPPED, ..., or 0 when there is no service "Kalnix".
DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    DWORD state = 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"Kalnix", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool SetupLogHas(const char* line) { return ReadFileBytes(SetupLog()).find(line) != std::string::npos; }

bool TaskFileLeft(const std::wstring& folder) {
    return FileExists(folder + L"\\KalnixTask.xml");
}

// The running service has started Kalnix in every signed-in session (none under Wine, which
// names no session): the setup program starts none.
const char kStartedByTheService[] =
    "The protection service starts Kalnix in every signed-in session: the task Kalnix is not run.\r\n";

// Nothing of Kalnix is left, though `folder` itself may be.
void ExpectNothingInstalledBut(const std::wstring& folder) {
    EXPECT_FALSE(FileExists(folder + L"\\Kalnix.exe"));
    EXPECT_FALSE(FileExists(folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(MachineKeyExists(L"Software\\Kalnix"));
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    EXPECT_FALSE(MachineKeyExists(kEventSourceKey));
    EXPECT_EQ(L"<missing>", ReadMachineString(kRunKey, L"Kalnix"));
    EXPECT_FALSE(TaskRegistered());
    EXPECT_EQ(0u, ServiceState());
    EXPECT_TRUE(KalnixServices().empty());
    EXPECT_EQ(L"<missing>", StartMenuEntryTarget(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(KalnixTrayWindows().empty());
    EXPECT_TRUE(KalnixProcessIds().empty());
}

void ExpectNothingInstalled() {
    EXPECT_FALSE(FileExists(InstallDir()));
    ExpectNothingInstalledBut(InstallDir());
}

TEST_F(SilentInstall, LaysDownFilesSettingsSavedFlagsAndStartAtLogonAndStartsKalnixOnlyThroughTheTask) {
    ASSERT_EQ(0u, RunSetup(L"/S /MODE=2 /ALARMTIME=60"));

    EXPECT_TRUE(FileExists(InstallDir() + L"\\Kalnix.exe"));
    EXPECT_TRUE(FileExists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(60u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(0u, GetSettingDword(L"EnableLogging", 99));
    EXPECT_EQ(0u, GetSettingDword(L"HideTrayIcon", 99));
    EXPECT_EQ(60u, GetSettingDword(L"RestAfter", 0));
    EXPECT_EQ(60u, GetSettingDword(L"HibernateAfter", 0));
    EXPECT_EQ(5u, GetSettingDword(L"StandbyDrainAlert", 0));
    EXPECT_EQ(kUserFlags.ac, GetSettingDword(L"PowerSettings1", 0));
    EXPECT_EQ(kUserFlags.dc, GetSettingDword(L"PowerSettings2", 0));
    // Wine's Task Scheduler registers the task; the Run value is the fallback when it does not.
    std::wstring run = ReadMachineString(kRunKey, L"Kalnix");
    EXPECT_TRUE(TaskRegistered() || run == L"\"" + InstallDir() + L"\\Kalnix.exe\"") << run;
    EXPECT_FALSE(TaskRegistered() && run != L"<missing>") << "both ways would start Kalnix twice";
    Sleep(2000);
    EXPECT_EQ(std::vector<DWORD>{ExpectOneProtectionService(InstallDir())}, KalnixProcessIds())
        << "the setup program never starts Kalnix with its own token";
    EXPECT_EQ(InstallDir() + L"\\Kalnix.exe", StartMenuEntryTarget(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(PolicyIsTheUsers());

    EXPECT_EQ(L"Kalnix", ReadMachineString(kUninstallKey, L"DisplayName"));
    EXPECT_EQ(L"1.0.0.0", ReadMachineString(kUninstallKey, L"DisplayVersion"));
    EXPECT_NE(L"<missing>", ReadMachineString(kUninstallKey, L"Publisher"));
    EXPECT_EQ(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(),
              ReadMachineString(kUninstallKey, L"QuietUninstallString"));
    EXPECT_EQ(InstallDir(), ReadMachineString(kUninstallKey, L"InstallLocation"));
    EXPECT_EQ(InstallDir() + L"\\Kalnix.exe", ReadMachineString(kEventSourceKey, L"EventMessageFile"));
    EXPECT_EQ(7u, ReadDword(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported"));
    DWORD size = ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    EXPECT_TRUE(size > 0 && size < 100000) << size;

    EXPECT_EQ(0u, ServiceState()) << "no driver in this setup program";
    EXPECT_TRUE(SetupLogHas("driver step skipped"));
    EXPECT_TRUE(SetupLogHas("SavePowerSettings: lid-close flags saved."));
    EXPECT_TRUE(SetupLogHas("Installation complete."));
    EXPECT_TRUE(SetupLogHas("Install folder in Program Files: its inherited permissions are kept."));
    EXPECT_TRUE(SetupLogHas("Task definition removed."));
    EXPECT_FALSE(TaskFileLeft(InstallDir()));
    // The steps in their order: the flags are saved before Kalnix can force them.
    std::string log = ReadFileBytes(SetupLog());
    size_t at = 0;
    for (const char* step : {"TerminateUIProcess", "Copied Kalnix.exe", "Settings: Action", "SavePowerSettings",
                             "InstallKalnixTask", "Event source Kalnix registered.",
                             "StartProtectionService: the protection service is running.",
                             "Start menu entry Kalnix created for every user.", "Apps & Features",
                             kStartedByTheService}) {
        size_t found = log.find(step, at);
        EXPECT_NE(std::string::npos, found) << step << " missing or out of order";
        if (found != std::string::npos) at = found;
    }
}

// The event source comes after the task, the driver and the settings: failing there must not
// leave them without an Apps & Features entry.
TEST_F(SilentInstall, CompletesWithExitCode5WhenTheEventSourceCannotBeRegistered) {
    // No lasting key can be created under a volatile one (ERROR_CHILD_MUST_BE_VOLATILE, on
    // Windows as under Wine): the setup program's write fails.
    const wchar_t application[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
    LONG deleted = RegDeleteTreeW(HKEY_LOCAL_MACHINE, application);
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
    HKEY volatileKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, application, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_READ, nullptr, &volatileKey, nullptr));
    RegCloseKey(volatileKey);

    EXPECT_EQ(5u, RunSetup(L"/S"));
    EXPECT_FALSE(MachineKeyExists(kEventSourceKey));
    EXPECT_TRUE(SetupLogHas("Event source Kalnix not registered: could not write "
                            "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalnix.\r\n"));
    EXPECT_TRUE(SetupLogHas("Installation complete with 1 failed step(s).\r\n"));
    EXPECT_EQ(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(),
              ReadMachineString(kUninstallKey, L"QuietUninstallString"));
}

// A task tool that does nothing: it registers no task, and deletes none.
void MakeTheTaskToolInert() {
    ASSERT_TRUE(CopyFileW(KALNIX_TEST_BIN_DIR_W L"\\installer_inert_tool.exe", SystemPath(L"\\schtasks.exe").c_str(), FALSE));
    // Wine would run its own built-in tool in place of the file.
    const wchar_t native[] = L"native";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"schtasks.exe",
                                             REG_SZ, native, sizeof(native)));
}

TEST_F(SilentInstall, FallsBackToTheRunValueWhenTheTaskIsNotRegistered) {
    MakeTheTaskToolInert();
    // Kalnix.exe asks for no rights: Windows starts it from the Run value as from the task.
    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_FALSE(TaskRegistered());
    EXPECT_EQ(L"\"" + InstallDir() + L"\\Kalnix.exe\"", ReadMachineString(kRunKey, L"Kalnix"));
    EXPECT_TRUE(SetupLogHas("Task Kalnix not registered."));
    EXPECT_TRUE(SetupLogHas(
        "Start at log-on by the Run value: Kalnix starts at each log-on with the user's own rights.\r\n"));
    EXPECT_TRUE(SetupLogHas("Installation complete.\r\n"));
    EXPECT_TRUE(SetupLogHas("Task definition removed."));
    EXPECT_FALSE(TaskFileLeft(InstallDir()));
    EXPECT_TRUE(SetupLogHas(kStartedByTheService));

    ASSERT_TRUE(RunUninstallAndWait());
    ExpectNothingInstalled();
}

TEST_F(SilentInstall, WithTheDriverRunsTheServiceAndKalnixHearsTheLidUninstallRemovesIt) {
    ASSERT_EQ(0u, RunSetupWithDriver(L"/S"));

    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    EXPECT_TRUE(FileExists(SystemPath(L"\\drivers\\kalnix.sys")));
    EXPECT_EQ(L"\\SystemRoot\\System32\\drivers\\kalnix.sys",
              ReadMachineString(L"System\\CurrentControlSet\\Services\\Kalnix", L"ImagePath"));
    // The protection service, started after the driver, hears the lid through it.
    ExpectOneProtectionService(InstallDir());
    ASSERT_TRUE(WaitForLidRequestCount(1, 1, 10000)) << "the service opened the driver and told it of the forcing";
    ASSERT_TRUE(ResetLidRequestCounts());
    ASSERT_TRUE(SetSimulatedLid(true));
    EXPECT_TRUE(WaitForLidRequestCount(3, 1, 5000)) << "its lid monitor woke on the closing";
    ASSERT_TRUE(SetSimulatedLid(false));
    EXPECT_TRUE(WaitForLidRequestCount(3, 2, 5000)) << "and on the opening";
    EXPECT_TRUE(WaitUntil([] { return ReadLidFlags() == kForcedFlags; }, 10000));

    // The service's stop puts the flags back before the driver goes.
    ASSERT_TRUE(RunUninstallAndWait());
    EXPECT_TRUE(PolicyIsTheUsers());
    EXPECT_TRUE(WaitUntil([] { return ServiceState() == 0; }, 10000));
    EXPECT_TRUE(KalnixServices().empty());
    EXPECT_FALSE(IsSimulatedLidDriverLoaded());
    EXPECT_FALSE(FileExists(SystemPath(L"\\drivers\\kalnix.sys")));
}

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

std::wstring Lowercase(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

const char kOwnPermissions[] =
    "Install folder outside Program Files (new): permissions set: inheritance removed; Administrators and "
    "SYSTEM full control; Users read and execute.\r\n";
const char kInheritedPermissions[] = "Install folder in Program Files: its inherited permissions are kept.\r\n";

// Kalnix runs elevated at every log-on: a folder outside Program Files gets permissions of
// its own (what they are is read back in the library's tests: Wine keeps none for files).
TEST_F(SilentInstall, InstallFolderOutsideProgramFilesGetsItsOwnPermissions) {
    std::wstring programFiles = InstallDir().substr(0, InstallDir().size() - wcslen(L"\\Kalnix"));
    struct Case {
        std::wstring folder;
        const char* line;
    } cases[] = {
        // & no longer keeps the task from being registered.
        {L"C:\\Tools & Co\\Kalnix", kOwnPermissions},
        {programFiles + L" Extra\\Kalnix", kOwnPermissions},
        {Lowercase(programFiles) + L"\\Kalnix", kInheritedPermissions},
        {programFiles + L"\\Sub\\..\\Kalnix", kInheritedPermissions},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        RemoveFile(SetupLog());
        ASSERT_EQ(0u, RunSetup(L"/S /D=" + c.folder));
        std::wstring folder = ReadMachineString(kUninstallKey, L"InstallLocation");
        EXPECT_TRUE(SetupLogHas(c.line));
        EXPECT_TRUE(TaskRegistered());
        EXPECT_FALSE(TaskFileLeft(folder));
        StartKalnixAsTheTaskWould(folder);
        ASSERT_TRUE(RunUninstallAndWait(folder));
        ExpectNothingInstalledBut(folder);
    }
}

TEST_F(SilentInstall, StopsWithExitCode7BeforeAnythingWhenTheFolderIsRefused) {
    std::wstring programFiles = InstallDir().substr(0, InstallDir().size() - wcslen(L"\\Kalnix"));
    wchar_t windows[MAX_PATH] = {}, profile[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    // An existing folder whose Kalnix.exe is a second name of a user's file: setup would write
    // into that file.
    const std::wstring linked = L"C:\\Linked\\Kalnix", usersFile = L"C:\\users-file.exe";
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Linked", nullptr) && CreateDirectoryW(linked.c_str(), nullptr));
    ASSERT_TRUE(CopyFileTo(KALNIX_TEST_BIN_DIR_W L"\\installer_inert_tool.exe", usersFile));
    ASSERT_TRUE(CreateHardLinkW((linked + L"\\Kalnix.exe").c_str(), usersFile.c_str(), nullptr));
    const std::string usersBytes = ReadFileBytes(usersFile);
    struct Case {
        std::wstring folder;
        std::string line;
    } cases[] = {
        {linked, "Install folder C:\\Linked\\Kalnix refused: C:\\Linked\\Kalnix holds Kalnix.exe, which has 2 names "
                 "(hard links)."},
        {std::wstring(profile) + L"\\Kalnix", "refused: C:\\users holds the users' profiles."},
        // Folders whose permissions belong to the system are never changed (NSIS itself
        // refuses a drive's root).
        {programFiles, "is a system folder: setup does not change its permissions."},
        {std::wstring(windows) + L"\\Kalnix", "is in the Windows folder: setup does not change its permissions."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        RemoveFile(SetupLog());
        EXPECT_EQ(7u, RunSetup(L"/S /D=" + c.folder));
        std::string log = ReadFileBytes(SetupLog());
        EXPECT_NE(std::string::npos, log.find(c.line + "\r\nInstallation failed: nothing was installed.\r\n")) << log;
        ExpectNothingInstalled();
        EXPECT_FALSE(FileExists(c.folder + L"\\Uninstall.exe"));
        EXPECT_FALSE(FileExists(c.folder + L"\\KalnixSetup.log"));
        EXPECT_FALSE(FileExists(std::wstring(windows) + L"\\Kalnix"));
        EXPECT_FALSE(FileExists(L"C:\\KalnixSetup.log"));
        EXPECT_FALSE(FileExists(L"C:\\Kalnix.exe"));
    }
    EXPECT_EQ(usersBytes, ReadFileBytes(usersFile)) << "nothing written through the link";
    EXPECT_FALSE(FileExists(std::wstring(profile) + L"\\Kalnix"));
    EXPECT_TRUE(PolicyIsTheUsers());
}

TEST_F(SilentUninstall, EndsKalnixPutsTheFlagsBackAndRemovesEverything) {
    ASSERT_EQ(0u, RunSetup(L"/S /MODE=1"));
    StartKalnixAsTheTaskWould();
    ASSERT_TRUE(WaitUntil([] { return ReadLidFlags() == kForcedFlags; }, 10000));

    ASSERT_TRUE(RunUninstallAndWait());
    EXPECT_TRUE(WaitUntil([] { return KalnixProcessIds().empty(); }, 10000));
    EXPECT_TRUE(PolicyIsTheUsers());
    ExpectNothingInstalled();
    // The service goes first (its stop puts the flags back), then this session's Kalnix.
    std::string log = ReadFileBytes(UninstallLog());
    size_t at = 0;
    for (const char* step : {"RemoveProtectionService: no protection service is left.\r\n",
                             "TerminateUIProcess: a running Kalnix was stopped.\r\n",
                             "RestorePowerSettings: lid-close flags put back.\r\n",
                             "Start menu entry Kalnix removed.\r\n", "Uninstallation complete.\r\n"}) {
        size_t found = log.find(step, at);
        EXPECT_NE(std::string::npos, found) << step << " missing or out of order in\n" << log;
        if (found != std::string::npos) at = found;
    }
}

// Lid-close settings that cannot be put back stay saved, and the exit code says so.
TEST_F(SilentUninstall, KeepsTheSavedLidCloseSettingsWhenTheyCannotBePutBack) {
    ASSERT_EQ(0u, RunSetup(L"/S /MODE=1"));
    StartKalnixAsTheTaskWould();
    ASSERT_TRUE(WaitUntil([] { return ReadLidFlags() == kForcedFlags; }, 10000));
    FailPowerCall(L"WriteGlobalPwrPolicy", ERROR_ACCESS_DENIED);
    // The user's "Hibernate after" saved beside the lid-close settings.
    SetSettingDword(L"HibernateTimeout", 20);
    // What Kalnix did at the lid closures, its own record.
    const wchar_t kRecord[] = L"2025-03-04 10:15  Slept after 8 s\0";
    SetSettingRaw(L"LidClosures", REG_MULTI_SZ, kRecord, sizeof(kRecord));

    // Run in place, as deployment tools do, to read the real exit code.
    EXPECT_EQ(5u, RunAndWait(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(), 60000));
    FailPowerCall(L"WriteGlobalPwrPolicy", 0);
    EXPECT_EQ(kForcedFlags, ReadLidFlags());
    EXPECT_EQ(kUserFlags.ac, ReadDword(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", L"PowerSettings1"));
    EXPECT_EQ(kUserFlags.dc, ReadDword(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", L"PowerSettings2"));
    EXPECT_EQ(20u, GetSettingDword(L"HibernateTimeout", 0));
    for (const wchar_t* own : {L"Action", L"RestAfter", L"HibernateAfter", L"StandbyDrainAlert", L"LidClosures"}) {
        EXPECT_FALSE(SettingExists(own)) << own << ", Kalnix's own choice, is removed";
    }
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    std::string log = ReadFileBytes(UninstallLog());
    EXPECT_NE(log.find("RestorePowerSettings failed: the saved lid-close settings are kept in HKLM\\Software\\Kalnix."),
              std::string::npos)
        << log;
}

// A setup program that could not save the lid-close flags left nothing to put back: that is no
// failure of the uninstaller, and nothing of the user's is lost with the settings key.
TEST_F(SilentUninstall, RemovesTheSettingsKeyWhenNothingWasSaved) {
    FailPowerCall(L"ReadGlobalPwrPolicy", ERROR_ACCESS_DENIED);
    ASSERT_EQ(5u, RunSetup(L"/S /MODE=2"));
    FailPowerCall(L"ReadGlobalPwrPolicy", 0);
    ASSERT_TRUE(SetupLogHas("SavePowerSettings failed.\r\n"));
    ASSERT_FALSE(SettingExists(L"PowerSettings1"));

    EXPECT_EQ(0u, RunAndWait(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(), 60000));
    EXPECT_FALSE(MachineKeyExists(L"Software\\Kalnix"));
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    EXPECT_TRUE(PolicyIsTheUsers());
    std::string log = ReadFileBytes(UninstallLog());
    EXPECT_NE(log.find("RestorePowerSettings: no saved lid-close settings to put back.\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Uninstallation complete.\r\n"), std::string::npos) << log;
}

// The task is left behind: deleting the folder would let any user put a program where the
// task runs one elevated. The uninstaller keeps the folder, and the entry to run it again.
TEST_F(SilentUninstall, KeepsKalnixsFolderAndExitsWith5WhenTheTaskCannotBeDeleted) {
    ASSERT_EQ(0u, RunSetup(L"/S"));
    ASSERT_TRUE(TaskRegistered());
    MakeTheTaskToolInert();

    EXPECT_EQ(5u, RunAndWait(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(), 60000));
    EXPECT_TRUE(TaskRegistered());
    EXPECT_TRUE(FileExists(InstallDir() + L"\\Kalnix.exe"));
    EXPECT_TRUE(FileExists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_TRUE(MachineKeyExists(kUninstallKey));
    std::string log = ReadFileBytes(UninstallLog());
    EXPECT_NE(log.find("The task Kalnix could not be deleted, or the Task Scheduler could not say that it is gone.\r\n" +
                       Narrow(InstallDir()) + " is kept, with Kalnix.exe: the log-on entry left behind starts " +
                       Narrow(InstallDir()) + "\\Kalnix.exe, and without the folder any user could put a program "
                       "there. Remove the entry, then run the uninstaller again.\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Uninstallation complete with 1 failed step(s).\r\n"), std::string::npos) << log;
}

// The logs of the setup program, of its library and of the uninstaller go to a folder only
// administrators can write, never to the temporary folder or beside the setup program; a file
// planted at a log's name there (here a second name of another file) is set aside, not written
// through.
TEST_F(SilentInstall, LogsInTheSecuredFolderAndNeverThroughAFilePlantedThere) {
    const std::wstring victim = SystemPath(L"\\victim.ini");
    const std::string victimText = "[an administrator's file]\r\n";
    HANDLE file = CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, victimText.data(), static_cast<DWORD>(victimText.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr));
    for (const wchar_t* name : {L"\\KalnixSetup.log", L"\\Kalnix.log", L"\\KalnixUninstall.log"}) {
        ASSERT_TRUE(CreateHardLinkW((LogFolder() + name).c_str(), victim.c_str(), nullptr));
    }
    SetSettingDword(L"EnableLogging", 1);
    std::wstring besideSetup = std::wstring(KALNIX_SETUP_W);
    besideSetup = besideSetup.substr(0, besideSetup.rfind(L'\\')) + L"\\Kalnix.log";
    RemoveFile(besideSetup);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);

    ASSERT_EQ(0u, RunSetup(L"/S"));
    EXPECT_EQ(0u, RunAndWait(L"\"" + InstallDir() + L"\\Uninstall.exe\" /S _?=" + InstallDir(), 60000));
    EXPECT_EQ(victimText, ReadFileBytes(victim));
    std::string setupLog = ReadFileBytes(SetupLog());
    EXPECT_EQ(0u, setupLog.find("Kalnix Setup ")) << setupLog;
    EXPECT_NE(setupLog.find("Set aside, not made by an administrator's program (a user's file, a link, or a second "
                            "name of another file): KalnixSetup.log.untrusted-"),
              std::string::npos)
        << setupLog;
    EXPECT_NE(setupLog.find("Installation complete.\r\n"), std::string::npos) << setupLog;
    EXPECT_EQ(0u, ReadFileBytes(UninstallLog()).find("Kalnix Uninstall "));
    EXPECT_NE(ReadFileBytes(LogFolder() + L"\\Kalnix.log").find("CA: Entering StartProtectionService\r\n"),
              std::string::npos);
    EXPECT_FALSE(FileExists(besideSetup));
    for (const wchar_t* name : {L"KalnixSetup.log", L"Kalnix.log", L"KalnixUninstall.log"}) {
        EXPECT_FALSE(FileExists(std::wstring(temp) + name));
    }
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

// Run as SYSTEM, the uninstaller cannot see the user's tray window; a Kalnix on another
// desktop stands for that here.
TEST_F(SilentUninstall, EndsAKalnixOfTheInstallFolderWhoseWindowItCannotSee) {
    ASSERT_EQ(0u, RunSetup(L"/S"));
    HDESK desktop = CreateDesktopW(L"KalnixElsewhere", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(nullptr, desktop);
    KalnixProcess elsewhere;
    ASSERT_TRUE(elsewhere.StartProgram(InstallDir() + L"\\Kalnix.exe", L"", L"KalnixElsewhere"));
    Sleep(2000);
    ASSERT_TRUE(elsewhere.Running()) << "Kalnix runs";
    ASSERT_TRUE(KalnixTrayWindows().empty()) << "on a desktop this program cannot see";

    ASSERT_TRUE(RunUninstallAndWait());
    elsewhere.ExitCode(10000);
    EXPECT_FALSE(elsewhere.Running()) << "the uninstaller ended it";
    CloseDesktop(desktop);
    ExpectNothingInstalled();
}

// Each of these is refused before anything changes.
TEST_F(BadOptions, AreRefusedWithExitCode2AndNothingChanged) {
    const wchar_t* cases[] = {
        L"/S /ALARMTIME=4",   L"/S /ALARMTIME=61", L"/S /ALARMTIME=0",  L"/S /ALARMTIME=",
        L"/S /ALARMTIME=abc", L"/S /ALARMTIME=5x", L"/S /ALARMTIME=-5", L"/S /ALARMTIME=4294967301",
        L"/S /MODE=0",        L"/S /MODE=3",       L"/S /MODE=",        L"/S /MODE=01",
        L"/S /MODE=a",        L"/S /MODE=1 /ALARM=20",
    };
    for (const wchar_t* options : cases) {
        EXPECT_EQ(2u, RunSetup(options)) << options;
        ExpectNothingInstalled();
    }
    EXPECT_TRUE(PolicyIsTheUsers());
}

#ifdef _WIN64
// The x86 setup program of the x86 build tree, run in this 64-bit prefix.
const wchar_t kX86SetupProgram[] = KALNIX_X86_SETUP_W;

// On 64-bit Windows the x86 setup program refuses before anything changes: a 32-bit Kalnix
// there would read Software\WOW6432Node\Kalnix, where Group Policy never writes.
TEST_F(BadOptions, TheX86SetupProgramIsRefusedOn64BitWindowsWithExitCode6) {
    if (!IsChildRun(L"KALNIX_X86_RUNS")) GTEST_SKIP() << "this machine runs 64-bit code only";
    ASSERT_TRUE(FileExists(kX86SetupProgram)) << "build the x86 tree first";
    EXPECT_EQ(6u, RunSetup(kX86SetupProgram, L"/S"));
    ExpectNothingInstalled();
    wchar_t programFilesX86[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86, MAX_PATH);
    EXPECT_FALSE(FileExists(std::wstring(programFilesX86) + L"\\Kalnix"));
    EXPECT_FALSE(MachineKeyExists(L"Software\\WOW6432Node\\Kalnix"));
    EXPECT_TRUE(PolicyIsTheUsers());
}
#endif

}  // namespace
