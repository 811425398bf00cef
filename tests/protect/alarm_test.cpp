// The lid alarm on the real tray window with real window timers, and the system's reports of
// the lid and sleep that feed it (those of the displays: external_display_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "alarm_fixture.h"
#include "app/app_state.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "protect/user_hold.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

constexpr ULONGLONG kLongMs = 1000000;

TEST_F(LidAlarmTest, LidOpenedWithinTheDelayGivesNoTone) {
    SeamClock();
    StartWindow(2, 1);
    Lid(0);
    After(900, kAlarmTimer);
    Lid(1);
    After(kLongMs, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty());
}

TEST_F(LidAlarmTest, FirstToneAfterTheDelayThenOneEveryPeriod) {
    SeamClock();
    StartWindow(2, 1);
    Lid(0);
    const struct { ULONGLONG afterMs; size_t tones; } steps[] = {{900, 0}, {100, 1}, {500, 1}, {100, 2}, {600, 3}};
    for (const auto& step : steps) {
        After(step.afterMs, kAlarmTimer);
        EXPECT_EQ(g_tones.size(), step.tones) << "a tick before its time waits";
    }
    for (const Tone& tone : g_tones) {
        EXPECT_EQ(tone.frequency, 2000u);
        EXPECT_EQ(tone.duration, 200u);
    }
}

TEST_F(LidAlarmTest, SecondLidClosedSilencesTheRingingAlarmForTheFullDelay) {
    SeamClock();
    StartWindow(2, 15);
    Lid(0);
    After(15000, kAlarmTimer);
    ASSERT_EQ(g_tones.size(), 1u) << "the alarm should ring before the second closing";
    Lid(0);
    After(14000, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u) << "silent while the delay runs again";
    After(1000, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 2u) << "rings again once the delay has passed";
}

TEST_F(LidAlarmTest, LidOpenedStopsARingingAlarm) {
    SeamClock();
    StartWindow(2, 1);
    Lid(0);
    After(1000, kAlarmTimer);
    ASSERT_EQ(g_tones.size(), 1u);
    Lid(1);
    EXPECT_FALSE(RingsOn());
}

TEST_F(LidAlarmTest, ZeroDelayRingsAtTheFirstTick) {
    SeamClock();
    StartWindow(2, 0);
    Lid(0);
    After(0, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u);
}

TEST(AlarmDelayMsTest, StoredSecondsBecomeMillisecondsCappedAtTheLongestTimer) {
    struct Case {
        DWORD stored;
        UINT expected;
        const char* shows;
    } cases[] = {
        {0, 0, "absent value: the platform raises 0 to its minimum"},
        {5, 5000, "lowest setting"},
        {60, 60000, "highest setting"},
        {2147483, 2147483000u, "largest exact product below the cap"},
        {2147484, USER_TIMER_MAXIMUM, "first product above the cap"},
        {4294968, USER_TIMER_MAXIMUM, "product that wraps to 704 ms in 32 bits"},
        {0x7FFFFFFF, USER_TIMER_MAXIMUM, "largest signed value"},
        {0xFFFFFFFF, USER_TIMER_MAXIMUM, "all bits set is not a negative delay"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlarmDelayMs(static_cast<int>(c.stored)), c.expected) << c.shows;
    }
}

TEST_F(LidAlarmTest, DelayWhoseProductWouldWrapDoesNotRingEarly) {
    SeamClock();
    StartWindow(2, 4294968);  // 4294968000 mod 2^32 = 704 ms
    Lid(0);
    After(kLongMs, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty());
}


TEST_F(PowerReportTest, RegistersTheTrayWindowForTheDisplayTheLidCloseActionThePowerSourceTheLidSwitchAndSleep) {
    StartWithoutDriver(2, 1);
    const GUID expected[] = {kConsoleDisplay, kLidCloseSetting, kPowerSource, kLidSwitch};
    ASSERT_EQ(g_lidRegistrations.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(g_lidRegistrations[i].recipient, g_trayWindow);
        EXPECT_TRUE(IsEqualGUID(g_lidRegistrations[i].setting, expected[i])) << i;
        EXPECT_EQ(g_lidRegistrations[i].flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
    }
    ASSERT_EQ(g_sleepRegistrations.size(), 1u) << "at window creation, driver or not";
    EXPECT_EQ(g_sleepRegistrations[0].recipient, g_trayWindow);
    EXPECT_EQ(g_sleepRegistrations[0].flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
}

TEST_F(PowerReportTest, TheEndUndoesEachRegistrationOnceAndOnlyWhatWasRegistered) {
    const HPOWERNOTIFY handle = g_registrationAnswer;
    for (bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "both registrations answered" : "the system offers neither");
        g_lidUnregistrations.clear();
        g_sleepUnregistrations.clear();
        g_registrationAnswer = answered ? handle : nullptr;
        StartWithoutDriver(2, 1);
        g_registrationAnswer = handle;
        SendMessageW(g_trayWindow, WM_DESTROY, 0, 0);
        SendMessageW(g_trayWindow, WM_DESTROY, 0, 0);  // a second end finds nothing left to undo
        const std::vector<HPOWERNOTIFY> expected = answered ? std::vector<HPOWERNOTIFY>{handle}
                                                            : std::vector<HPOWERNOTIFY>{};
        const std::vector<HPOWERNOTIFY> expectedSettings =
            answered ? std::vector<HPOWERNOTIFY>{handle, handle, handle, handle} : std::vector<HPOWERNOTIFY>{};
        EXPECT_EQ(g_lidUnregistrations, expectedSettings);
        EXPECT_EQ(g_sleepUnregistrations, expected);
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
}

// Automatic protection mends another tool's Do nothing when Windows reports it, not at the
// next hourly tick; the lid alarm leaves the user's action alone.
TEST_F(PowerReportTest, ALidCloseActionOrPowerSourceChangeMendsDoNothingAtOnceInAutomaticProtection) {
    for (int mode : {1, 2}) {
        for (const GUID& setting : {kLidCloseSetting, kPowerSource}) {
            SCOPED_TRACE(mode);
            StartWithoutDriver(mode, 1);
            PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);  // another tool
            POWERBROADCAST_SETTING report = {setting, sizeof(DWORD), {0}};
            SendMessageW(g_trayWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&report));
            EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), mode == 1 ? kLidCloseSleep : kLidCloseDoNothing);
            DestroyWindow(g_trayWindow);
            g_trayWindow = nullptr;
            PumpMessages();
        }
    }
}

