// Automatic protection's hibernate-after timeout on battery against the stand-in power
// library, whose schemes live in the test prefix's registry; log lines compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "common/hibernate_timeout.h"
#include "common/power_guard.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

// A scheme of the user's own, not the one the stand-in starts with.
const GUID kUserScheme = {0x11223344, 0x5566, 0x7788, {0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x02}};
constexpr DWORD kUnset = 99;
constexpr DWORD kMainsTimeout = 0;
constexpr DWORD kUsersLaterChoice = 600;

// What happens after the timeout was enforced on the user's scheme.
enum class Then {
    PutBack,            // RestoreHibernateTimeout
    UserChoosesAnother, // the user sets kUsersLaterChoice, then RestoreHibernateTimeout
    SchemeGone,         // the user deletes the scheme, then RestoreHibernateTimeout
    SwitchScheme,       // the user activates Balanced (never on battery), then another tick
    SwitchPutBackFails, // the same, while no value can be written
    Release,            // RestorePowerSettings, as at exit or uninstall
    ReleaseFails,       // RestorePowerSettings while no value can be written
};

DWORD Battery(const GUID& scheme = kUserScheme) {
    return StandinSchemeSetting(scheme, kSleepSubgroup, kHibernateTimeoutSetting, true, kUnset);
}

void PresetBattery(const GUID& scheme, DWORD seconds) {
    PresetSchemeSetting(scheme, kSleepSubgroup, kHibernateTimeoutSetting, true, seconds);
}

std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }

void ClearLog() { RemoveFile(LogPathBesideExecutable()); }

std::wstring SavedSchemeText() {
    GUID scheme = {};
    DWORD size = sizeof(scheme);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", kSavedHibernateScheme, RRF_RT_REG_BINARY, nullptr,
                     &scheme, &size) != ERROR_SUCCESS ||
        size != sizeof(scheme))
        return L"none";
    return GuidText(scheme);
}

void ExpectSaved(const GUID& scheme, DWORD timeout, DWORD written) {
    EXPECT_EQ(SavedSchemeText(), GuidText(scheme));
    EXPECT_EQ(GetSettingDword(kSavedHibernateTimeout, kUnset), timeout);
    EXPECT_EQ(GetSettingDword(kWrittenHibernateTimeout, kUnset), written);
}

void ExpectNothingSaved() {
    EXPECT_EQ(SavedSchemeText(), L"none");
    EXPECT_FALSE(SettingExists(kSavedHibernateTimeout));
    EXPECT_FALSE(SettingExists(kWrittenHibernateTimeout));
}

// Runs `then`, failing `call` with `error` meanwhile, and returns what a put-back returned.
bool RunThen(Then then, DWORD minutes) {
    struct Failure {
        const wchar_t* call;
        DWORD error;
    } failure = {nullptr, 0};
    if (then == Then::SchemeGone) failure = {L"PowerReadDCValueIndex", ERROR_FILE_NOT_FOUND};
    if (then == Then::SwitchPutBackFails || then == Then::ReleaseFails)
        failure = {L"PowerWriteDCValueIndex", ERROR_ACCESS_DENIED};
    if (then == Then::UserChoosesAnother) PresetBattery(kUserScheme, kUsersLaterChoice);
    if (then == Then::SwitchScheme || then == Then::SwitchPutBackFails) {
        SetStandinActiveSchemeGuid(kBalancedScheme);
        PresetBattery(kBalancedScheme, 0);
    }
    if (failure.call) FailPowerCall(failure.call, failure.error);
    bool result = true;
    switch (then) {
    case Then::PutBack:
    case Then::UserChoosesAnother:
    case Then::SchemeGone: result = RestoreHibernateTimeout(); break;
    case Then::SwitchScheme:
    case Then::SwitchPutBackFails: EnforceHibernateTimeout(minutes, false); break;
    case Then::Release:
    case Then::ReleaseFails: result = RestorePowerSettings(); break;
    }
    if (failure.call) FailPowerCall(failure.call, 0);
    return result;
}

class HibernateTimeoutTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override {
        ClearPowerStandin();
        ClearLog();
    }
    static void Reset() {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        // Saved legacy flags and a readable policy: a release fails only for the timeout.
        SetSettingDword(L"PowerSettings1", 3);
        SetSettingDword(L"PowerSettings2", 3);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(0x80000004, 0x80000004));
        SetStandinActiveSchemeGuid(kUserScheme);
        ClearLog();
    }
};

