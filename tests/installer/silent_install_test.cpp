// A fresh silent installation: what it lays down and registers, the Run value when no task is
// registered, the driver and the service, a folder outside Program Files, and its logs.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer_fixture.h"
#include "support/installed_kalnix.h"
#include "support/kalnix_process.h"
#include "support/lid_driver.h"
#include "support/test_support.h"

namespace {

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

}  // namespace