TEST_F(PowerReportTest, LidClosedAndOpenedThroughTheSystemsReports) {
    SeamClock();
    StartWithoutDriver(2, 15);
    LidReport(1);  // the starting state
    LidReport(0);
    After(14000, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty());
    After(1000, kAlarmTimer);
    ASSERT_EQ(g_tones.size(), 1u) << "closed for as long as the delay";
    LidReport(1);
    EXPECT_FALSE(RingsOn());
}

TEST_F(PowerReportTest, StartingStateClosedIsNotAClosing) {
    SeamClock();
    StartWithoutDriver(2, 0);
    LidReport(0);
    After(kLongMs, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty()) << "Kalnix started with the lid closed";
    LidReport(1);
    LidReport(0);
    After(0, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u) << "a real closing afterwards";
}

TEST_F(PowerReportTest, ReportDataIsReadAsAtMostFourBytes) {
    struct Case {
        DWORD value, size;
        bool rings;
        const char* shows;
    } cases[] = {
        {0, 4, true, "closed, exact size"},
        {0, 1, true, "closed in one byte"},
        {0, 8, true, "closed, longer data: only the first four bytes count"},
        {0, 0, false, "no data: no state"},
        {2, 4, false, "a value that is neither closed nor open"},
    };
    SeamClock();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        StartWithoutDriver(2, 0);
        LidReport(1);
        LidReport(c.value, c.size);
        After(0, kAlarmTimer);
        EXPECT_EQ(!g_tones.empty(), c.rings);
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        g_tones.clear();
        PumpMessages();
    }
}

TEST_F(PowerReportTest, NoLidReportIsLoggedOnceAndNotedInTheTooltip) {
    SeamClock();
    ShellRecorder shell;
    StartWithoutDriver(2, 0);
    shell.Clear();
    PostMessageW(g_trayWindow, WM_TIMER, kLidSensingTimer, 0);  // the wait is over
    PostMessageW(g_trayWindow, WM_TIMER, kLidSensingTimer, 0);  // a stray second one
    PumpMessages();
    EXPECT_EQ(NoLidLines(), 1u);
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(shell.Calls()[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(std::wstring(shell.Calls()[0].record.szTip), L"Kalnix is enabled\nCannot sense a lid: no lid alarm");

    // A report that comes late after all: the lid is sensed, the note goes.
    shell.Clear();
    LidReport(1);
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(std::wstring(shell.Calls()[0].record.szTip), L"Kalnix is enabled");
    LidReport(0);
    After(0, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u);
    EXPECT_EQ(NoLidLines(), 1u);
}

TEST_F(PowerReportTest, ASystemWithoutLidNotificationsSaysSoAtOnce) {
    g_registrationAnswer = nullptr;
    StartWithoutDriver(2, 0);
    g_registrationAnswer = reinterpret_cast<HPOWERNOTIFY>(0x5150);
    EXPECT_EQ(NoLidLines(), 1u);
}

TEST_F(PowerReportTest, SuspendSilencesAnArmedOrRingingAlarm) {
    SeamClock();
    for (bool ringing : {false, true}) {
        SCOPED_TRACE(ringing);
        StartWithoutDriver(2, 15);
        LidReport(1);
        LidReport(0);
        if (ringing) After(15000, kAlarmTimer);
        EXPECT_EQ(!g_tones.empty(), ringing);
        Power(PBT_APMSUSPEND);
        After(15000, kAlarmTimer);
        EXPECT_FALSE(RingsOn());
        EndWindow();
        g_tones.clear();
    }
}

// The driver's lid-state message feeds the same state: the power button pressed in the bag
// rings there too, once the displays have settled and shown no external one.
TEST_F(PowerReportTest, ResumeAfterTheDriversLidClosedArmsTheAlarm) {
    SeamClock();
    for (bool onBattery : {false, true})
        PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, 0);  // no unattended sleep
    StartWindow(2, 0);
    Lid(0);
    Power(PBT_APMSUSPEND);
    Power(PBT_APMRESUMESUSPEND);
    After(0, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty()) << "not before the displays have settled";
    After(kHoldSettleMs, kHoldSettleTimer);
    After(0, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u);
}

}  // namespace
