// When nobody hears the alarm: the real tray window puts a closed laptop to rest itself. Time is
// the seam's two clocks, moved by the test, and the window's timers fire when the test posts
// their ticks: each wait is checked exactly, whatever the machine's load.
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

EventRecorder* g_events = nullptr;
size_t g_restEventsAtSuspend = 0;

void LookAtSuspend() { g_restEventsAtSuspend = g_events->WithId(1200).size(); }

TEST_F(RestTest, AnAlarmNobodyHearsRestsAfterRestAfterTheWayTheLaptopCan) {
    struct Case {
        bool s3, hibernation, modernStandby;
        std::vector<RestRequest> expected;
        const wchar_t* how;  // the rest event's first insert; null: the no-way event
    } cases[] = {
        {true, false, false, {R::Sleep}, L"sleep"},
        {true, true, false, {R::Hibernate}, L"hibernation"},
        {false, true, true, {R::Hibernate}, L"hibernation"},
        {false, false, true, {R::DisplayOff}, L"display off for Modern Standby"},
        {false, false, false, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s3 << c.hibernation << c.modernStandby);
        rest_.Machine(c.s3, c.hibernation, c.modernStandby);
        StartClosed(2);
        After(kAlarmMs - 1000, kAlarmTimer);
        EXPECT_TRUE(g_tones.empty()) << "a tick before its time waits";
        After(1000, kAlarmTimer);
        EXPECT_EQ(g_tones.size(), 1u);
        EXPECT_EQ(WaitForEvent(1100).size(), 1u) << "the alarm started, with the report's causes";
        After(kRestAfterMs - 1000, kRestTimer);
        EXPECT_TRUE(rest_.Requests().empty()) << "rings first for RestAfter";
        After(1000, kRestTimer);
        EXPECT_EQ(rest_.Requests(), c.expected);
        if (c.expected == std::vector<RestRequest>{R::DisplayOff}) DisplayReport(0);  // standby begins
        if (c.how) {
            EXPECT_EQ(Inserts(1200, 0), std::vector<std::wstring>{c.how});
            EXPECT_EQ(Inserts(1200, 1), std::vector<std::wstring>{L"75"}) << "seconds since the lid closed";
            EXPECT_EQ(Inserts(1102, 0), std::vector<std::wstring>{L"Kalnix put the laptop to rest"});
        } else {
            EXPECT_TRUE(events_.WithId(1200).empty());
            EXPECT_EQ(events_.WithId(1202).size(), 1u);
            EXPECT_TRUE(RingsOn()) << "the alarm is all there is";
        }
        Restart();
    }
    EXPECT_EQ(LogCount("Can't put the laptop to rest: it has neither hibernation nor sleep nor Modern Standby\r\n"), 1u);
}

// Each way Windows refuses is said and the next one tried; when none rested the laptop, the
// alarm rings on and no rest is tried again while the lid stays closed.
TEST_F(RestTest, ARefusedWayFallsThroughAndARestThatDidNotHappenIsNotRepeated) {
    rest_.Machine(true, true, false);
    rest_.Refuse(R::Hibernate, ERROR_ACCESS_DENIED);
    StartRinging();
    After(kRestAfterMs, kRestTimer);
    EXPECT_EQ(rest_.Requests(), (std::vector<RestRequest>{R::Hibernate, R::Sleep}));
    EXPECT_EQ(LogCount("SSS Failed: 5\r\n"), 1u);
    EXPECT_EQ(Inserts(1201, 1), std::vector<std::wstring>{L"error 5"});
    EXPECT_EQ(Inserts(1200, 0), (std::vector<std::wstring>{L"hibernation", L"sleep"})) << "each told before its call";
    Restart();

    // Wine's SetSuspendState, and a driver's late veto on Windows: success without a sleep.
    rest_.Machine(true, false, false);
    rest_.SuspendSleepsFor(0);
    StartRinging();
    After(kRestAfterMs, kRestTimer);
    EXPECT_EQ(rest_.Requests(), std::vector<RestRequest>{R::Sleep});
    EXPECT_EQ(LogCount("SetSuspendState returned, but the laptop did not sleep\r\n"), 1u);
    EXPECT_EQ(Inserts(1201, 1), std::vector<std::wstring>{L"the laptop did not sleep"});
    EXPECT_TRUE(RingsOn());
    After(kDay, kRestTimer);
    After(0, kAlarmTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u) << "not tried again in this closure";
    EXPECT_TRUE(events_.WithId(1102).empty()) << "the alarm has not ended";
    presence_.Input(g_trayWindow, true);  // heard: the alarm waits its full delay again
    After(kAlarmMs, kAlarmTimer);
    EXPECT_TRUE(RingsOn());
    After(kDay, kRestTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u) << "still not, once it rings again";
}

