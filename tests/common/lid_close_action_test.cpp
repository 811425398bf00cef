// Automatic protection's lid-close action against the stand-in power library, whose schemes
// live in the test prefix's registry; log lines compared byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "common/power_guard.h"
#include "support/event_recorder.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

// A scheme of the user's own, not the one the stand-in starts with.
const GUID kUserScheme = {0x11223344, 0x5566, 0x7788, {0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x01}};
constexpr DWORD kHibernate = 2;

class LidCloseActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        ClearPowerStandin();
        SetStandinActiveSchemeGuid(kUserScheme);
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override {
        ClearPowerStandin();
        RemoveFile(LogPathBesideExecutable());
    }
    static std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
    static DWORD Battery(const GUID& scheme = kUserScheme) { return StandinLidCloseAction(scheme, true, 99); }
    static DWORD Mains(const GUID& scheme = kUserScheme) { return StandinLidCloseAction(scheme, false, 99); }
    static bool SavedScheme(GUID* scheme) {
        DWORD size = sizeof(*scheme);
        return RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", kSavedLidCloseScheme, RRF_RT_REG_BINARY, nullptr,
                            scheme, &size) == ERROR_SUCCESS &&
               size == sizeof(*scheme);
    }
    static bool NothingSaved() {
        GUID scheme;
        return !SavedScheme(&scheme) && !SettingExists(kSavedLidCloseAction);
    }
    static std::vector<std::wstring> Calls(std::initializer_list<std::wstring> calls) { return calls; }
    static std::wstring Scheme(const GUID& scheme = kUserScheme) { return GuidText(scheme); }
};

TEST_F(LidCloseActionTest, DoNothingOnBatteryBecomesSleepAfterTheOriginalIsSavedMainsStaysTheUsers) {
    EventRecorder events;
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    PresetLidCloseAction(kUserScheme, false, kLidCloseDoNothing);
    ClearPowerCallLog();

    EnforceLidCloseSleep();
    EXPECT_EQ(Battery(), kLidCloseSleep);
    EXPECT_EQ(Mains(), kLidCloseDoNothing) << "docked use keeps the user's action on mains power";
    GUID saved = {};
    ASSERT_TRUE(SavedScheme(&saved));
    EXPECT_EQ(GuidText(saved), Scheme());
    EXPECT_EQ(GetSettingDword(kSavedLidCloseAction, 99), kLidCloseDoNothing);
    EXPECT_EQ(GetSettingDword(kWrittenLidCloseAction, 99), kLidCloseSleep) << "what is taken back later";
    EXPECT_EQ(PowerCallLog(),
              Calls({L"PowerGetActiveScheme", L"PowerReadDCValueIndex " + Scheme(),
                     L"PowerSettingAccessCheck 1 " + GuidText(kLidCloseSetting),
                     L"PowerWriteDCValueIndex " + Scheme() + L" 1", L"PowerGetActiveScheme",
                     L"PowerSetActiveScheme " + Scheme()}));
    EXPECT_EQ(Log(), "Lid-close action on battery set to Sleep\r\n");
    ASSERT_EQ(events.Events().size(), 1u);
    EXPECT_EQ(events.WithId(1003).size(), 1u);
    EXPECT_EQ(events.Events()[0].type, EVENTLOG_WARNING_TYPE);

    // The next tick finds Sleep and keeps the user's original, not our Sleep, as the saved one.
    ClearPowerCallLog();
    EnforceLidCloseSleep();
    EXPECT_EQ(GetSettingDword(kSavedLidCloseAction, 99), kLidCloseDoNothing);
    EXPECT_EQ(PowerCallLog(), Calls({L"PowerGetActiveScheme", L"PowerReadDCValueIndex " + Scheme()}));
}

