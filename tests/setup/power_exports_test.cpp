#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "ca_library.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

// The library's power exports are the executable's code: through either build they save
// and restore exactly the two lid-close flags, with the same log lines.
class PowerExportsTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        OpenLogGateFor(GetParam());
        ClearPowerStandin();
        ASSERT_TRUE(library_.Loaded());
    }
    void TearDown() override {
        ClearPowerStandin();
        RemoveFile(LogPathBesideExecutable());
    }
    CaLibrary library_{GetParam()};
};

TEST_P(PowerExportsTest, SaveThenRestorePutsBackOnlyTheLidCloseFlags) {
    GLOBAL_POWER_POLICY saved = PatternedPowerPolicy(0x00000003, 0x00000007);
    PresetPowerPolicy(saved);
    EXPECT_EQ(library_.SavePowerSettings(), 1);
    EXPECT_EQ(GetSettingDword(L"PowerSettings1", 0), 3u);
    EXPECT_EQ(GetSettingDword(L"PowerSettings2", 0), 7u);

    GLOBAL_POWER_POLICY changed = saved;
    changed.user.LidCloseAc.Flags = 0x80000004;
    changed.user.LidCloseDc.Flags = 0x80000004;
    PresetPowerPolicy(changed);
    EXPECT_EQ(library_.RestorePowerSettings(), 1);
    GLOBAL_POWER_POLICY restored = ReadStandinPolicy();
    EXPECT_EQ(memcmp(&restored, &saved, sizeof(saved)), 0);
    EXPECT_EQ(TestLog(), "Entering SavePowerSettings\r\nEntering RestorePowerSettings\r\n");
}

TEST_P(PowerExportsTest, RestoreWithoutSavedFlagsFailsAndChangesNothing) {
    GLOBAL_POWER_POLICY policy = PatternedPowerPolicy(0x80000004, 0x80000004);
    PresetPowerPolicy(policy);
    EXPECT_EQ(library_.RestorePowerSettings(), 0);
    GLOBAL_POWER_POLICY after = ReadStandinPolicy();
    EXPECT_EQ(memcmp(&after, &policy, sizeof(policy)), 0);
    EXPECT_EQ(TestLog(), "Entering RestorePowerSettings\r\nRQVE Failed: 2\r\n\r\nFailed to read PowerSettings1\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(Builds, PowerExportsTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
