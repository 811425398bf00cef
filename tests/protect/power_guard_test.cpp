// The power policy guard against the stand-in power profile library, whose policy lives in
// the test prefix's registry; log lines compared byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/power_guard.h"
#include "support/event_recorder.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kLockConsole = 0x20000000;  // POWER_ACTION_LOCK_CONSOLE, outside the forced bits

TEST(ForcedLidFlagsTest, ClearsQueryAndUiSetsOverrideAndCriticalKeepsTheRest) {
    struct Case {
        DWORD before, after;
        const char* shows;
    } cases[] = {
        {0x00000003, 0x80000004, "query and UI allowed become compulsory"},
        {0x00000000, 0x80000004, "no flags"},
        {0x80000004, 0x80000004, "already forced"},
        {kLockConsole | 0x3, kLockConsole | 0x80000004, "lock-console kept"},
        {0x40000001, 0xC0000004, "disable-wakes kept"},
        {0xFFFFFFFF, 0xFFFFFFFC, "every other bit kept"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ForcedLidFlags(c.before), c.after) << c.shows;
        EXPECT_EQ(ForcedLidFlags(ForcedLidFlags(c.before)), c.after) << c.shows << ", forced twice";
    }
}

class PowerGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        ClearPowerStandin();
        SetStandinActiveScheme(3);
        preset_ = PatternedPowerPolicy(0x00000003, kLockConsole | 0x00000001);
        preset_.user.LidCloseAc.Action = PowerActionNone;  // a lid that does nothing must stay so
        PresetPowerPolicy(preset_);
        ClearPowerCallLog();
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override { RemoveFile(LogPathBesideExecutable()); }

    std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
    static GLOBAL_POWER_POLICY WithFlags(GLOBAL_POWER_POLICY policy, DWORD ac, DWORD dc) {
        policy.user.LidCloseAc.Flags = ac;
        policy.user.LidCloseDc.Flags = dc;
        return policy;
    }
    static bool SameBytes(const GLOBAL_POWER_POLICY& a, const GLOBAL_POWER_POLICY& b) {
        return memcmp(&a, &b, sizeof(a)) == 0;
    }
    void SaveFlags(DWORD ac, DWORD dc) {
        SetSettingDword(L"PowerSettings1", ac);
        SetSettingDword(L"PowerSettings2", dc);
    }
    GLOBAL_POWER_POLICY preset_;
};

const std::vector<std::wstring> kApplySequence = {L"ReadGlobalPwrPolicy", L"WriteGlobalPwrPolicy",
                                                  L"GetActivePwrScheme", L"SetActivePwrScheme 3"};

TEST_F(PowerGuardTest, ForceChangesOnlyTheTwoLidCloseFlagsAndReactivatesTheScheme) {
    ForcePowerSettings();
    EXPECT_TRUE(SameBytes(ReadStandinPolicy(), WithFlags(preset_, 0x80000004, kLockConsole | 0x80000004)));
    EXPECT_EQ(PowerCallLog(), kApplySequence);
    EXPECT_EQ(Log(), "") << "nothing is logged on success";
    EXPECT_FALSE(SettingExists(L"PowerSettings1")) << "forcing does not save";
}

TEST_F(PowerGuardTest, SaveForceRestoreLeavesThePolicyAsItWas) {
    ASSERT_TRUE(SavePowerSettings());
    EXPECT_EQ(GetSettingDword(L"PowerSettings1", 0), 0x00000003u);
    EXPECT_EQ(GetSettingDword(L"PowerSettings2", 0), kLockConsole | 0x00000001);
    EXPECT_TRUE(SameBytes(ReadStandinPolicy(), preset_)) << "saving writes nothing to the policy";
    EXPECT_EQ(PowerCallLog(), std::vector<std::wstring>{L"ReadGlobalPwrPolicy"});

    ForcePowerSettings();
    ASSERT_EQ(ReadStandinPolicy().user.LidCloseAc.Flags, 0x80000004u);

    ClearPowerCallLog();
    ASSERT_TRUE(RestorePowerSettings());
    EXPECT_TRUE(SameBytes(ReadStandinPolicy(), preset_));
    EXPECT_EQ(PowerCallLog(), kApplySequence);
    EXPECT_EQ(Log(), "Entering SavePowerSettings\r\nEntering RestorePowerSettings\r\n");
}

TEST_F(PowerGuardTest, SaveAfterForceStoresTheForcedFlags) {
    ForcePowerSettings();
    ASSERT_TRUE(SavePowerSettings());
    EXPECT_EQ(GetSettingDword(L"PowerSettings1", 0), 0x80000004u);
    EXPECT_EQ(GetSettingDword(L"PowerSettings2", 0), kLockConsole | 0x80000004);
}

