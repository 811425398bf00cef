// When Kalnix puts a closed laptop to rest and how, and when a standby's drain is worth a
// word: the decisions alone, every combination that matters.
#include <gtest/gtest.h>

#include <string>

#include "protect/protection_modes.h"
#include "protect/rest_escalation.h"
#include "protect/rest_notices.h"

namespace {

TEST(RestDecisionTest, HowTheLaptopRestsFollowsWhatItCanDo) {
    struct Case {
        SleepCapabilities machine;
        RestKind expected;
    } cases[] = {
        {{true, false, false}, RestKind::Sleep},
        {{true, true, false}, RestKind::Hibernate},
        {{false, true, true}, RestKind::Hibernate},
        {{true, false, true}, RestKind::DisplayOff},  // S3 reported beside Modern Standby is not used by Windows
        {{false, false, true}, RestKind::DisplayOff},
        {{false, false, false}, RestKind::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseRestKind(c.machine), c.expected)
            << c.machine.sleepS3 << c.machine.hibernation << c.machine.modernStandby;
    }
}

TEST(RestDecisionTest, WhenTheLaptopRestsByModeDisplayAndSound) {
    struct Case {
        int mode;
        DWORD restAfter;
        DWORD alarm;
        bool doNothing, external, alarmWithExternal, silent;
        UINT expectedMs;
        const char* shows;
    } cases[] = {
        {2, 60, 15, false, false, false, false, 60000, "lid alarm: RestAfter after the first tone"},
        {2, 60, 15, false, false, false, true, 15000, "a silent alarm waits AlarmTime"},
        {2, 0, 15, false, false, false, true, 0, "RestAfter 0: never, silent or not"},
        {2, 60, 15, true, true, false, false, 0, "docked with Do nothing: quiet"},
        {2, 60, 15, true, true, true, false, 60000, "AlarmWithExternalDisplay 1 rings and rests"},
        {2, 60, 15, false, true, false, false, 60000, "an external display with a sleep due: Windows sleeps"},
        {1, 60, 15, false, false, false, false, 75000, "automatic protection: AlarmTime + RestAfter"},
        {1, 60, 15, false, false, false, true, 75000, "no tone, so sound does not matter"},
        {1, 60, 15, true, false, false, false, 0, "run closed with Do nothing on purpose"},
        {1, 60, 15, false, true, false, false, 0, "an external display in use"},
        {1, 60, 15, false, true, true, false, 75000, "unless AlarmWithExternalDisplay is 1"},
        {1, 0xFFFFFFFF, 0xFFFFFFFF, false, false, false, false, USER_TIMER_MAXIMUM, "the sum capped, no overflow"},
        {2, 0xFFFFFFFF, 15, false, false, false, false, USER_TIMER_MAXIMUM, "the product capped"},
        {0, 60, 15, false, false, false, false, 0, "no protection mode"},
    };
    for (const Case& c : cases) {
        RestSituation s = {c.mode, c.restAfter, c.alarm, c.doNothing, c.external, c.alarmWithExternal, c.silent};
        EXPECT_EQ(RestDelayMs(s), c.expectedMs) << c.shows;
    }
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
