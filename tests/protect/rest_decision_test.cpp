// When Kalnix puts a closed laptop to rest and how, and when a standby's drain is worth a
// word: the decisions alone, every combination that matters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protect/presence.h"
#include "protect/protection_settings.h"
#include "protect/rest_decision.h"
#include "protect/rest_notices.h"
#include "support/test_support.h"

namespace {

TEST(RestDecisionTest, TheWaysToRestFollowWhatTheLaptopCanDoNow) {
    using K = RestKind;
    struct Case {
        bool s3, s4, hiberFile, reducedFile, modernStandby;
        std::vector<RestKind> expected;
        const char* shows;
    } cases[] = {
        {true, false, false, false, false, {K::Sleep}, "S3 only"},
        {true, true, true, false, false, {K::Hibernate, K::Sleep}, "hibernation first, sleep if refused"},
        {false, true, true, false, true, {K::Hibernate, K::DisplayOff}, "Modern Standby with hibernation"},
        {true, false, false, false, true, {K::DisplayOff}, "S3 reported beside Modern Standby is not used"},
        {true, true, true, true, false, {K::Sleep}, "a reduced file serves fast start-up only"},
        {true, true, false, false, false, {K::Sleep}, "S4 without a hibernation file"},
        {false, false, false, false, false, {}, "no way"},
    };
    for (const Case& c : cases) {
        SYSTEM_POWER_CAPABILITIES capabilities = {};
        capabilities.SystemS3 = c.s3;
        capabilities.SystemS4 = c.s4;
        capabilities.HiberFilePresent = c.hiberFile;
        BYTE* bytes = reinterpret_cast<BYTE*>(&capabilities);
        bytes[kAoAcOffset] = c.modernStandby;
        bytes[kHiberFileTypeOffset] = c.reducedFile ? kHiberFileTypeReduced : 0;  // 0: before Windows 10
        RestWays ways = ChooseRestWays(CapabilitiesFrom(capabilities));
        EXPECT_EQ(std::vector<RestKind>(ways.kinds, ways.kinds + ways.count), c.expected) << c.shows;
    }
}

// The situation's defaults: nobody there, the laptop's own panel only, console session.
RestSituation Situation(int mode, DWORD restAfter = 60, DWORD alarm = 15) {
    RestSituation s = {};
    s.mode = mode;
    s.restAfterSeconds = restAfter;
    s.alarmSeconds = alarm;
    s.displays = Displays::LaptopOnly;
    s.consoleSession = true;
    s.msSinceInput = kNoInputSeen;
    return s;
}

TEST(RestDecisionTest, WhenTheLaptopRestsByModeDisplayAndSound) {
    struct Case {
        RestSituation s;
        UINT expectedMs;
        const char* shows;
    };
    auto with = [](RestSituation s, void (*change)(RestSituation&)) { change(s); return s; };
    const Case cases[] = {
        {Situation(2), 60000, "lid alarm: RestAfter after the first tone"},
        {with(Situation(2), [](RestSituation& s) { s.alarmSilent = true; }), 15000, "a silent alarm waits AlarmTime"},
        {with(Situation(2, 0), [](RestSituation& s) { s.alarmSilent = true; }), 0, "RestAfter 0: never, silent or not"},
        {with(Situation(2), [](RestSituation& s) { s.lidCloseDoesNothing = true; s.onBattery = true; }), 60000,
         "lid alarm with Do nothing on battery, in a bag: Windows never tries, Kalnix rests"},
        {with(Situation(2), [](RestSituation& s) { s.lidCloseDoesNothing = true; }), 0,
         "lid alarm with Do nothing on mains: docked closed on purpose, its monitor gone a moment"},
        {with(Situation(2), [](RestSituation& s) { s.displays = Displays::External; }), 0,
         "lid alarm, external display with a sleep due: it rings, but someone may work at the display"},
        {with(Situation(2), [](RestSituation& s) { s.displays = Displays::Unreadable; }), 0,
         "a layout that cannot be read counts as an external display"},
        {with(Situation(2), [](RestSituation& s) { s.displays = Displays::External; s.alarmWithExternalDisplay = true; }),
         60000, "AlarmWithExternalDisplay 1: the laptop must never run closed"},
        {with(Situation(2), [](RestSituation& s) { s.heldForUser = true; }), 0, "woken by someone, docked"},
        {with(Situation(2), [](RestSituation& s) { s.heldForUser = true; s.alarmWithExternalDisplay = true; }), 0,
         "held for someone whatever AlarmWithExternalDisplay says"},
        {Situation(1), 75000, "automatic protection: AlarmTime + RestAfter"},
        {with(Situation(1), [](RestSituation& s) { s.alarmSilent = true; }), 75000, "no tone, so sound does not matter"},
        {with(Situation(1), [](RestSituation& s) { s.lidCloseDoesNothing = true; }), 0, "run closed on mains with Do nothing"},
        {with(Situation(1), [](RestSituation& s) { s.lidCloseDoesNothing = true; s.onBattery = true; }), 75000,
         "Do nothing on battery: the bag"},
        {with(Situation(1), [](RestSituation& s) { s.displays = Displays::External; }), 0, "automatic protection docked"},
        {with(Situation(1), [](RestSituation& s) { s.displays = Displays::Unreadable; s.alarmWithExternalDisplay = true; }),
         75000, "AlarmWithExternalDisplay 1 overrides the displays"},
        {Situation(1, 0xFFFFFFFF, 0xFFFFFFFF), USER_TIMER_MAXIMUM, "the sum capped, no overflow"},
        {Situation(2, 0xFFFFFFFF), USER_TIMER_MAXIMUM, "the product capped"},
        {Situation(0), 0, "no protection mode"},
    };
    for (const Case& c : cases) EXPECT_EQ(RestDelayMs(c.s), c.expectedMs) << c.shows;
}

// At the rest timer's tick: only when nobody is at the laptop.
TEST(RestDecisionTest, ARestWaitsForQuietAndForTheConsole) {
    struct Case {
        DWORD restAfter;
        ULONGLONG msSinceInput;
        bool console;
        RestVerdict verdict;
        UINT waitMs;
        const char* shows;
    } cases[] = {
        {60, kNoInputSeen, true, RestVerdict::Rest, 0, "nobody touched anything"},
        {60, 60000, true, RestVerdict::Rest, 0, "exactly RestAfter of quiet"},
        {60, 59999, true, RestVerdict::WaitForQuiet, 1, "one millisecond short"},
        {60, 0, true, RestVerdict::WaitForQuiet, 60000, "input right now: RestAfter from now"},
        {10, 12000, true, RestVerdict::WaitForQuiet, 18000, "a short RestAfter still wants 30 s of quiet"},
        {10, 30000, true, RestVerdict::Rest, 0, "30 s of quiet"},
        {60, kNoInputSeen, false, RestVerdict::NotFromThisSession, 0, "a remote or disconnected session"},
        {60, 0, false, RestVerdict::NotFromThisSession, 0, "the console first: input there is not seen here"},
        {0, kNoInputSeen, true, RestVerdict::Never, 0, "RestAfter 0"},
    };
    for (const Case& c : cases) {
        RestSituation s = Situation(2, c.restAfter);
        s.msSinceInput = c.msSinceInput;
        s.consoleSession = c.console;
        RestDecision decision = DecideRest(s);
        EXPECT_EQ(decision.verdict, c.verdict) << c.shows;
        EXPECT_EQ(decision.waitMs, c.waitMs) << c.shows;
    }
    RestSituation docked = Situation(1);
    docked.displays = Displays::External;
    EXPECT_EQ(DecideRest(docked).verdict, RestVerdict::Never) << "an external display decides before input";
}

// The situation read afresh takes Group Policy's RestAfter before the local one.
TEST(RestDecisionTest, RestAfterIsThePolicysWhereOneIsSet) {
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const struct { DWORD local, policy, applied; } rows[] = {{90, kAbsent, 90}, {90, 0, 0}, {0, 120, 120}};
    PolicyCleanup policies;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "local " << row.local << ", policy " << row.policy);
        DeletePolicyKey();
        SetSettingDword(L"RestAfter", row.local);
        if (row.policy != kAbsent) SetPolicyDword(L"RestAfter", row.policy);
        EXPECT_EQ(CurrentRestSituation(2, 10, false, false, Displays::LaptopOnly, PresenceSeen{true, kNoInputSeen}).restAfterSeconds, row.applied);
    }
    DeleteSettingValue(L"RestAfter");
}

