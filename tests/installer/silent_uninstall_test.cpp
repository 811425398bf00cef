// The silent uninstaller: what it ends, puts back and removes, and what it keeps when a step
// fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer_fixture.h"
#include "support/installed_kalnix.h"
#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

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

}  // namespace