TEST_F(LidCloseActionTest, EveryOtherActionOnBatteryIsLeftAloneAndNothingIsSaved) {
    for (DWORD action : {kLidCloseSleep, kHibernate, DWORD{3}}) {
        SCOPED_TRACE(action);
        PresetLidCloseAction(kUserScheme, true, action);
        PresetLidCloseAction(kUserScheme, false, kLidCloseDoNothing);
        EnforceLidCloseSleep();
        EXPECT_EQ(Battery(), action);
        EXPECT_EQ(Mains(), kLidCloseDoNothing);
        EXPECT_TRUE(NothingSaved());
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(LidCloseActionTest, ReleasePutsTheUsersActionBackAndClearsTheSavedValues) {
    EventRecorder events;
    PresetPowerPolicy(PatternedPowerPolicy(0x80000004, 0x80000004));
    SetSettingDword(L"PowerSettings1", 3);
    SetSettingDword(L"PowerSettings2", 3);
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    EnforceLidCloseSleep();
    ASSERT_EQ(Battery(), kLidCloseSleep);
    RemoveFile(LogPathBesideExecutable());
    ClearPowerCallLog();

    EXPECT_TRUE(RestorePowerSettings());
    EXPECT_EQ(Battery(), kLidCloseDoNothing);
    EXPECT_TRUE(NothingSaved());
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseDc.Flags, 3u) << "the flags are restored as before";
    std::vector<std::wstring> calls = PowerCallLog();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(calls.begin(), calls.begin() + 4),
              Calls({L"PowerReadDCValueIndex " + Scheme(), L"PowerWriteDCValueIndex " + Scheme() + L" 0",
                     L"PowerGetActiveScheme", L"PowerSetActiveScheme " + Scheme()}));
    EXPECT_EQ(Log(), "Entering RestorePowerSettings\r\nLid-close action on battery restored to 0\r\n");
    ASSERT_EQ(events.WithId(1004).size(), 1u);
    EXPECT_EQ(events.WithId(1004)[0].inserts, std::vector<std::wstring>{L"0"});

    // Once put back, a second release has nothing of ours to restore.
    ClearPowerCallLog();
    EXPECT_TRUE(RestorePowerSettings());
    for (const std::wstring& call : PowerCallLog()) EXPECT_EQ(call.find(L"PowerWrite"), std::wstring::npos);
}

TEST_F(LidCloseActionTest, ReleaseKeepsAnActionTheUserChoseMeanwhile) {
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    EnforceLidCloseSleep();
    PresetLidCloseAction(kUserScheme, true, kHibernate);
    EventRecorder events;
    EXPECT_TRUE(RestoreLidCloseAction());
    EXPECT_EQ(Battery(), kHibernate);
    EXPECT_TRUE(NothingSaved());
    EXPECT_TRUE(events.WithId(1004).empty()) << "nothing was put back";
}

TEST_F(LidCloseActionTest, AfterASchemeSwitchTheOldSchemeGetsItsActionBackAndTheNewOneIsGuarded) {
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    EnforceLidCloseSleep();
    SetStandinActiveSchemeGuid(kBalancedScheme);
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    ClearPowerCallLog();

    EnforceLidCloseSleep();
    EXPECT_EQ(Battery(kUserScheme), kLidCloseDoNothing);
    EXPECT_EQ(Battery(kBalancedScheme), kLidCloseSleep);
    GUID saved = {};
    ASSERT_TRUE(SavedScheme(&saved));
    EXPECT_EQ(GuidText(saved), GuidText(kBalancedScheme));
    for (const std::wstring& call : PowerCallLog())
        EXPECT_NE(call, L"PowerSetActiveScheme " + Scheme()) << "the scheme the user left is not activated again";
    EXPECT_EQ(StandinActiveSchemeGuid().Data1, kBalancedScheme.Data1);
}

// The old scheme cannot get its action back: the active one is not replaced unsaved; a
// deleted old scheme has nothing to get back, and its saved values go.
TEST_F(LidCloseActionTest, AFailedPutBackAfterASchemeSwitchLeavesTheActiveSchemeAlone) {
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    EnforceLidCloseSleep();
    SetStandinActiveSchemeGuid(kBalancedScheme);
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    RemoveFile(LogPathBesideExecutable());
    ClearPowerCallLog();

    FailPowerCall(L"PowerWriteDCValueIndex", ERROR_ACCESS_DENIED);
    EnforceLidCloseSleep();
    FailPowerCall(L"PowerWriteDCValueIndex", 0);
    for (const std::wstring& call : PowerCallLog())
        EXPECT_EQ(call.find(L"PowerWriteDCValueIndex " + GuidText(kBalancedScheme)), std::wstring::npos);
    GUID saved = {};
    ASSERT_TRUE(SavedScheme(&saved));
    EXPECT_EQ(GuidText(saved), Scheme()) << "kept for the next try";
    EXPECT_EQ(Log(),
              "PWDVI Failed: 5\r\n\r\n"
              "Lid-close action of the earlier scheme not put back: the active scheme is left as it is\r\n");

    RemoveFile(LogPathBesideExecutable());
    FailPowerCall(L"PowerReadDCValueIndex", ERROR_FILE_NOT_FOUND);
    EnforceLidCloseSleep();
    FailPowerCall(L"PowerReadDCValueIndex", 0);
    EXPECT_TRUE(NothingSaved());
    EXPECT_EQ(Log(),
              "The scheme of the saved lid-close action no longer exists: the saved action is dropped\r\n"
              "PRDVI Failed: 2\r\n\r\n");
}

