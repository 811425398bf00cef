// KalnixSetup-<arch>.msi under Wine's msiexec, silently, as a deployment tool runs it. Each test
// runs in a fresh copy of a pristine prefix (fresh-prefix.sh) whose system32 holds the stand-in
// power profile library, so msiexec's custom actions, Kalnix.exe and this program see the same
// global power policy. A second package of a higher version (KALNIX_NEXT_MSI_W) stands for the
// next release.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/installed_kalnix.h"
#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalnix";
const wchar_t kDriverServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Kalnix";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kPackage[] = KALNIX_MSI_W;
const wchar_t kNextPackage[] = KALNIX_NEXT_MSI_W;
const wchar_t kTweakPackage[] = KALNIX_TWEAK_MSI_W;
const wchar_t kFailingPackage[] = KALNIX_FAILING_MSI_W;
const wchar_t kProductCode[] = L"{" KALNIX_MSI_PRODUCT_CODE_W L"}";
const wchar_t kNextProductCode[] = L"{" KALNIX_NEXT_PRODUCT_CODE_W L"}";

std::wstring FolderOf(const wchar_t* variable, const wchar_t* tail) {
    wchar_t buffer[MAX_PATH] = {};
    GetEnvironmentVariableW(variable, buffer, MAX_PATH);
    return std::wstring(buffer) + tail;
}
// The Windows Installer's own log of the last msiexec run.
std::wstring MsiLog() { return FolderOf(L"ProgramData", L"\\msiexec.log"); }

// msiexec's exit code as a deployment tool sees it (inside Wine, never cut to 8 bits).
DWORD Msiexec(const std::wstring& arguments) {
    RemoveFile(MsiLog());
    return RunAndWait(L"msiexec " + arguments + L" /qn /l*v \"" + MsiLog() + L"\"", 180000);
}
DWORD Install(const wchar_t* package, const std::wstring& properties = L"") {
    return Msiexec(L"/i \"" + std::wstring(package) + L"\" " + properties);
}
DWORD Uninstall(const wchar_t* productCode, const std::wstring& properties = L"") {
    return Msiexec(L"/x " + std::wstring(productCode) + L" " + properties);
}
const DWORD kInstallFailure = ERROR_INSTALL_FAILURE;
// Makes the failing package's last step fail.
std::wstring FailLate() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return L"KALNIXFAILLATE=\"" + std::wstring(system) + L"\\cmd.exe\"";
}
// The setup program that carries the simulated lid-sensor driver, which the package does not.
DWORD RunSetupProgram(const std::wstring& options) {
    return RunAndWait(L"\"" KALNIX_TEST_BIN_DIR_W L"\\KalnixSetupWithDriver.exe\" " + options, 120000);
}

// The Apps & Features entries named Kalnix, by their key's name: "Kalnix" is the setup
// program's, a product code a package's.
std::vector<std::wstring> KalnixEntries() {
    std::vector<std::wstring> entries;
    HKEY uninstall;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &uninstall) != ERROR_SUCCESS) return entries;
    wchar_t name[256];
    for (DWORD i = 0, chars = 256; RegEnumKeyExW(uninstall, i, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
                                   ERROR_SUCCESS;
         ++i, chars = 256) {
        if (ReadMachineString(std::wstring(kUninstallKey) + L"\\" + name, L"DisplayName") == L"Kalnix") {
            entries.push_back(name);
        }
    }
    RegCloseKey(uninstall);
    return entries;
}
const std::vector<std::wstring> kPackageEntry = {kProductCode};

bool LogHas(const std::wstring& log, const std::string& text) {
    return ReadFileBytes(log).find(text) != std::string::npos;
}

void ExpectTheUsersSavedFlags() {
    EXPECT_EQ(kUserFlags.ac, GetSettingDword(L"PowerSettings1", 0));
    EXPECT_EQ(kUserFlags.dc, GetSettingDword(L"PowerSettings2", 0));
}

