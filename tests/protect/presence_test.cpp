// Kalnix rings and rests only when nobody is at the laptop: a person's input, the console's
// session, a docked laptop woken by its user, and what a display coming on says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "protect/driver_contract.h"
#include "protect/protection_host.h"
#include "rest_fixture.h"

namespace {

TEST_F(RestTest, APersonsInputStopsTheAlarmAndTheRestWaitsForQuiet) {
    StartRinging();
    presence_.Input(g_trayWindow, false);  // a program's: no device
    EXPECT_TRUE(RingsOn());
    presence_.Input(g_trayWindow, true);
    EXPECT_FALSE(RingsOn());
    EXPECT_EQ(Inserts(1102, 0), std::vector<std::wstring>{L"someone used the keyboard or mouse"});
    After(kAlarmMs - 600, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 3u) << "rings again after the full delay";
    Restart();

    for (bool fromDevice : {true, false}) {
        SCOPED_TRACE(fromDevice ? "a person" : "a program");
        StartClosed(1);
        After(kAlarmMs, kRestTimer);
        rest_.Pass(50000);
        presence_.Input(g_trayWindow, fromDevice);
        After(10000, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), fromDevice ? 0u : 1u);
        After(49000, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), fromDevice ? 0u : 1u);
        After(1000, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), 1u) << "RestAfter of quiet";
        Restart();
    }
}

TEST_F(RestTest, NoRestFromASessionThatIsNotTheConsoles) {
    DWORD mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &mine);
    presence_.ConsoleSession(mine + 7);
    StartRinging();
    After(kRestAfterMs, kRestTimer);
    After(kRestAfterMs, kRestTimer);
    EXPECT_TRUE(rest_.Requests().empty());
    EXPECT_EQ(LogCount("Can't put the laptop to rest from this session: it is not the console's\r\n"), 1u);
    EXPECT_TRUE(RingsOn());
    presence_.ConsoleSession(mine);  // the user switched back
    After(kRestAfterMs, kRestTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u);
}

// Windows applies the lid-close action only when the lid moves: a docked laptop woken from its
// keyboard stays awake under its user. Any other wake with the lid closed may be one in the bag.
TEST_F(RestTest, AWakeWithTheLidClosedWaitsForWindowsOwnSleepAndADockedUserIsLeftAlone) {
    struct Case {
        bool withUser, docked;
        DWORD unattendedSeconds;
        ULONGLONG firstToneMs;  // 0: none until the lid opens and closes again
    } cases[] = {
        {false, false, 120, 150000},  // a wake timer: 2 min and a margin
        {true, false, 120, 150000},   // the power button pressed by the bag
        {false, false, 0, kAlarmMs},  // Windows never sleeps again by itself
        {false, true, 120, 150000},   // docked, but nobody woke it
        {true, true, 120, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.withUser << c.docked << c.unattendedSeconds);
        for (bool onBattery : {false, true})
            PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, c.unattendedSeconds);
        StartClosed(2);
        Power(PBT_APMSUSPEND);
        displays_.Set(c.docked ? std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{kMonitor}
                               : std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{});
        Power(PBT_APMRESUMEAUTOMATIC);
        if (c.withUser) Power(PBT_APMRESUMESUSPEND);
        if (c.firstToneMs) {
            After(c.firstToneMs - 1000, kAlarmTimer);
            EXPECT_TRUE(g_tones.empty());
            After(1000, kAlarmTimer);
            EXPECT_EQ(g_tones.size(), 1u);
        } else {
            After(kDay, kAlarmTimer);
            After(kDay, kRestTimer);
            EXPECT_TRUE(g_tones.empty());
            EXPECT_TRUE(rest_.Requests().empty());
            ChangeDisplays({});  // undocked: whoever worked there has left it closed
            After(kAlarmMs, kAlarmTimer);
            EXPECT_EQ(g_tones.size(), 1u);
        }
        Restart();
        displays_.Set({});
    }
}

// On a Modern Standby laptop a wake may show only as the display coming on: a wake in the bag
// when the layout shows no external display and Kalnix is in the console's session.
TEST_F(RestTest, TheDisplayComingOnWithTheLidClosedIsAWakeInTheBag) {
    for (bool onBattery : {false, true})
        PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, 0);
    DWORD mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &mine);
    struct Case {
        std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays;
        LONG layoutAnswer;
        DWORD console;
        bool rings;
    } cases[] = {
        {{}, ERROR_SUCCESS, mine, true},
        {{kMonitor}, ERROR_SUCCESS, mine, false},
        {{}, ERROR_ACCESS_DENIED, mine, false},
        {{}, ERROR_SUCCESS, mine + 1, false},
    };
    for (const Case& c : cases) {
        StartClosed(2);
        DisplayReport(0);
        Power(PBT_APMSUSPEND);
        displays_.Set(c.displays);
        displays_.AnswerSizeQueryWith(c.layoutAnswer);
        presence_.ConsoleSession(c.console);
        DisplayReport(1);
        After(kAlarmMs, kAlarmTimer);
        EXPECT_EQ(!g_tones.empty(), c.rings) << c.displays.size() << " " << c.layoutAnswer << " " << c.console;
        Restart();
        displays_.Set({});
        displays_.AnswerSizeQueryWith(ERROR_SUCCESS);
        presence_.ConsoleSession(mine);
    }
}

TEST_F(RestTest, AKalnixStartedWithTheLidClosedCountsFromItsStartAndWithoutTheSleep) {
    for (bool onBattery : {false, true})
        PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, 0);
    StartWithoutDriver(2, 15);
    LidReport(0);  // the state at start
    rest_.Pass(5000);
    Power(PBT_APMSUSPEND);
    rest_.Sleep(3600000);
    Power(PBT_APMRESUMEAUTOMATIC);
    After(kAlarmMs, kAlarmTimer);
    ASSERT_EQ(WaitForEvent(1100).size(), 1u);
    EXPECT_EQ(Inserts(1100, 0), std::vector<std::wstring>{L"20 (counted from Kalnix's start: the lid was closed already)"});
}

}  // namespace
