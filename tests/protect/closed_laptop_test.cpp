// Kalnix rings and rests only when nobody is at the laptop, and a closed laptop that should be
// asleep is watched whatever made it so: locked, undocked, unplugged, held for a docked user,
// after Kalnix's own rest too. The real tray window on the seam's clocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/lid_close_action.h"
#include "protect/driver_contract.h"
#include "protect/protection_messages.h"
#include "rest_fixture.h"

namespace {

using Layout = std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>;

// Locked, the console's layout cannot be read (the desktop is Winlogon's): the monitors'
// records tell, and only where they cannot either does the laptop count as docked.
TEST_F(RestTest, ALockedLaptopIsRestedFromTheMonitorsRecords) {
    const struct { int mode; HRESULT records; size_t rests; } cases[] = {
        {2, S_OK, 1}, {1, S_OK, 1}, {2, E_ACCESSDENIED, 0}, {1, E_FAIL, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.records);
        displays_.AnswerSizeQueryWith(ERROR_ACCESS_DENIED);
        displays_.AnswerMonitorQueryWith(c.records);
        StartClosed(c.mode);
        After(kAlarmMs, c.mode == 2 ? kAlarmTimer : kRestTimer);
        After(kRestAfterMs, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), c.rests);
        Restart();
    }
}

// A monitor that blinks (switched off, a KVM switch, a dock's glitch) and a layout that cannot
// be read end no hold for a docked user (one that stays away does: presence_test.cpp).
TEST_F(RestTest, NeitherABlinkNorAnUnreadableLayoutEndsAHold) {
    for (bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "unreadable" : "a blink");
        StartClosed(2);
        Power(PBT_APMSUSPEND);
        displays_.Set({kMonitor});
        Resume(true);
        Settle();
        ChangeDisplays({});
        if (!unreadable) ChangeDisplays({kMonitor});
        displays_.AnswerSizeQueryWith(unreadable ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
        displays_.AnswerMonitorQueryWith(unreadable ? E_FAIL : S_OK);
        Settle();
        EXPECT_TRUE(QuietForADay());
        Restart();
    }
}

// SetSuspendState returns before the lid's state is known again; the resume that comes with it
// is applied when the state comes: a docked user is held for, whatever AlarmWithExternalDisplay
// says, and a wake in the bag waits for Windows' own sleep.
TEST_F(RestTest, AfterItsOwnRestKalnixJudgesWhoWokeTheLaptopWhenTheLidIsReported) {
    SetSettingDword(L"AlarmWithExternalDisplay", 1);  // rings and rests while docked
    for (bool docked : {true, false}) {
        SCOPED_TRACE(docked ? "a docked user" : "the power button pressed in the bag");
        displays_.Set(docked ? Layout{kMonitor} : Layout{});
        StartRinging();
        After(kRestAfterMs, kRestTimer);
        ASSERT_EQ(rest_.Requests(), std::vector<RestRequest>{R::Sleep});
        Resume(true);
        LidReport(0);  // the answer: still closed
        Settle();
        if (docked) EXPECT_TRUE(QuietForADay());
        else After(150000, kAlarmTimer);
        EXPECT_EQ(g_tones.size(), docked ? 1u : 2u);
        Restart();
    }
}

// Windows applies the lid-close action only when the lid moves. Automatic protection watches,
// as the lid alarm does, a closed laptop that should now sleep; a laptop on mains whose action
// there is Do nothing is docked closed on purpose, and neither mode rests it.
TEST_F(RestTest, AClosedLaptopThatShouldNowSleepIsWatchedWhateverMadeItSo) {
    const struct {
        const char* shows;
        int mode;
        bool docked, onBattery, undock, unplug;
        size_t rests, tones;
    } cases[] = {
        {"undocked and carried away, unplugged", 1, true, false, true, true, 1, 0},
        {"undocked on battery", 1, true, true, true, false, 1, 0},
        {"unplugged", 1, false, false, false, true, 1, 0},
        {"the monitor left, on mains", 1, true, false, true, false, 0, 0},
        {"the lid alarm's monitor left, on mains", 2, true, false, true, false, 0, 1},
        {"no protection", 0, true, false, true, true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shows);
        ClearPowerStandin();
        PresetLidCloseAction(kBalancedScheme, false, kLidCloseDoNothing);
        displays_.Set(c.docked ? Layout{kMonitor} : Layout{});
        SetSettingDword(L"RestAfter", 60);
        StartWithoutDriver(c.mode, 15);
        PowerSource(c.onBattery ? 1 : 0);  // as Windows reports it after the registration
        LidReport(1);
        LidReport(0);
        UINT_PTR timer = c.mode == 2 ? kAlarmTimer : kRestTimer;
        After(kAlarmMs, timer);
        EXPECT_TRUE(g_tones.empty() && rest_.Requests().empty()) << "no sleep expected yet";
        if (c.undock) ChangeDisplays({});
        if (c.unplug) PowerSource(1);
        After(kAlarmMs, timer);
        After(kRestAfterMs, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), c.rests);
        EXPECT_EQ(g_tones.size(), c.tones);
        Restart();
    }
}

