// A Kalnix in automatic protection that ends without its teardown leaves the on-battery
// lid-close action at Sleep; the saved original brings it back through RestorePowerSettings,
// whether the next Kalnix ends normally or the uninstaller calls the library's export.
#include <gtest/gtest.h>

#include <windows.h>

#include "ca_library.h"
#include "common/lid_close_action.h"
#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

class LidCloseRestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"Action", 1);
        SetSettingDword(L"PowerSettings1", 3);
        SetSettingDword(L"PowerSettings2", 3);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(3, 3));
        PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    }
    void TearDown() override { ClearPowerStandin(); }

    static DWORD Battery() { return StandinLidCloseAction(kBalancedScheme, true, 99); }
    static bool Saved() { return SettingExists(kSavedLidCloseScheme) || SettingExists(kSavedLidCloseAction); }

    // Starts Kalnix in mode 1, waits for its first tick to set Sleep, and kills it.
    void CrashAfterTheFirstTick() {
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare(L"lid-close-crash"));
        ASSERT_TRUE(kalnix.Start());
        ASSERT_TRUE(WaitUntil([] { return Battery() == kLidCloseSleep; }, 10000));
        kalnix.Kill();
        ASSERT_TRUE(Saved()) << "the original is kept for a later run";
    }
};

TEST_F(LidCloseRestoreTest, TheNextKalnixPutsTheActionBackWhenItEnds) {
    CrashAfterTheFirstTick();
    KalnixProcess next;
    ASSERT_TRUE(next.Prepare(L"lid-close-next"));
    ASSERT_TRUE(next.Start());
    ASSERT_TRUE(WaitUntil([] { return PowerCallLog().size() > 0; }, 5000));
    EXPECT_EQ(Battery(), kLidCloseSleep) << "still protected while it runs";
    EXPECT_EQ(next.End(), 0u);
    EXPECT_EQ(Battery(), kLidCloseDoNothing);
    EXPECT_FALSE(Saved());
}

class LidCloseUninstallTest : public LidCloseRestoreTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(LidCloseUninstallTest, TheLibrarysRestorePutsTheActionBackAndClearsTheSavedValues) {
    CrashAfterTheFirstTick();
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.RestorePowerSettings(), 1);
    EXPECT_EQ(Battery(), kLidCloseDoNothing);
    EXPECT_FALSE(Saved());
}

INSTANTIATE_TEST_SUITE_P(Builds, LidCloseUninstallTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