TEST_F(HibernateTimeoutTest, ANeverOrLongerTimeoutOnBatteryIsShortenedSavedAndPutBack) {
    struct Case {
        const char* shows;
        DWORD before;  // the user's timeout on battery, in seconds
        DWORD minutes; // HibernateAfter
        bool locked;
        DWORD set;     // the timeout on battery after the tick
        const char* enforceLog;
        Then then;
        DWORD finally; // the user's scheme's timeout on battery at the end
        bool result;
        const char* thenLog;
    } cases[] = {
        {"never becomes the setting and comes back", 0, 30, false, 1800,
         "Hibernate-after timeout on battery set to 1800 s\r\n", Then::PutBack, 0, true,
         "Hibernate-after timeout on battery restored to 0 s\r\n"},
        {"longer is shortened; a timeout the user chose since stays", 7200, 30, false, 1800,
         "Hibernate-after timeout on battery set to 1800 s\r\n", Then::UserChoosesAnother, kUsersLaterChoice, true,
         "Hibernate-after timeout on battery restored to 7200 s\r\n"},
        {"equal is left alone", 1800, 30, false, 1800, "", Then::PutBack, 1800, true, ""},
        {"shorter is left alone", 1799, 30, false, 1799, "", Then::PutBack, 1799, true, ""},
        {"HibernateAfter 0 leaves even never alone", 0, 0, false, 0, "", Then::Release, 0, true,
         "Entering RestorePowerSettings\r\n"},
        {"the largest minutes are capped, not wrapped", 0, 0xFFFFFFFF, false, 0xFFFFFFFF,
         "Hibernate-after timeout on battery set to 4294967295 s\r\n", Then::Release, 0, true,
         "Entering RestorePowerSettings\r\nHibernate-after timeout on battery restored to 0 s\r\n"},
        {"an administrator's lock is logged and respected", 0, 30, true, 0,
         "Hibernate-after timeout on battery is locked by policy: 5\r\n\r\n", Then::PutBack, 0, true, ""},
        {"after a scheme switch the earlier scheme gets its timeout back first", 0, 60, false, 3600,
         "Hibernate-after timeout on battery set to 3600 s\r\n", Then::SwitchScheme, 0, true,
         "Hibernate-after timeout on battery restored to 0 s\r\nHibernate-after timeout on battery set to 3600 s\r\n"},
        {"while the earlier scheme cannot get it back, the active one is left alone", 0, 60, false, 3600,
         "Hibernate-after timeout on battery set to 3600 s\r\n", Then::SwitchPutBackFails, 3600, true,
         "PWDVI Failed: 5\r\n\r\n"
         "Hibernate-after timeout of the earlier scheme not put back: the active scheme is left as it is\r\n"},
        {"a deleted scheme's saved timeout is dropped", 0, 30, false, 1800,
         "Hibernate-after timeout on battery set to 1800 s\r\n", Then::SchemeGone, 1800, true,
         "The scheme of the saved hibernate-after timeout no longer exists: the saved timeout is dropped\r\n"},
        {"a failed put-back fails the release and keeps the saved values", 0, 30, false, 1800,
         "Hibernate-after timeout on battery set to 1800 s\r\n", Then::ReleaseFails, 1800, false,
         "Entering RestorePowerSettings\r\nPWDVI Failed: 5\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        Reset();
        PresetBattery(kUserScheme, c.before);
        PresetSchemeSetting(kUserScheme, kSleepSubgroup, kHibernateTimeoutSetting, false, kMainsTimeout);
        LockPowerSettings(c.locked);
        ClearPowerCallLog();

        EnforceHibernateTimeout(c.minutes, false);
        LockPowerSettings(false);
        EXPECT_EQ(Battery(), c.set);
        EXPECT_EQ(StandinSchemeSetting(kUserScheme, kSleepSubgroup, kHibernateTimeoutSetting, false, kUnset),
                  kMainsTimeout);
        if (c.set != c.before) ExpectSaved(kUserScheme, c.before, c.set);
        else ExpectNothingSaved();
        if (c.minutes == 0) {
            EXPECT_TRUE(PowerCallLog().empty()) << "not even read";
        }
        EXPECT_EQ(Log(), c.enforceLog);

        ClearLog();
        ClearPowerCallLog();
        EXPECT_EQ(RunThen(c.then, c.minutes), c.result);
        EXPECT_EQ(Battery(), c.finally);
        EXPECT_EQ(Log(), c.thenLog);
        if (c.then == Then::SwitchScheme) {
            EXPECT_EQ(Battery(kBalancedScheme), c.set);
            ExpectSaved(kBalancedScheme, 0, c.set);
            for (const std::wstring& call : PowerCallLog())
                EXPECT_NE(call, L"PowerSetActiveScheme " + GuidText(kUserScheme)) << "the left scheme stays inactive";
        } else if (c.then == Then::SwitchPutBackFails) {
            EXPECT_EQ(Battery(kBalancedScheme), 0u);
            ExpectSaved(kUserScheme, c.before, c.set);
        } else if (c.then == Then::ReleaseFails) {
            ExpectSaved(kUserScheme, c.before, c.set);
            EXPECT_EQ(ReadStandinPolicy().user.LidCloseDc.Flags, 3u) << "the flags are restored all the same";
        } else {
            ExpectNothingSaved();
        }
    }
}

// Where Windows hibernates a Modern Standby laptop at an adaptive threshold, 0 means that.
TEST_F(HibernateTimeoutTest, AnAdaptiveZeroStaysWhileALongerTimeoutIsStillShortened) {
    struct Case {
        DWORD before, set;
    } cases[] = {{0, 0}, {7200, 1800}};
    for (const Case& c : cases) {
        Reset();
        PresetBattery(kUserScheme, c.before);
        EnforceHibernateTimeout(30, true);
        EXPECT_EQ(Battery(), c.set) << c.before;
        if (c.set == c.before) ExpectNothingSaved();
        else ExpectSaved(kUserScheme, c.before, c.set);
    }
}

}  // namespace