// SetSuspendState returns only after the wake: what is told of the rest is told before the
// call, and the return is a resume whose lid state is asked anew.
TEST_F(RestTest, ARestIsToldBeforeTheCallAndItsReturnIsAResume) {
    SetSettingDword(L"StandbyDrainAlert", 5);
    rest_.Battery(80);
    rest_.SuspendSleepsFor(3600000);
    g_events = &events_;
    rest_.DuringSuspend(LookAtSuspend);
    StartRinging();
    size_t registrations = g_lidRegistrations.size();
    After(kRestAfterMs, kRestTimer);
    ASSERT_EQ(rest_.Requests(), std::vector<RestRequest>{R::Sleep});
    EXPECT_EQ(g_restEventsAtSuspend, 1u) << "the rest event was written before the call";
    rest_.Battery(60);
    ASSERT_EQ(g_lidRegistrations.size(), registrations + 1) << "the lid's state asked for anew";
    EXPECT_TRUE(IsEqualGUID(g_lidRegistrations.back().setting, kLidSwitch));
    Power(PBT_APMRESUMEAUTOMATIC);  // Windows' own word of the wake comes after the return
    After(150000, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u) << "nothing armed from the lid's state before the sleep";

    // The answer, as the driver's monitor gives it: still closed, woken in the bag.
    PostMessageW(g_trayWindow, kLidStateMessage, kLidClosed, kLidStateOnRequest);
    PumpMessages();
    After(kAlarmMs, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u) << "a wake nobody asked for waits for Windows' own sleep";
    After(120000 + 30000 - kAlarmMs, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 2u);
    After(kRestAfterMs, kRestTimer);
    ASSERT_EQ(rest_.Requests().size(), 2u);
    EXPECT_EQ(Inserts(1200, 1), (std::vector<std::wstring>{L"75", L"435"})) << "awake seconds, without the sleep";

    shell_->Clear();
    Power(PBT_APMRESUMEAUTOMATIC);
    EXPECT_TRUE(Balloons().empty()) << "woken in the bag: nobody looks";
    LidReport(1);  // the second answer: opened
    const std::vector<std::wstring> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    const std::wstring start = L"Kalnix put this laptop to sleep at ";
    ASSERT_GT(balloons[0].size(), start.size() + 5);
    EXPECT_EQ(balloons[0].substr(0, start.size()), start);
    EXPECT_EQ(balloons[0].substr(start.size() + 5),
              L": it stayed awake with the lid closed\nIt did so once more since\n"
              L"The battery lost 20% in 2 h 06 min of standby (10% an hour)");
    LidReport(0);
    LidReport(1);
    EXPECT_EQ(Balloons().size(), 1u) << "told once";
}

TEST_F(RestTest, NoRestOnceTheLidOpensOrTheLaptopSleepsOrWhenRestAfterIsZero) {
    struct Case {
        DWORD restAfter;
        bool open, suspend;
        const wchar_t* ended;  // the alarm's end as the event says it; null: rings on
    } cases[] = {
        {60, true, false, L"the lid opened"},
        {60, false, true, L"the laptop went to sleep"},
        {0, false, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.restAfter);
        StartRinging(c.restAfter);
        if (c.open) LidReport(1);
        if (c.suspend) Power(PBT_APMSUSPEND);
        After(kDay, kRestTimer);
        After(0, kAlarmTimer);
        EXPECT_TRUE(rest_.Requests().empty());
        EXPECT_EQ(Inserts(1102, 0), c.ended ? std::vector<std::wstring>{c.ended} : std::vector<std::wstring>{});
        Restart();
    }
}