TEST_F(PowerGuardTest, EachFailedPowerCallIsLoggedAndEndsTheOperation) {
    struct Case {
        const wchar_t* call;
        DWORD error;
        const char* forceLog;
        const char* restoreLog;
    } cases[] = {
        {L"ReadGlobalPwrPolicy", 5, "RGPP Failed: 5\r\n\r\n", "Entering RestorePowerSettings\r\nRGPP Failed: 5\r\n\r\n"},
        {L"WriteGlobalPwrPolicy", 1, "WGPP Failed: 1\r\n\r\n", "Entering RestorePowerSettings\r\nWGPP Failed: 1\r\n\r\n"},
        {L"GetActivePwrScheme", 87, "GAPS Failed: 87\r\n\r\n", "Entering RestorePowerSettings\r\nGAPS Failed: 87\r\n\r\n"},
        {L"SetActivePwrScheme", 0xC0000022, "SAPS Failed: -1073741790\r\n\r\n",
         "Entering RestorePowerSettings\r\nSAPS Failed: -1073741790\r\n\r\n"},
    };
    SaveFlags(0x11, 0x22);
    EventRecorder events;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing " << std::string(c.call, c.call + wcslen(c.call)));
        FailPowerCall(c.call, c.error);

        RemoveFile(LogPathBesideExecutable());
        ClearPowerCallLog();
        ForcePowerSettings();
        EXPECT_EQ(Log(), c.forceLog);
        std::vector<std::wstring> calls = PowerCallLog();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().rfind(c.call, 0), 0u) << "nothing is called after the failure";

        RemoveFile(LogPathBesideExecutable());
        EXPECT_FALSE(RestorePowerSettings());
        EXPECT_EQ(Log(), c.restoreLog);

        FailPowerCall(c.call, 0);
        PresetPowerPolicy(preset_);
    }
    // The forced flags lost, once a run however often the hourly tick fails.
    ASSERT_EQ(events.Events().size(), 1u);
    EXPECT_EQ(events.WithId(1301).size(), 1u);
    EXPECT_EQ(events.Events()[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events.Events()[0].inserts, std::vector<std::wstring>{L"1"});
}

TEST_F(PowerGuardTest, SaveWithUnreadablePolicyStoresNothing) {
    FailPowerCall(L"ReadGlobalPwrPolicy", 2);
    EXPECT_FALSE(SavePowerSettings());
    EXPECT_EQ(Log(), "Entering SavePowerSettings\r\nRGPP Failed: 2\r\n\r\n");
    EXPECT_FALSE(SettingExists(L"PowerSettings1"));
    EXPECT_FALSE(SettingExists(L"PowerSettings2"));
}

TEST_F(PowerGuardTest, SaveWithoutTheSettingsKeyFails) {
    DeleteSettingsKey();  // also closes the log gate, so only the result shows
    EXPECT_FALSE(SavePowerSettings());
    EXPECT_FALSE(SettingExists(L"PowerSettings1"));
    EXPECT_TRUE(SameBytes(ReadStandinPolicy(), preset_));
}

TEST_F(PowerGuardTest, UnreadableSavedFlagsLeaveThePolicyUntouched) {
    const BYTE fiveBytes[5] = {0x04, 0x00, 0x00, 0x80, 0x00};
    struct Case {
        const char* shows;
        void (*prepare)(const BYTE*);
        const char* log;
    } cases[] = {
        {"nothing saved", [](const BYTE*) {},
         "Entering RestorePowerSettings\r\nRQVE Failed: 2\r\n\r\nFailed to read PowerSettings1\r\n\r\n"},
        {"only PowerSettings1 saved", [](const BYTE*) { SetSettingDword(L"PowerSettings1", 0x80000004); },
         "Entering RestorePowerSettings\r\nRQVE Failed: 2\r\n\r\nFailed to read PowerSettings2\r\n\r\n"},
        {"PowerSettings1 of 5 bytes",
         [](const BYTE* bytes) {
             SetSettingRaw(L"PowerSettings1", REG_BINARY, bytes, 5);
             SetSettingDword(L"PowerSettings2", 0x80000004);
         },
         "Entering RestorePowerSettings\r\nRQVE Failed: 234\r\n\r\nFailed to read PowerSettings1\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        c.prepare(fiveBytes);
        RemoveFile(LogPathBesideExecutable());
        ClearPowerCallLog();
        EXPECT_FALSE(RestorePowerSettings());
        EXPECT_EQ(Log(), c.log);
        EXPECT_TRUE(SameBytes(ReadStandinPolicy(), preset_));
        EXPECT_EQ(PowerCallLog(), std::vector<std::wstring>{L"ReadGlobalPwrPolicy"});
    }
}

}  // namespace