// The lines of `log` hold each of `steps`, in this order.
void ExpectStepsInOrder(const std::wstring& log, std::initializer_list<const char*> steps) {
    std::string text = ReadFileBytes(log);
    size_t at = 0;
    for (const char* step : steps) {
        size_t found = text.find(step, at);
        EXPECT_NE(std::string::npos, found) << step << " missing or out of order in\n" << text;
        if (found != std::string::npos) at = found;
    }
}

void ExpectNothingInstalledButTheSettingsKey() {
    EXPECT_FALSE(FileExists(InstallDir()));
    EXPECT_FALSE(MachineKeyExists(kEventSourceKey));
    EXPECT_TRUE(KalnixEntries().empty());
    EXPECT_EQ(L"<missing>", ReadMachineString(kRunKey, L"Kalnix"));
    EXPECT_FALSE(TaskRegistered());
    EXPECT_TRUE(KalnixServices().empty());
    EXPECT_EQ(L"<missing>", StartMenuEntryTarget(CSIDL_PROGRAMS));
    EXPECT_TRUE(KalnixProcessIds().empty());
}

void ExpectNothingInstalled() {
    ExpectNothingInstalledButTheSettingsKey();
    EXPECT_FALSE(MachineKeyExists(L"Software\\Kalnix"));
}

class MsiPackage : public ::testing::Test {
protected:
    void SetUp() override {
        PresetUserPolicy();
        LetServicesUseThePowerStandin();
    }
};