TEST_F(RestTest, ASilentAlarmRestsAfterAlarmTimeInsteadOfRestAfter) {
    struct Case {
        HRESULT result;
        BOOL muted;
        float volume;
        const wchar_t* why;  // null: audible
    } cases[] = {
        {S_OK, TRUE, 0.5f, L"sound is muted"},
        {S_OK, FALSE, 0.0f, L"sound is muted"},
        {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), FALSE, 0.0f, L"no sound device"},
        {S_OK, FALSE, 0.01f, nullptr},
    };
    for (const Case& c : cases) {
        rest_.Sound(c.result, c.muted, c.volume);
        StartRinging();
        After(kAlarmMs, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), c.why ? 1u : 0u);
        EXPECT_EQ(Inserts(1103, 0), c.why ? std::vector<std::wstring>{c.why} : std::vector<std::wstring>{});
        Restart();
    }
    EXPECT_EQ(LogCount("The alarm is silent: sound is muted\r\n"), 2u);
}

// Automatic protection: no tone, the same rest AlarmTime + RestAfter after the lid closed, only
// where Windows was to sleep.
TEST_F(RestTest, AutomaticProtectionRestsALaptopStillAwakeAlarmTimePlusRestAfterAfterTheLidClosed) {
    for (bool doNothingOnMains : {false, true}) {
        SCOPED_TRACE(doNothingOnMains ? "run closed on mains on purpose" : "a sleep was expected");
        ClearPowerStandin();
        if (doNothingOnMains) PresetLidCloseAction(kBalancedScheme, false, kLidCloseDoNothing);
        StartClosed(1);
        After(kAlarmMs, kRestTimer);
        if (!doNothingOnMains) {
            EXPECT_EQ(WaitForEvent(1101).size(), 1u) << "still awake: said once, with causes";
        }
        After(kRestAfterMs - 1000, kRestTimer);
        EXPECT_TRUE(rest_.Requests().empty());
        After(1000, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), doNothingOnMains ? 0u : 1u);
        EXPECT_TRUE(g_tones.empty());
        EXPECT_TRUE(events_.WithId(1100).empty());
        Restart();
    }
}

// The lid alarm rings; automatic protection watches without a tone and rests; any other mode
// does nothing, whether the lid closed or the laptop woke with it closed. A wake with the lid
// open arms nothing.
TEST_F(RestTest, OnlyTheTwoModesWatchAClosedLidAndOnlyTheLidAlarmRings) {
    for (bool resumed : {false, true}) {
        for (int mode : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (resumed ? ", resumed" : ""));
            StartClosed(mode);
            if (resumed) {
                Power(PBT_APMSUSPEND);
                Resume(false);
            }
            After(resumed ? 150000 : kAlarmMs, mode == 2 ? kAlarmTimer : kRestTimer);
            After(kRestAfterMs, kRestTimer);
            EXPECT_EQ(g_tones.size(), mode == 2 ? 1u : 0u);
            EXPECT_EQ(rest_.Requests().size(), mode == 1 || mode == 2 ? 1u : 0u);
            Restart();
        }
    }
    StartClosed(2);
    LidReport(1);
    Power(PBT_APMSUSPEND);
    Resume(false);
    EXPECT_TRUE(QuietForADay());
}

// A timer that finds the laptop slept since it was armed starts its wait again; a program that
// only stalled (a slow call, a busy thread) acts as it would have.
TEST_F(RestTest, ALateTimerIsASleepAndAStallIsNot) {
    const std::string late = "A timer ran late: the laptop slept\r\n";
    StartClosed(2);
    rest_.Sleep(30000);
    After(kAlarmMs, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty());
    EXPECT_EQ(LogCount(late), 1u);
    After(kAlarmMs, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u) << "the full delay from the late tick";
    rest_.Sleep(30000);
    After(kRestAfterMs, kRestTimer);  // the rest timer's own check
    EXPECT_TRUE(rest_.Requests().empty());
    EXPECT_EQ(LogCount(late), 2u);
    After(kAlarmMs, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 2u);
    After(10 * kRestAfterMs, kRestTimer);  // a stall ten times as long
    EXPECT_EQ(rest_.Requests().size(), 1u);
    Restart();

    StartClosed(1);  // automatic protection, whose rest timer is its only timer
    rest_.Sleep(30000);
    After(kAlarmMs, kRestTimer);
    EXPECT_EQ(LogCount(late), 3u);
    PumpMessagesFor(200);
    EXPECT_TRUE(events_.WithId(1101).empty()) << "no report before the full delay again";
    After(kAlarmMs, kRestTimer);
    After(kRestAfterMs, kRestTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u);
}

