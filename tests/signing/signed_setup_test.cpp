// The signed release's setup program installs silently, as the unsigned one does. Wine checks
// no signature: what this shows is that signing left the setup program, and the uninstaller it
// packs, whole. signed_release.sh runs it in a fresh copy of the installer tests' prefix and then
// verifies the signatures of the files it installed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/power_standin.h"
#include "support/test_support.h"

TEST(SignedSetup, InstallsSilentlyWithEveryStepDone) {
    // The user's own lid-close flags, which the setup program saves before anything else.
    PresetPowerPolicy(PatternedPowerPolicy(POWER_ACTION_QUERY_ALLOWED, POWER_ACTION_QUERY_ALLOWED));

    ASSERT_EQ(0u, RunAndWait(L"\"" KALNIX_SIGNED_SETUP_W L"\" /S", 120000));
    wchar_t programFiles[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    const std::wstring folder = std::wstring(programFiles) + L"\\Kalnix";
    EXPECT_TRUE(FileExists(folder + L"\\Kalnix.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\Uninstall.exe"));
}