TEST_F(MsiPackage, InstallsSilentlyAsTheSetupProgramAndItsRemovalPutsEverythingBack) {
    ASSERT_EQ(0u, Install(kPackage));

    EXPECT_TRUE(FileExists(InstallDir() + L"\\Kalnix.exe"));
    EXPECT_FALSE(FileExists(InstallDir() + L"\\Uninstall.exe"));
    const struct {
        const wchar_t* name;
        DWORD value;
    } firstValues[] = {{L"Action", 1},    {L"AlarmTime", 15},      {L"EnableLogging", 0},    {L"HideTrayIcon", 0},
                       {L"RestAfter", 60}, {L"HibernateAfter", 60}, {L"StandbyDrainAlert", 5}};
    for (const auto& first : firstValues) EXPECT_EQ(first.value, GetSettingDword(first.name, 99)) << first.name;
    ExpectTheUsersSavedFlags();
    std::wstring run = ReadMachineString(kRunKey, L"Kalnix");
    EXPECT_TRUE(TaskRegistered() != (run == L"\"" + InstallDir() + L"\\Kalnix.exe\"")) << run;
    DWORD type = 0;
    EXPECT_EQ(InstallDir() + L"\\Kalnix.exe", ReadMachineString(kEventSourceKey, L"EventMessageFile", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(kPackageEntry, KalnixEntries());
    Sleep(2000);
    EXPECT_EQ(std::vector<DWORD>{ExpectOneProtectionService(InstallDir())}, KalnixProcessIds())
        << "the package never starts Kalnix with its own token";
    // Wine keeps ProgramMenuFolder per user; Windows puts a per-machine package's in every user's.
    EXPECT_EQ(InstallDir() + L"\\Kalnix.exe", StartMenuEntryTarget(CSIDL_PROGRAMS));
    ExpectStepsInOrder(SetupLog(), {"Kalnix Setup 1.0.0.0 (Windows Installer package), ",
                                    "Install folder in Program Files: its inherited permissions are kept.\r\n",
                                    "TerminateUIProcess", "Settings: Action = 1.\r\n",
                                    "SavePowerSettings: lid-close flags saved.\r\n", "Task Kalnix registered.\r\n",
                                    "Event source Kalnix registered.\r\n",
                                    "StartProtectionService: the protection service is running.\r\n",
                                    "The protection service starts Kalnix in every signed-in session: the task "
                                    "Kalnix is not run.\r\n",
                                    "Installation complete.\r\n"});

    // Automatic protection, by the service, forces the flags; the removal stops the service,
    // which puts them back, and ends this session's Kalnix.
    ASSERT_TRUE(WaitUntil([] { return ReadLidFlags() == kForcedFlags; }, 10000));
    StartKalnixAsTheTaskWould();
    EXPECT_EQ(0u, Uninstall(kProductCode));
    EXPECT_TRUE(PolicyIsTheUsers());
    ExpectNothingInstalled();
    ExpectStepsInOrder(UninstallLog(), {"Kalnix Uninstall 1.0.0.0 (Windows Installer package), ",
                                        "StopProtectionService: the protection service is stopped; it put back the "
                                        "power settings it changed.\r\n",
                                        "TerminateUIProcess: a running Kalnix was stopped.\r\n",
                                        "Start at log-on removed: no task Kalnix, no Run value.\r\n",
                                        "RemoveProtectionService: no protection service is left.\r\n",
                                        "RestorePowerSettings: lid-close flags put back.\r\n",
                                        "Uninstallation complete.\r\n"});
}

// A refused value or folder fails the installation (1603) with the settings key as it was: here
// holding only a value Group Policy wrote.
TEST_F(MsiPackage, WritesItsPropertiesAndRefusesABadValueOrFolderBeforeAnyChange) {
    SetSettingDword(L"AlarmTime", 33);
    EXPECT_EQ(kInstallFailure, Install(kPackage, L"MODE=2 ALARMTIME=61"));
    EXPECT_TRUE(LogHas(MsiLog(), "ALARMTIME=61 is refused: it must be a number of seconds from 5 to 60. Nothing was "
                                 "changed."));
    EXPECT_FALSE(FileExists(SetupLog()));
    EXPECT_EQ(kInstallFailure, Install(kPackage, L"INSTALLFOLDER=C:\\windows\\Kalnix"));
    EXPECT_TRUE(LogHas(SetupLog(), "Install folder C:\\windows\\Kalnix is in the Windows folder: setup does not "
                                   "change its permissions.\r\nInstallation failed: nothing was installed.\r\n"));
    ExpectNothingInstalledButTheSettingsKey();
    EXPECT_FALSE(FileExists(FolderOf(L"SystemRoot", L"\\Kalnix")));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_FALSE(SettingExists(L"Action"));

    ASSERT_EQ(0u, Install(kPackage, L"MODE=2 ALARMTIME=060"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(60u, GetSettingDword(L"AlarmTime", 0));
}

// The upgrade stays in the folder the earlier version was installed in. The earlier one is a
// package of before the protection service (as it leaves everything but the service), whose
// Kalnix runs elevated, as every program does under Wine: it is ended, and only the service
// runs Kalnix.exe after the upgrade.
TEST_F(MsiPackage, UpgradeKeepsTheSettingsAndTheFolderInOneEntryAndADowngradeIsRefused) {
    const std::wstring folder = L"C:\\Kalnix";
    ASSERT_EQ(0u, Install(kPackage, L"MODE=2 INSTALLFOLDER=" + folder));
    EXPECT_EQ(folder + L"\\", ReadMachineString(std::wstring(kUninstallKey) + L"\\" + kProductCode, L"InstallLocation"));
    TakeTheProtectionServiceAway();
    SetSettingDword(L"AlarmTime", 33);
    SetSettingDword(L"HideTrayIcon", 1);
    StartKalnixAsTheTaskWould(folder);
    const std::vector<DWORD> earlier = KalnixProcessIds();

    ASSERT_EQ(0u, Install(kNextPackage));
    const DWORD service = ExpectOneProtectionService(folder);
    EXPECT_EQ(std::vector<DWORD>{service}, KalnixProcessIds()) << "the earlier Kalnix was ended";
    EXPECT_NE(earlier, KalnixProcessIds());
    EXPECT_EQ(std::vector<std::wstring>{kNextProductCode}, KalnixEntries());
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_EQ(1u, GetSettingDword(L"HideTrayIcon", 0));
    ExpectTheUsersSavedFlags();
    EXPECT_TRUE(FileExists(folder + L"\\Kalnix.exe"));
    EXPECT_FALSE(FileExists(InstallDir()));
    EXPECT_TRUE(TaskRegistered());
    EXPECT_EQ(folder + L"\\Kalnix.exe", ReadMachineString(kEventSourceKey, L"EventMessageFile"));

    EXPECT_EQ(kInstallFailure, Install(kPackage));
    EXPECT_EQ(std::vector<std::wstring>{kNextProductCode}, KalnixEntries());
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    EXPECT_TRUE(FileExists(folder + L"\\Kalnix.exe"));
    EXPECT_EQ(service, ExpectOneProtectionService(folder)) << "the refused downgrade leaves the service alone";
}

// Windows Installer compares only a version's first three fields: a package that differs in the
// fourth alone is the same product, never a second one installed beside the first.
TEST_F(MsiPackage, OnlyTheFourthFieldChangedIsTheSameProduct) {
    ASSERT_EQ(0u, Install(kPackage));
    DWORD second = Install(kTweakPackage);
    EXPECT_EQ(kPackageEntry, KalnixEntries()) << "msiexec returned " << second;
    EXPECT_EQ(0u, Uninstall(kProductCode));
    ExpectNothingInstalled();
}

// A repair may be a standard user's (Windows Installer runs a per-machine package's repair with
// its SYSTEM steps for anyone): it ends no one's Kalnix and stays in the installed folder.
// Wine runs everything as an administrator, so MODE is applied here; the package's planning
// test shows a standard user's repair.
TEST_F(MsiPackage, ARepairLeavesKalnixRunningInItsFolder) {
    const std::wstring folder = L"C:\\Kalnix";
    ASSERT_EQ(0u, Install(kPackage, L"INSTALLFOLDER=" + folder));
    StartKalnixAsTheTaskWould(folder);
    const std::vector<DWORD> running = KalnixProcessIds();
    RemoveFile(SetupLog());

    EXPECT_EQ(0u, Msiexec(L"/i " + std::wstring(kProductCode) + L" REINSTALL=ALL MODE=2"));
    EXPECT_EQ(running, KalnixProcessIds()) << "the service and this session's Kalnix run on";
    ExpectOneProtectionService(folder);
    EXPECT_TRUE(LogHas(SetupLog(), "Repair: the protection service keeps running.\r\n"));
    EXPECT_TRUE(LogHas(SetupLog(), "Repair: a running Kalnix is left running; a Kalnix.exe in use is replaced at the "
                                   "next restart.\r\n"));
    EXPECT_FALSE(LogHas(SetupLog(), "TerminateUIProcess"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_FALSE(FileExists(InstallDir()));
    EXPECT_EQ(kPackageEntry, KalnixEntries());
}

// No step is a commit action (Windows Installer skips those when rollback is disabled), and a
// failure after the deferred steps puts back what each changed: an installation that took over
// the setup program's, elsewhere, then a removal. (Wine rolls back none of Windows Installer's
// own steps, such as the product's registration: only Kalnix's are looked at.)
TEST_F(MsiPackage, ARollbackPutsBackWhatEveryStepChanged) {
    const std::wstring setupFolder = L"C:\\SetupKalnix";
    ASSERT_EQ(0u, RunSetupProgram(L"/S /MODE=2 /D=" + setupFolder));
    SetSettingDword(L"AlarmTime", 33);
    // The failing step makes Wine's msiexec return 1627 where Windows' returns 1603.
    EXPECT_NE(0u, Install(kFailingPackage, FailLate()));
    EXPECT_TRUE(LogHas(SetupLog(), "The setup program's files in C:\\SetupKalnix are removed.\r\n"));
    EXPECT_TRUE(LogHas(SetupLog(), "Rolling back: the installation taken over is put back as it was.\r\n"));
    EXPECT_EQ(std::vector<std::wstring>{L"Kalnix"}, KalnixEntries());
    EXPECT_TRUE(FileExists(setupFolder + L"\\Kalnix.exe"));
    EXPECT_TRUE(FileExists(setupFolder + L"\\Uninstall.exe"));
    EXPECT_TRUE(TaskRegistered());
    EXPECT_EQ(setupFolder + L"\\Kalnix.exe", ReadMachineString(kEventSourceKey, L"EventMessageFile"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    ExpectOneProtectionService(setupFolder);

    ASSERT_EQ(0u, Install(kFailingPackage));
    ASSERT_EQ(kPackageEntry, KalnixEntries());
    EXPECT_NE(0u, Uninstall(kProductCode, FailLate()));
    EXPECT_TRUE(LogHas(UninstallLog(), "Uninstallation complete.\r\nRolling back: the settings key and the event source "
                                       "put back as they were.\r\n"));
    EXPECT_TRUE(TaskRegistered());
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    ExpectTheUsersSavedFlags();
    EXPECT_EQ(InstallDir() + L"\\Kalnix.exe", ReadMachineString(kEventSourceKey, L"EventMessageFile"));
    ExpectOneProtectionService(InstallDir());
}

// One installation only: the package takes over the setup program's, keeping the user's
// settings and saved flags; the setup program then leaves the package's alone (exit code 8),
// and the package's removal takes the setup program's driver with it.
TEST_F(MsiPackage, TakesOverTheSetupProgramsInstallationWhichThenLeavesThePackagesAlone) {
    ASSERT_EQ(0u, RunSetupProgram(L"/S /MODE=2"));
    SetSettingDword(L"AlarmTime", 33);
    ASSERT_EQ(std::vector<std::wstring>{L"Kalnix"}, KalnixEntries());
    ASSERT_TRUE(MachineKeyExists(kDriverServiceKey));

    ASSERT_EQ(0u, Install(kPackage));
    EXPECT_EQ(kPackageEntry, KalnixEntries());
    EXPECT_EQ(std::vector<DWORD>{ExpectOneProtectionService(InstallDir())}, KalnixProcessIds());
    EXPECT_FALSE(FileExists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_TRUE(FileExists(InstallDir() + L"\\Kalnix.exe"));
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_EQ(33u, GetSettingDword(L"AlarmTime", 0));
    ExpectTheUsersSavedFlags();
    EXPECT_TRUE(TaskRegistered());
    EXPECT_TRUE(LogHas(SetupLog(), "The setup program's Apps & Features entry Kalnix is removed"));

    EXPECT_EQ(8u, RunSetupProgram(L"/S /MODE=1"));
    EXPECT_EQ(kPackageEntry, KalnixEntries());
    EXPECT_EQ(2u, GetSettingDword(L"Action", 0));
    EXPECT_FALSE(FileExists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_TRUE(LogHas(SetupLog(), "Kalnix is installed from its Windows Installer package (product code " +
                                       std::string(kProductCode, kProductCode + wcslen(kProductCode)) +
                                       "): this setup program does not install over it."));

    // Lid-close flags that cannot be put back stay saved; Kalnix's own values go, its record of
    // the lid closures with them.
    const wchar_t kRecord[] = L"2025-03-04 10:15  Slept after 8 s\0";
    SetSettingRaw(L"LidClosures", REG_MULTI_SZ, kRecord, sizeof(kRecord));
    FailPowerCall(L"WriteGlobalPwrPolicy", ERROR_ACCESS_DENIED);
    EXPECT_EQ(0u, Uninstall(kProductCode));
    FailPowerCall(L"WriteGlobalPwrPolicy", 0);
    ExpectNothingInstalledButTheSettingsKey();
    ExpectTheUsersSavedFlags();
    EXPECT_FALSE(SettingExists(L"Action"));
    EXPECT_FALSE(SettingExists(L"LidClosures"));
    EXPECT_TRUE(WaitUntil([] { return !MachineKeyExists(kDriverServiceKey); }, 10000));
    EXPECT_FALSE(FileExists(FolderOf(L"SystemRoot", L"\\system32\\drivers\\kalnix.sys")));
    EXPECT_TRUE(LogHas(UninstallLog(), "RemoveDriver: driver service Kalnix deleted.\r\n"));
}

}  // namespace