TEST(StandbyDrainTest, AnAlertOnlyWhenTheLossPerHourExceedsTheSetting) {
    constexpr ULONGLONG kMinute = 60000;
    struct Case {
        int before, after;
        ULONGLONG elapsedMs;
        DWORD alert;
        const wchar_t* expected;  // null: no alert
    } cases[] = {
        {80, 60, 60 * kMinute, 5, L"The battery lost 20% in 1 h 00 min of standby (20% an hour)"},
        {80, 75, 60 * kMinute, 5, nullptr},  // exactly the setting is no alert
        {80, 74, 60 * kMinute, 5, L"The battery lost 6% in 1 h 00 min of standby (6% an hour)"},
        {90, 88, 25 * kMinute, 4, L"The battery lost 2% in 0 h 25 min of standby (5% an hour)"},
        {100, 1, 600 * kMinute, 5, L"The battery lost 99% in 10 h 00 min of standby (10% an hour)"},
        {80, 79, 9 * kMinute, 1, nullptr},   // too short to judge
        {60, 80, 60 * kMinute, 5, nullptr},  // charged meanwhile
        {80, 10, 60 * kMinute, 0, nullptr},  // alert off
        {80, 10, 60 * kMinute, 0xFFFFFFFF, nullptr},
        {80, 79, 0xFFFFFFFFFFFFull, 999, nullptr},  // years: no overflow
    };
    for (const Case& c : cases) {
        wchar_t text[256] = L"untouched";
        bool alert = StandbyDrainText(c.before, c.after, c.elapsedMs, c.alert, text, 256);
        EXPECT_EQ(alert, c.expected != nullptr) << c.before << " " << c.after;
        if (c.expected) {
            EXPECT_STREQ(text, c.expected);
        }
    }
}

}  // namespace