TEST_F(LidCloseActionTest, AnAdministratorsLockIsLoggedAndNothingChanges) {
    PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
    LockPowerSettings(true);
    ClearPowerCallLog();
    EnforceLidCloseSleep();
    EXPECT_EQ(Battery(), kLidCloseDoNothing);
    EXPECT_TRUE(NothingSaved());
    for (const std::wstring& call : PowerCallLog()) EXPECT_EQ(call.find(L"PowerWrite"), std::wstring::npos);
    EXPECT_EQ(Log(), "Lid-close action on battery is Do nothing and locked by policy: 5\r\n\r\n");
}

TEST_F(LidCloseActionTest, FailedSchemeCallsAreLoggedAndLeaveTheActionOrTheSavedValues) {
    struct Case {
        const wchar_t* call;
        const char* log;
        DWORD battery;
        bool saved;
    } cases[] = {
        {L"PowerGetActiveScheme", "PGAS Failed: 120\r\n\r\n", kLidCloseDoNothing, false},
        {L"PowerReadDCValueIndex", "PRDVI Failed: 120\r\n\r\n", kLidCloseDoNothing, false},
        // Nothing was replaced: the saved values go, so no later release can take a Sleep
        // the user chooses afterwards for ours.
        {L"PowerWriteDCValueIndex", "PWDVI Failed: 120\r\n\r\n", kLidCloseDoNothing, false},
        {L"PowerSetActiveScheme", "PSAS Failed: 120\r\n\r\n", kLidCloseSleep, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.call, c.call + wcslen(c.call)));
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
        PresetLidCloseAction(kUserScheme, true, kLidCloseDoNothing);
        FailPowerCall(c.call, ERROR_CALL_NOT_IMPLEMENTED);
        EnforceLidCloseSleep();
        FailPowerCall(c.call, 0);
        EXPECT_EQ(Log(), c.log);
        EXPECT_EQ(Battery(), c.battery);
        EXPECT_EQ(!NothingSaved(), c.saved);
    }
}

TEST_F(LidCloseActionTest, ACrashedRunsSavedActionIsRestoredAndAFailedRestoreKeepsIt) {
    // What a run that ended without its teardown leaves: our Sleep and the saved original.
    PresetLidCloseAction(kUserScheme, true, kLidCloseSleep);
    SetSettingRaw(kSavedLidCloseScheme, REG_BINARY, &kUserScheme, sizeof(kUserScheme));
    SetSettingDword(kSavedLidCloseAction, kLidCloseDoNothing);

    FailPowerCall(L"PowerWriteDCValueIndex", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(RestoreLidCloseAction());
    EXPECT_FALSE(NothingSaved()) << "kept for the next try";
    FailPowerCall(L"PowerWriteDCValueIndex", 0);

    EXPECT_TRUE(RestoreLidCloseAction());
    EXPECT_EQ(Battery(), kLidCloseDoNothing);
    EXPECT_TRUE(NothingSaved());
}

TEST(LidCloseReaderTest, ReadsTheActiveSchemesActionForThePowerSource) {
    ClearPowerStandin();
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    PresetLidCloseAction(kBalancedScheme, false, kHibernate);
    DWORD action = 99;
    const wchar_t* failed = nullptr;
    EXPECT_EQ(ReadLidCloseAction(true, &action, &failed), 0u);
    EXPECT_EQ(action, kLidCloseDoNothing);
    EXPECT_EQ(ReadLidCloseAction(false, &action, &failed), 0u);
    EXPECT_EQ(action, kHibernate);

    FailPowerCall(L"PowerReadACValueIndex", ERROR_INVALID_HANDLE);
    EXPECT_EQ(ReadLidCloseAction(false, &action, &failed), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_STREQ(failed, L"PRAVI");
    ClearPowerStandin();
}

}  // namespace