TEST_F(RestTest, AnUnconfirmedDisplayOffIsReportedOnceAndNotTriedAgain) {
    rest_.Machine(false, false, true);
    StartRinging();
    After(kRestAfterMs, kRestTimer);
    ASSERT_EQ(rest_.Requests(), std::vector<RestRequest>{R::DisplayOff});
    EXPECT_FALSE(RingsOn()) << "no tone while the display goes off";
    After(15000, kRestConfirmTimer);  // neither the display went off nor standby began
    EXPECT_EQ(Inserts(1201, 1), std::vector<std::wstring>{L"standby did not follow within 15 s"});
    EXPECT_TRUE(events_.WithId(1200).empty());
    EXPECT_TRUE(RingsOn());
    After(kDay, kRestTimer);
    After(0, kRestConfirmTimer);
    EXPECT_EQ(rest_.Requests().size(), 1u);
    EXPECT_EQ(events_.WithId(1201).size(), 1u);
}

TEST_F(RestTest, AutomaticProtectionShortensANeverHibernateAfterOnBatteryWhileItRuns) {
    constexpr GUID kHibernateIdle = {0x9D7815A6, 0x7EE4, 0x497E, {0x88, 0x88, 0x51, 0x5A, 0x05, 0xF0, 0x23, 0x64}};
    SetSettingDword(L"HibernateAfter", 60);
    for (bool hibernation : {true, false}) {
        SCOPED_TRACE(hibernation ? "with hibernation" : "without");
        ClearPowerStandin();
        PresetPowerPolicy(GLOBAL_POWER_POLICY{});
        PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kHibernateIdle, true, 0);  // never
        rest_.Machine(true, hibernation, false);
        // Saved by the setup program, or lost: the end's event tells them apart.
        if (hibernation) {
            SetSettingDword(L"PowerSettings1", 0);
            SetSettingDword(L"PowerSettings2", 0);
        } else {
            DeleteSettingValue(L"PowerSettings1");
        }
        StartWindow(1, 15);
        PostMessageW(g_trayWindow, WM_TIMER, kProtectionTimer, 0);  // a second tick says nothing new
        PumpMessages();
        EXPECT_EQ(StandinSchemeSetting(kBalancedScheme, kSleepSubgroup, kHibernateIdle, true, 99),
                  hibernation ? 3600u : 0u);
        EndWindow();
        EXPECT_EQ(EventIds(), (std::vector<DWORD>{1001, hibernation ? 1002u : 1300u}));
        events_.Clear();
        EXPECT_EQ(StandinSchemeSetting(kBalancedScheme, kSleepSubgroup, kHibernateIdle, true, 99), 0u)
            << "the user's own value is back";
    }
}

TEST_F(RestTest, AModernStandbyLaptopSaysSoInTheTooltipAndTheLog) {
    rest_.Machine(false, false, true);
    StartWithoutDriver(2, 1);
    EXPECT_TRUE(events_.WithId(1000).empty()) << "the start waits for the lid's source";
    LidReport(1);
    const ShellCall* add = nullptr;
    for (const ShellCall& call : shell_->Calls())
        if (call.message == NIM_ADD) add = &call;
    ASSERT_NE(add, nullptr);
    const std::wstring stateText = L"Kalnix is enabled\nThis laptop sleeps in Modern Standby";
    EXPECT_EQ(std::wstring(add->record.szTip).substr(0, stateText.size()), stateText);
    EXPECT_EQ(LogCount("Sleep: Modern Standby\r\nHibernation: not available\r\n"), 1u);
    LidReport(0);
    std::vector<RecordedEvent> started = events_.WithId(1000);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(started[0].inserts, (std::vector<std::wstring>{L"lid alarm", L"1", L"Windows' notifications",
                                                             L"Modern Standby", L"not available"}));
    EndWindow();
    EXPECT_EQ(events_.Registrations(), 1);
    EXPECT_EQ(events_.Deregistrations(), 1);
}

}  // namespace