// Whose input is a person's: at the keyboard or mouse, an on-screen keyboard, a remote-control
// tool, eye control (injected, with no device); not a jiggler's nudges at a steady period, nor
// the repeats of a key held down in the bag. Automatic protection, AlarmTime 15, RestAfter 60.
TEST_F(RestTest, InjectedInputIsAPersonButAJigglersNudgesAndAHeldKeyAreNot) {
    using P = PresenceStandin&;
    const struct {
        const char* shows;
        std::vector<int> gaps;  // seconds between inputs, repeated
        void (*send)(P, HWND, int);
        bool rests;
    } cases[] = {
        {"a remote-control tool's pointer", {20}, [](P p, HWND w, int) { p.Move(w, false, 40, -25); }, false},
        {"an on-screen keyboard", {20}, [](P p, HWND w, int n) {
             for (bool up : {false, true}) p.Key(w, false, static_cast<USHORT>('A' + n % 26), up);
         }, false},
        {"eye control's small moves", {20, 11, 29}, [](P p, HWND w, int) { p.Move(w, false, 3, 2); }, false},
        {"typing on the laptop's keyboard", {20}, [](P p, HWND w, int) {
             for (bool up : {false, true}) p.Key(w, true, 'K', up);
         }, false},
        {"a jiggler's move and move back", {20}, [](P p, HWND w, int) {
             p.Move(w, false, 1, 0);
             p.Move(w, false, -1, 0);
         }, true},
        {"a jiggler's key", {20}, [](P p, HWND w, int) {
             for (bool up : {false, true}) p.Key(w, false, VK_F15, up);
         }, true},
        {"a key held down in the bag", {1}, [](P p, HWND w, int) { p.Key(w, true, VK_SPACE, false); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shows);
        StartClosed(1);
        for (int second = 0, next = 5, n = 0; second < 300; ++second) {
            if (second == next) {
                c.send(presence_, g_trayWindow, n);
                next += c.gaps[n++ % c.gaps.size()];
            }
            After(1000, kRestTimer);
        }
        EXPECT_EQ(rest_.Requests().size(), c.rests ? 1u : 0u);
        Restart();
    }
    EXPECT_EQ(LogCount("A key held down for longer than RestAfter is no one at the laptop: the rest goes on\r\n"), 1u);
}

// Watched while the window is in the background (another window has the keyboard), and only
// while the lid is closed.
TEST_F(RestTest, TheInputWatchHearsTheKeyboardsAndMiceInTheBackgroundWhileTheLidIsClosed) {
    StartClosed(2);
    RAWINPUTDEVICE devices[4] = {};
    UINT room = 4;
    ASSERT_EQ(GetRegisteredRawInputDevices(devices, &room, sizeof(devices[0])), 2u);
    for (UINT i = 0; i < 2; ++i) {
        EXPECT_EQ(devices[i].usUsagePage, 1u);
        EXPECT_EQ(devices[i].usUsage, i == 0 ? 2u : 6u) << "mouse, then keyboard";
        EXPECT_EQ(devices[i].dwFlags, static_cast<DWORD>(RIDEV_INPUTSINK));
        EXPECT_EQ(devices[i].hwndTarget, g_trayWindow);
    }
    LidReport(1);
    EXPECT_EQ(GetRegisteredRawInputDevices(devices, &room, sizeof(devices[0])), 0u);
}

// Right before the call, a lid report or input waiting in the queue calls the rest off, unsaid;
// the closure goes on and they are handled as they come.
TEST_F(RestTest, ALidReportOrInputWaitingInTheQueueCallsTheRestOff) {
    for (bool lidReport : {true, false}) {
        SCOPED_TRACE(lidReport ? "the lid opened" : "someone touched the mouse");
        StartRinging();
        rest_.Pass(kRestAfterMs);
        if (lidReport) PostMessageW(g_trayWindow, kLidStateMessage, kLidOpen, kLidChanged);
        else presence_.PostMove(g_trayWindow, true, 40, 25);
        SendMessageW(g_trayWindow, WM_TIMER, kRestTimer, 0);  // ahead of the queue
        EXPECT_TRUE(rest_.Requests().empty() && events_.WithId(1200).empty());
        PumpMessages();
        EXPECT_EQ(Inserts(1102, 0), std::vector<std::wstring>{lidReport ? L"the lid opened"
                                                                         : L"someone used the keyboard or mouse"});
        After(kAlarmMs, kAlarmTimer);
        After(kRestAfterMs, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), lidReport ? 0u : 1u) << "the closure went on";
        Restart();
    }
    EXPECT_EQ(LogCount("The rest is called off at the last moment: a lid report or keyboard or mouse input came in\r\n"),
              2u);
}

}  // namespace
