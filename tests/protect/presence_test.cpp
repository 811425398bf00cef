// Kalnix rings and rests only when nobody is at the laptop: a person's input, the console's
// session, a docked laptop woken by its user, and what a display coming on says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "protect/driver_contract.h"
#include "protect/protection_messages.h"
#include "rest_fixture.h"

namespace {

TEST_F(RestTest, APersonsInputStopsTheAlarmAndTheRestWaitsForQuiet) {
    StartRinging();
    EXPECT_TRUE(RingsOn());
    presence_.Input(g_trayWindow, true);
    EXPECT_FALSE(RingsOn());
    EXPECT_EQ(Inserts(1102, 0), std::vector<std::wstring>{L"someone used the keyboard or mouse"});
    After(kAlarmMs - 600, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 3u) << "rings again after the full delay";
    Restart();

    StartClosed(1);
    After(kAlarmMs, kRestTimer);
    rest_.Pass(50000);
    presence_.Input(g_trayWindow, true);
    After(10000, kRestTimer);
    After(49000, kRestTimer);
    EXPECT_TRUE(rest_.Requests().empty());
    After(1000, kRestTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u) << "RestAfter of quiet";
}

TEST_F(RestTest, NoRestFromASessionThatIsNotTheConsoles) {
    DWORD mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &mine);
    for (bool remote : {false, true}) {
        SCOPED_TRACE(remote ? "a remote session" : "a session a user switch has left");
        presence_.ConsoleSession(remote ? mine : mine + 7);
        presence_.RemoteSession(remote);
        StartRinging();
        After(kRestAfterMs, kRestTimer);
        After(kRestAfterMs, kRestTimer);
        EXPECT_TRUE(rest_.Requests().empty());
        EXPECT_TRUE(RingsOn());
        presence_.ConsoleSession(mine);  // back at the laptop
        presence_.RemoteSession(false);
        After(kRestAfterMs, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), 1u);
        Restart();
    }
    EXPECT_EQ(LogCount("Can't put the laptop to rest from this session: it is not the console's\r\n"), 2u)
        << "once a closure";
}

// Windows applies the lid-close action only when the lid moves: a docked laptop woken from its
// keyboard stays awake under its user, judged from the displays once they settled after the
// resume. Any other wake with the lid closed may be one in the bag.
TEST_F(RestTest, AWakeWithTheLidClosedWaitsForWindowsOwnSleepAndADockedUserIsLeftAlone) {
    using Layout = std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>;
    struct Case {
        const char* shows;
        bool withUser;
        Layout atResume, settled;
        DWORD unattendedSeconds;
        ULONGLONG firstToneMs;  // 0: none until the last external display has left
        LONG layout = ERROR_SUCCESS;
        HRESULT records = S_OK;
    } cases[] = {
        {"a wake timer: 2 min and a margin", false, {}, {}, 120, 150000},
        {"the power button pressed by the bag", true, {}, {}, 120, 150000},
        {"the same, locked: the monitors' records tell", true, {}, {}, 120, 150000, ERROR_ACCESS_DENIED},
        {"Windows never sleeps again by itself", false, {}, {}, 0, kAlarmMs},
        {"docked, but nobody woke it", false, {kMonitor}, {kMonitor}, 120, 150000},
        {"a docked user", true, {kMonitor}, {kMonitor}, 120, 0},
        {"a dock's display back after the resume", true, {}, {kMonitor}, 120, 0},
        {"no source reads the layout, read again", true, {}, {}, 120, 0, ERROR_ACCESS_DENIED, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        for (bool onBattery : {false, true})
            PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, c.unattendedSeconds);
        StartClosed(2);
        Power(PBT_APMSUSPEND);
        displays_.Set(c.atResume);
        displays_.AnswerSizeQueryWith(c.layout);
        displays_.AnswerMonitorQueryWith(c.records);
        Resume(c.withUser);
        displays_.Set(c.settled);
        if (c.withUser) Settle();
        for (int i = 0; FAILED(c.records) && i < kHoldUnreadableRereads; ++i) Settle();
        if (c.firstToneMs) {
            After(c.firstToneMs - 1000, kAlarmTimer);
            EXPECT_TRUE(g_tones.empty());
            After(1000, kAlarmTimer);
            EXPECT_EQ(g_tones.size(), 1u);
        } else {
            EXPECT_TRUE(QuietForADay());
            displays_.AnswerSizeQueryWith(ERROR_SUCCESS);
            displays_.AnswerMonitorQueryWith(S_OK);
            ChangeDisplays({});  // undocked: whoever worked there has left it closed
            Settle();
            After(kAlarmMs, kAlarmTimer);
            EXPECT_EQ(g_tones.size(), 1u);
        }
        Restart();
        displays_.Set({});
        displays_.AnswerSizeQueryWith(ERROR_SUCCESS);
        displays_.AnswerMonitorQueryWith(S_OK);
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
        HRESULT recordsAnswer;
        DWORD console;
        bool rings;
    } cases[] = {
        {{}, ERROR_SUCCESS, S_OK, mine, true},
        {{kMonitor}, ERROR_SUCCESS, S_OK, mine, false},
        {{}, ERROR_ACCESS_DENIED, S_OK, mine, true},  // locked: the monitors' records tell
        {{}, ERROR_ACCESS_DENIED, E_FAIL, mine, false},
        {{}, ERROR_SUCCESS, S_OK, mine + 1, false},
    };
    for (const Case& c : cases) {
        StartClosed(2);
        DisplayReport(0);
        Power(PBT_APMSUSPEND);
        displays_.Set(c.displays);
        displays_.AnswerSizeQueryWith(c.layoutAnswer);
        displays_.AnswerMonitorQueryWith(c.recordsAnswer);
        presence_.ConsoleSession(c.console);
        DisplayReport(1);
        After(kAlarmMs, kAlarmTimer);
        EXPECT_EQ(!g_tones.empty(), c.rings) << c.displays.size() << " " << c.layoutAnswer << " " << c.console;
        Restart();
        displays_.Set({});
        displays_.AnswerSizeQueryWith(ERROR_SUCCESS);
        displays_.AnswerMonitorQueryWith(S_OK);
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
