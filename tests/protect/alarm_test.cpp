// The lid alarm on the real tray window with real window timers; only Beep is replaced,
// by a recorder of time stamps, since Wine's Beep returns at once and cannot be heard;
// the power registrations and the display layout go through the seam too (Wine's are
// stubs, and its one display is external).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/platform.h"
#include "app/tray_window.h"
#include "common/lid_close_action.h"
#include "protect/external_display.h"
#include "protect/power_notifications.h"
#include "protect/protection_host.h"
#include "protect/protection_modes.h"
#include "support/display_fakes.h"
#include "support/event_recorder.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/platform_scope.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

struct Tone {
    DWORD at, frequency, duration;
};
std::vector<Tone> g_tones;

BOOL WINAPI RecordTone(DWORD frequency, DWORD duration) {
    g_tones.push_back({GetTickCount(), frequency, duration});
    return TRUE;
}

BOOL WINAPI AcceptIcon(DWORD, PNOTIFYICONDATAW) { return TRUE; }

constexpr GUID kLidSwitch = {0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};
constexpr GUID kConsoleDisplay = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};

struct Registration {
    HANDLE recipient;
    GUID setting;
    DWORD flags;
};
std::vector<Registration> g_lidRegistrations;
std::vector<Registration> g_sleepRegistrations;
HPOWERNOTIFY g_registrationAnswer = reinterpret_cast<HPOWERNOTIFY>(0x5150);

HPOWERNOTIFY WINAPI RecordPowerSetting(HANDLE recipient, LPCGUID setting, DWORD flags) {
    g_lidRegistrations.push_back({recipient, *setting, flags});
    return g_registrationAnswer;
}
HPOWERNOTIFY WINAPI RecordSuspendResume(HANDLE recipient, DWORD flags) {
    g_sleepRegistrations.push_back({recipient, GUID{}, flags});
    return g_registrationAnswer;
}
std::vector<HPOWERNOTIFY> g_lidUnregistrations;
std::vector<HPOWERNOTIFY> g_sleepUnregistrations;
BOOL WINAPI RecordPowerSettingUndone(HPOWERNOTIFY handle) {
    g_lidUnregistrations.push_back(handle);
    return TRUE;
}
BOOL WINAPI RecordSuspendResumeUndone(HPOWERNOTIFY handle) {
    g_sleepUnregistrations.push_back(handle);
    return TRUE;
}

class LidAlarmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        g_platform.beep = RecordTone;
        g_platform.notifyIcon = AcceptIcon;
        g_tones.clear();
        g_instance = GetModuleHandleW(nullptr);
    }
    void TearDown() override {
        if (g_trayWindow) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();  // the WM_QUIT of WM_DESTROY
    }

    void StartWindow(int mode, int delaySeconds) {
        SetProtectionSettings(mode, delaySeconds);
        CreateTrayWindow();
        ASSERT_NE(g_trayWindow, nullptr);
        PumpMessagesFor(50);  // the first protection tick
    }
    // Posts the lid-state message as the monitor thread would and lets it be handled;
    // returns when it was handled.
    DWORD Lid(WPARAM state) {
        PostMessageW(g_trayWindow, kLidStateMessage, state, 0);
        PumpMessages();
        return GetTickCount();
    }
    size_t TonesAfter(DWORD stamp) {
        size_t n = 0;
        for (const Tone& tone : g_tones) n += tone.at >= stamp;
        return n;
    }
    PlatformScope platform_;
    // A laptop with its lid closed: the panel is off and no other display is in use.
    DisplayLayout displays_;
};

// GetTickCount advances in steps of up to ~16 ms.
constexpr DWORD kTickSlack = 40;

TEST_F(LidAlarmTest, LidOpenedWithinTheDelayGivesNoTone) {
    StartWindow(2, 1);
    Lid(0);
    PumpMessagesFor(400);
    Lid(1);
    PumpMessagesFor(1600);
    EXPECT_TRUE(g_tones.empty());
}

TEST_F(LidAlarmTest, FirstToneAfterTheDelayThenOneEveryPeriod) {
    StartWindow(2, 1);
    DWORD closed = Lid(0);
    PumpMessagesFor(2800);  // tones near 1000, 1600, 2200 ms
    ASSERT_GE(g_tones.size(), 2u);
    EXPECT_LE(g_tones.size(), 4u);
    EXPECT_GE(g_tones[0].at - closed, 1000 - kTickSlack);
    for (size_t i = 1; i < g_tones.size(); ++i) {
        EXPECT_GE(g_tones[i].at - g_tones[i - 1].at, 600 - kTickSlack) << "tone " << i;
    }
    for (const Tone& tone : g_tones) {
        EXPECT_EQ(tone.frequency, 2000u);
        EXPECT_EQ(tone.duration, 200u);
    }
}

TEST_F(LidAlarmTest, SecondLidClosedSilencesTheRingingAlarmForTheFullDelay) {
    StartWindow(2, 1);
    Lid(0);
    PumpMessagesFor(1300);
    ASSERT_GE(g_tones.size(), 1u) << "the alarm should ring before the second closing";
    DWORD closedAgain = Lid(0);
    PumpMessagesFor(850);
    EXPECT_EQ(TonesAfter(closedAgain), 0u) << "silent while the delay runs again";
    PumpMessagesFor(600);
    EXPECT_GE(TonesAfter(closedAgain), 1u) << "rings again once the delay has passed";
}

TEST_F(LidAlarmTest, LidOpenedStopsARingingAlarm) {
    StartWindow(2, 1);
    Lid(0);
    PumpMessagesFor(1300);
    ASSERT_GE(g_tones.size(), 1u);
    DWORD opened = Lid(1);
    PumpMessagesFor(1500);
    EXPECT_EQ(TonesAfter(opened), 0u);
}

TEST_F(LidAlarmTest, ZeroDelayRingsAlmostAtOnce) {
    StartWindow(2, 0);
    Lid(0);
    PumpMessagesFor(400);
    EXPECT_GE(g_tones.size(), 1u);
}

TEST_F(LidAlarmTest, OtherModesArmNothingWhenTheLidCloses) {
    for (int mode : {0, 1, 3}) {
        SCOPED_TRACE(mode);
        StartWindow(mode, 0);
        Lid(0);
        PumpMessagesFor(800);
        EXPECT_TRUE(g_tones.empty());
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
}

}  // namespace

namespace {

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
    StartWindow(2, 4294968);  // 4294968000 mod 2^32 = 704 ms
    Lid(0);
    PumpMessagesFor(1500);
    EXPECT_TRUE(g_tones.empty());
}

}  // namespace

// The same alarm when the system reports the lid, sleep and displays (no driver): the
// reports are sent to the real tray window as Windows sends them.
namespace {

class PowerReportTest : public LidAlarmTest {
protected:
    void SetUp() override {
        LidAlarmTest::SetUp();
        g_platform.registerPowerSettingNotification = RecordPowerSetting;
        g_platform.registerSuspendResumeNotification = RecordSuspendResume;
        g_platform.unregisterPowerSettingNotification = RecordPowerSettingUndone;
        g_platform.unregisterSuspendResumeNotification = RecordSuspendResumeUndone;
        g_lidRegistrations.clear();
        g_sleepRegistrations.clear();
        g_lidUnregistrations.clear();
        g_sleepUnregistrations.clear();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
        ClearPowerStandin();  // every lid-close action reads as Sleep
    }
    // Docked on purpose: the user set the lid-close action to Do nothing, on mains and battery.
    static void LidCloseDoesNothing() {
        PresetLidCloseAction(kBalancedScheme, false, 0);
        PresetLidCloseAction(kBalancedScheme, true, 0);
    }
    void TearDown() override {
        LidAlarmTest::TearDown();
        RemoveFile(LogPathBesideExecutable());
    }
    // The tray window as the entry leaves it when the driver cannot be opened.
    void StartWithoutDriver(int mode, int delaySeconds) {
        StartWindow(mode, delaySeconds);
        StartLidNotifications();
    }
    // One lid-switch report with `size` bytes of data, the first four holding `value`.
    DWORD LidReport(DWORD value, DWORD size = sizeof(DWORD)) {
        struct {
            POWERBROADCAST_SETTING setting;
            BYTE more[8];
        } report = {};
        report.setting.PowerSetting = kLidSwitch;
        report.setting.DataLength = size;
        memset(report.setting.Data, 0xEE, sizeof(report.more) + 1);  // what lies past the data
        memcpy(report.setting.Data, &value, size < sizeof(value) ? size : sizeof(value));
        SendMessageW(g_trayWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&report));
        return GetTickCount();
    }
    // Lines of the log that say no lid can be sensed (the release at the end logs too).
    size_t NoLidLines() {
        std::string log = ReadFileBytes(LogPathBesideExecutable());
        const std::string line = "Can't sense a lid: Windows reports no lid switch\r\n\r\n";
        size_t n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    }
    DWORD Power(WPARAM event) {
        EXPECT_EQ(SendMessageW(g_trayWindow, WM_POWERBROADCAST, event, 0), TRUE);
        return GetTickCount();
    }
    DWORD Displays(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays) {
        displays_.Set(displays);
        SendMessageW(g_trayWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
        return GetTickCount();
    }
};

constexpr GUID kPowerSource = {0x5D3E9A59, 0xE9D5, 0x4B00, {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}};

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
    StartWithoutDriver(2, 1);
    LidReport(1);  // the starting state
    DWORD closed = LidReport(0);
    PumpMessagesFor(1300);
    ASSERT_GE(g_tones.size(), 1u) << "closed for longer than the delay";
    EXPECT_GE(g_tones[0].at - closed, 1000 - kTickSlack);
    DWORD opened = LidReport(1);
    PumpMessagesFor(1400);
    EXPECT_EQ(TonesAfter(opened), 0u);
}

TEST_F(PowerReportTest, StartingStateClosedIsNotAClosing) {
    StartWithoutDriver(2, 0);
    LidReport(0);
    PumpMessagesFor(500);
    EXPECT_TRUE(g_tones.empty()) << "Kalnix started with the lid closed";
    LidReport(1);
    LidReport(0);
    PumpMessagesFor(500);
    EXPECT_GE(g_tones.size(), 1u) << "a real closing afterwards";
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        StartWithoutDriver(2, 0);
        LidReport(1);
        LidReport(c.value, c.size);
        PumpMessagesFor(400);
        EXPECT_EQ(!g_tones.empty(), c.rings);
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        g_tones.clear();
        PumpMessages();
    }
}

TEST_F(PowerReportTest, NoLidReportIsLoggedOnceAndNotedInTheTooltip) {
    ShellRecorder shell;
    StartWithoutDriver(2, 0);
    shell.Clear();
    PostMessageW(g_trayWindow, WM_TIMER, kLidSensingTimer, 0);  // the wait is over
    PostMessageW(g_trayWindow, WM_TIMER, kLidSensingTimer, 0);  // a stray second one
    PumpMessagesFor(50);
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
    PumpMessagesFor(300);
    EXPECT_GE(g_tones.size(), 1u);
    EXPECT_EQ(NoLidLines(), 1u);
}

TEST_F(PowerReportTest, ASystemWithoutLidNotificationsSaysSoAtOnce) {
    g_registrationAnswer = nullptr;
    StartWithoutDriver(2, 0);
    g_registrationAnswer = reinterpret_cast<HPOWERNOTIFY>(0x5150);
    EXPECT_EQ(NoLidLines(), 1u);
}

TEST_F(PowerReportTest, SuspendSilencesAnArmedOrRingingAlarm) {
    for (DWORD closedFor : {300u, 1300u}) {
        SCOPED_TRACE(closedFor);
        StartWithoutDriver(2, 1);
        LidReport(1);
        LidReport(0);
        PumpMessagesFor(closedFor);
        EXPECT_EQ(!g_tones.empty(), closedFor > 1000);
        DWORD asleep = Power(PBT_APMSUSPEND);
        PumpMessagesFor(1500);
        EXPECT_EQ(TonesAfter(asleep), 0u);
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        g_tones.clear();
        PumpMessages();
    }
}

// GUID_SLEEP_SUBGROUP and its unattended-sleep timeout.
constexpr GUID kSleepSubgroup = {0x238C9FA8, 0x0AAD, 0x41ED, {0x83, 0xF4, 0x97, 0xBE, 0x24, 0x2C, 0x8F, 0x20}};
constexpr GUID kUnattendedSleep = {0x7BC4A2F9, 0xD8FC, 0x4469, {0xB0, 0x7B, 0x33, 0xEB, 0x78, 0x5A, 0xAC, 0xA0}};

// A user's resume rings after the full delay. After an unattended wake Windows sleeps again
// by itself once its unattended timeout has run, so the alarm waits for that too, unless the
// scheme says Windows never does.
TEST_F(PowerReportTest, ResumeWithTheLidClosedArmsTheAlarmWithTheFullDelayOrWindowsUnattendedTimeout) {
    struct Case {
        std::vector<WPARAM> resume;
        DWORD unattendedSeconds;
        bool ringsAfterTheDelay;
    } cases[] = {
        {{PBT_APMRESUMESUSPEND}, 2, true},
        {{PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}, 2, true},  // someone is there
        {{PBT_APMRESUMEAUTOMATIC}, 2, false},
        {{PBT_APMRESUMEAUTOMATIC}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.resume.size() << " " << c.unattendedSeconds);
        for (bool onBattery : {false, true})
            PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, c.unattendedSeconds);
        StartWithoutDriver(2, 1);
        LidReport(1);
        LidReport(0);
        Power(PBT_APMSUSPEND);
        PumpMessagesFor(1200);
        DWORD woken = 0;
        for (WPARAM event : c.resume) woken = Power(event);
        PumpMessagesFor(850);
        EXPECT_EQ(TonesAfter(woken), 0u) << "silent while the delay runs";
        PumpMessagesFor(500);
        EXPECT_EQ(TonesAfter(woken) >= 1, c.ringsAfterTheDelay);
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        g_tones.clear();
        PumpMessages();
    }
}

TEST_F(PowerReportTest, ResumeArmsNothingWithTheLidOpenOrOutsideTheAlarmMode) {
    struct Case {
        int mode;
        DWORD lid;
    } cases[] = {{2, 1}, {1, 0}, {0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        StartWithoutDriver(c.mode, 0);
        LidReport(1);
        LidReport(c.lid);
        Power(PBT_APMSUSPEND);
        Power(PBT_APMRESUMEAUTOMATIC);
        PumpMessagesFor(500);
        EXPECT_TRUE(g_tones.empty());
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
}

// The driver's lid-state message feeds the same state: a resume in the bag rings there too.
TEST_F(PowerReportTest, ResumeAfterTheDriversLidClosedArmsTheAlarm) {
    StartWindow(2, 0);
    Lid(0);
    Power(PBT_APMSUSPEND);
    PumpMessagesFor(300);
    g_tones.clear();
    Power(PBT_APMRESUMESUSPEND);
    PumpMessagesFor(400);
    EXPECT_GE(g_tones.size(), 1u);
}

TEST_F(PowerReportTest, NoAlarmWhileAnExternalDisplayIsInUseAndOneWhenItGoes) {
    LidCloseDoesNothing();
    displays_.Set({kMonitor});
    StartWithoutDriver(2, 1);
    LidReport(1);
    LidReport(0);
    PumpMessagesFor(1300);
    EXPECT_TRUE(g_tones.empty()) << "docked with the lid closed";
    Displays({kMonitor, kMonitor});  // another change, still docked
    PumpMessagesFor(1300);
    EXPECT_TRUE(g_tones.empty());
    DWORD undocked = Displays({});
    PumpMessagesFor(850);
    EXPECT_EQ(TonesAfter(undocked), 0u) << "the full delay from the undocking";
    PumpMessagesFor(500);
    EXPECT_GE(TonesAfter(undocked), 1u);
    size_t before = g_tones.size();
    Displays({});  // a change that keeps no external display leaves the ringing alarm alone
    PumpMessagesFor(700);
    EXPECT_GT(g_tones.size(), before);
    DWORD docked = Displays({kPanel, kMonitor});
    PumpMessagesFor(1300);
    EXPECT_EQ(TonesAfter(docked), 0u) << "connected again: silent";
}

// Windows sleeps a docked laptop when its lid-close action is Sleep: staying awake then is
// the failure the alarm is for.
TEST_F(PowerReportTest, AnExternalDisplayKeepsNoAlarmQuietUnlessTheLidCloseActionIsDoNothing) {
    displays_.Set({kMonitor});
    StartWithoutDriver(2, 1);
    LidReport(1);
    DWORD closed = LidReport(0);
    PumpMessagesFor(1300);
    EXPECT_GE(TonesAfter(closed), 1u);
}

TEST_F(PowerReportTest, AlarmWithExternalDisplaySetToOneRingsWhileDocked) {
    LidCloseDoesNothing();
    SetSettingDword(L"AlarmWithExternalDisplay", 1);
    displays_.Set({kMonitor});
    StartWithoutDriver(2, 1);
    LidReport(1);
    DWORD closed = LidReport(0);
    PumpMessagesFor(1300);
    EXPECT_GE(TonesAfter(closed), 1u) << "the setting asks for the alarm with a display attached";
    size_t before = g_tones.size();
    Displays({kPanel, kMonitor});
    PumpMessagesFor(700);
    EXPECT_GT(g_tones.size(), before) << "a display change does not silence it either";
}

TEST_F(PowerReportTest, DisplayChangesArmNothingWithTheLidOpenOrOutsideTheAlarmMode) {
    for (int mode : {2, 1}) {
        SCOPED_TRACE(mode);
        displays_.Set({kMonitor});
        StartWithoutDriver(mode, 0);
        LidReport(1);
        LidReport(mode == 2 ? 1 : 0);
        Displays({});
        PumpMessagesFor(400);
        EXPECT_TRUE(g_tones.empty());
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
}

TEST(ExternalDisplayTest, OnlyOutputsOtherThanTheLaptopsOwnPanelCount) {
    DisplayLayout layout;
    struct Case {
        std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays;
        bool external;
        const char* shows;
    } cases[] = {
        {{}, false, "no active path (lid closed, panel off)"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL}, false, "the panel"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EMBEDDED}, false, "an embedded DisplayPort panel"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EMBEDDED}, false, "an embedded UDI panel"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_LVDS}, false, "an LVDS panel"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_WIRED}, false, "an indirect display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_VIRTUAL}, false, "a virtual display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL}, true, "a DisplayPort monitor"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI}, true, "an HDMI monitor"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_MIRACAST}, true, "a wireless display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_OTHER}, true, "an unknown connector"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL, DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DVI}, true, "panel and monitor"},
    };
    for (const Case& c : cases) {
        layout.Set(c.displays);
        EXPECT_EQ(ExternalDisplayInUse(), c.external) << c.shows;
    }
    layout.Set({DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI});
    layout.AnswerSizeQueryWith(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ExternalDisplayInUse()) << "an unanswered query keeps the alarm as it was";
}

}  // namespace

// When nobody hears the alarm: the same window puts the closed laptop to rest itself, through
// the seam's rest calls (Wine neither sleeps nor hibernates) and its clock.
namespace {

class RestTest : public PowerReportTest {
protected:
    void SetUp() override {
        PowerReportTest::SetUp();
        shell_.reset(new ShellRecorder);  // after the base's own icon stand-in
    }
    // Lid alarm or automatic protection with a 1 s alarm delay and RestAfter as given; the lid
    // reported open at start, then closed.
    DWORD StartClosed(int mode, DWORD restAfter) {
        SetSettingDword(L"RestAfter", restAfter);
        StartWithoutDriver(mode, 1);
        LidReport(1);
        return LidReport(0);
    }
    size_t LogCount(const std::string& line) {
        std::string log = ReadFileBytes(LogPathBesideExecutable());
        size_t n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    }
    void EndWindow() {
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
    std::vector<std::wstring> Balloons() {
        std::vector<std::wstring> texts;
        for (const ShellCall& call : shell_->Calls())
            if (call.message == NIM_MODIFY && (call.record.uFlags & NIF_INFO)) texts.push_back(call.record.szInfo);
        return texts;
    }
    // The IDs of the recorded events, in order.
    std::vector<DWORD> EventIds() {
        std::vector<DWORD> ids;
        for (const RecordedEvent& event : events_.Events()) ids.push_back(event.id);
        return ids;
    }
    RestStandin rest_;
    EventRecorder events_;
    std::unique_ptr<ShellRecorder> shell_;
};

TEST_F(RestTest, AnAlarmNobodyStopsRingsForRestAfterThenTheLaptopRestsTheWayItCan) {
    struct Case {
        bool s3, hibernation, modernStandby;
        std::vector<RestRequest> expected;
        const wchar_t* how;  // the rest event's first insert; null: the no-way event
        const char* shows;
    } cases[] = {
        {true, false, false, {RestRequest::Sleep}, L"sleep", "S3 sleep"},
        {true, true, false, {RestRequest::Hibernate}, L"hibernation", "hibernation before sleep"},
        {false, true, true, {RestRequest::Hibernate}, L"hibernation", "Modern Standby with hibernation"},
        {false, false, true, {RestRequest::DisplayOff}, L"display off for Modern Standby",
         "Modern Standby alone: the display goes off"},
        {false, false, false, {}, nullptr, "no way: it keeps ringing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        rest_.Machine(c.s3, c.hibernation, c.modernStandby);
        DWORD closed = StartClosed(2, 1);
        PumpMessagesFor(1700);
        EXPECT_TRUE(rest_.Requests().empty()) << "rings first for RestAfter";
        ASSERT_FALSE(g_tones.empty());
        PumpMessagesFor(900);  // the rest near 2000 ms; a new alarm would ring near 3000 ms
        EXPECT_EQ(rest_.Requests(), c.expected);
        DWORD lastTone = g_tones.back().at - closed;
        if (c.expected.empty()) EXPECT_GE(lastTone, 2000u - kTickSlack) << "still ringing";
        else EXPECT_LT(lastTone, 2000u) << "silent once at rest";
        EXPECT_EQ(events_.WithId(1100).size(), 1u) << "the alarm started, with the report's causes";
        std::vector<RecordedEvent> rests = events_.WithId(1200);
        if (c.how) {
            ASSERT_EQ(rests.size(), 1u);
            EXPECT_EQ(rests[0].type, EVENTLOG_WARNING_TYPE);
            EXPECT_EQ(rests[0].inserts[0], c.how);
            EXPECT_EQ(rests[0].inserts[1], L"2") << "seconds since the lid closed";
            EXPECT_EQ(events_.WithId(1102).at(0).inserts, std::vector<std::wstring>{L"Kalnix put the laptop to rest"});
        } else {
            EXPECT_TRUE(rests.empty());
            EXPECT_EQ(events_.WithId(1202).size(), 1u);
        }
        EndWindow();
        events_.Clear();
        g_tones.clear();
        rest_.ClearRequests();
    }
    EXPECT_EQ(LogCount("Can't put the laptop to rest: it has neither hibernation nor sleep nor Modern Standby\r\n"), 1u);

    // A rest the system refuses: said in the log and the event log, and the alarm rings on.
    rest_.Machine(true, false, false);
    rest_.FailWith(ERROR_ACCESS_DENIED);
    DWORD closed = StartClosed(2, 1);
    PumpMessagesFor(2900);
    EXPECT_EQ(rest_.Requests(), std::vector<RestRequest>{RestRequest::Sleep});
    EXPECT_GE(g_tones.back().at - closed, 2000u) << "still ringing";
    EXPECT_EQ(LogCount("SSS Failed: 5\r\n"), 1u);
    ASSERT_EQ(events_.WithId(1201).size(), 1u);
    EXPECT_EQ(events_.WithId(1201)[0].inserts, (std::vector<std::wstring>{L"sleep", L"5"}));
    EXPECT_TRUE(events_.WithId(1102).empty()) << "the alarm has not ended";
}

TEST_F(RestTest, NoRestOnceTheLidOpensOrTheLaptopSleepsOrWhenRestAfterIsZero) {
    struct Case {
        DWORD restAfter;
        WPARAM lidReport;      // 1: opened after the first tone; 0: none
        WPARAM powerEvent;     // PBT_APMSUSPEND after the first tone; 0: none
        const wchar_t* ended;  // the alarm's end as the event says it; null: rings on
        const char* shows;
    } cases[] = {
        {1, 1, 0, L"the lid opened", "the lid opened"},
        {1, 0, PBT_APMSUSPEND, L"the laptop went to sleep", "the laptop went to sleep"},
        {0, 0, 0, nullptr, "RestAfter 0: never"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        StartClosed(2, c.restAfter);
        PumpMessagesFor(1300);
        ASSERT_FALSE(g_tones.empty());
        if (c.lidReport) LidReport(c.lidReport);
        if (c.powerEvent) Power(c.powerEvent);
        PumpMessagesFor(1300);
        EXPECT_TRUE(rest_.Requests().empty());
        std::vector<RecordedEvent> ended = events_.WithId(1102);
        EXPECT_EQ(ended.size(), c.ended ? 1u : 0u);
        if (c.ended && !ended.empty()) {
            EXPECT_EQ(ended[0].inserts, std::vector<std::wstring>{c.ended});
        }
        EndWindow();
        events_.Clear();
        g_tones.clear();
    }
}

TEST_F(RestTest, ASilentAlarmRestsAfterAlarmTimeInsteadOfRestAfter) {
    struct Case {
        HRESULT result;
        BOOL muted;
        float volume;
        const char* logged;
        const wchar_t* insert;  // the event's
    } cases[] = {
        {S_OK, TRUE, 0.5f, "The alarm is silent: sound is muted\r\n", L"sound is muted"},
        {S_OK, FALSE, 0.0f, "The alarm is silent: sound is muted\r\n", L"sound is muted"},
        {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), FALSE, 0.0f, "The alarm is silent: no sound device\r\n",
         L"no sound device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        RemoveFile(LogPathBesideExecutable());
        rest_.Sound(c.result, c.muted, c.volume);
        StartClosed(2, 60);
        PumpMessagesFor(2600);  // first tone near 1000 ms, the rest AlarmTime later
        EXPECT_EQ(rest_.Requests(), std::vector<RestRequest>{RestRequest::Sleep});
        EXPECT_EQ(LogCount(c.logged), 1u);
        std::vector<RecordedEvent> silent = events_.WithId(1103);
        ASSERT_EQ(silent.size(), 1u);
        EXPECT_EQ(silent[0].inserts, std::vector<std::wstring>{c.insert});
        EndWindow();
        events_.Clear();
        rest_.ClearRequests();
    }
    rest_.Sound(S_OK, FALSE, 0.01f);
    StartClosed(2, 60);
    PumpMessagesFor(2600);
    EXPECT_TRUE(rest_.Requests().empty()) << "an audible alarm waits RestAfter";
}

// Automatic protection: no tone, the same rest AlarmTime + RestAfter after the lid closed, only
// where Windows was to sleep.
TEST_F(RestTest, AutomaticProtectionRestsALaptopStillAwakeAlarmTimePlusRestAfterAfterTheLidClosed) {
    for (bool doNothingOnMains : {false, true}) {
        SCOPED_TRACE(doNothingOnMains ? "run closed on mains on purpose" : "a sleep was expected");
        ClearPowerStandin();
        if (doNothingOnMains) PresetLidCloseAction(kBalancedScheme, false, kLidCloseDoNothing);
        StartClosed(1, 1);
        PumpMessagesFor(1700);
        EXPECT_TRUE(rest_.Requests().empty());
        PumpMessagesFor(900);
        EXPECT_EQ(rest_.Requests().size(), doNothingOnMains ? 0u : 1u);
        EXPECT_TRUE(g_tones.empty());
        // Still awake when the alarm would have rung: said once, with the causes.
        EXPECT_EQ(events_.WithId(1101).size(), doNothingOnMains ? 0u : 1u);
        EXPECT_TRUE(events_.WithId(1100).empty());
        EndWindow();
        events_.Clear();
        rest_.ClearRequests();
    }
}

TEST_F(RestTest, ATimerThatRanLateIsASleepAndAWakeTheFullDelayStartsAgain) {
    DWORD closed = StartClosed(2, 1);
    rest_.Sleep(30000);  // the laptop slept before the alarm was due, unseen
    PumpMessagesFor(1700);
    EXPECT_TRUE(g_tones.empty()) << "the late tick rings nothing";
    EXPECT_EQ(LogCount("A timer ran late: the program was suspended or the laptop slept\r\n"), 1u);
    PumpMessagesFor(700);
    ASSERT_FALSE(g_tones.empty()) << "armed again with the full delay";
    EXPECT_GE(g_tones[0].at - closed, 2000u - kTickSlack);
    // Ringing, then unseen sleep before the rest is due: neither the alarm nor the rest acts.
    rest_.Sleep(30000);
    PumpMessagesFor(1000);
    EXPECT_TRUE(rest_.Requests().empty());
}

// The laptop tells afterwards, once it runs with its lid open: the first rest, how many came
// after it, and a standby that drained the battery.
TEST_F(RestTest, TheNextResumeWithTheLidOpenTellsOfEveryRestAndADrainingStandbyOnce) {
    SetSettingDword(L"StandbyDrainAlert", 5);
    StartClosed(2, 1);
    PumpMessagesFor(4600);  // rests near 2000 ms and again near 4000 ms
    ASSERT_EQ(rest_.Requests().size(), 2u);
    shell_->Clear();
    rest_.Battery(80);
    Power(PBT_APMSUSPEND);
    rest_.Sleep(3600000);
    rest_.Battery(60);
    Power(PBT_APMRESUMEAUTOMATIC);
    EXPECT_TRUE(Balloons().empty()) << "woken in the bag: nobody looks";
    LidReport(1);
    std::vector<std::wstring> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    const std::wstring& text = balloons[0];
    const std::wstring start = L"Kalnix put this laptop to sleep at ";
    ASSERT_GT(text.size(), start.size() + 5);
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_EQ(text.substr(start.size() + 2, 1), L":");
    EXPECT_EQ(text.substr(start.size() + 5),
              L": it stayed awake with the lid closed\nIt did so once more since\n"
              L"The battery lost 20% in 1 h 00 min of standby (20% an hour)");
    EXPECT_EQ(LogCount("The battery lost 20% in 1 h 00 min of standby (20% an hour)\r\n"), 1u);
    ASSERT_EQ(events_.WithId(1203).size(), 1u);
    EXPECT_EQ(events_.WithId(1203)[0].inserts,
              std::vector<std::wstring>{L"The battery lost 20% in 1 h 00 min of standby (20% an hour)"});
    LidReport(0);
    LidReport(1);
    EXPECT_EQ(Balloons().size(), 1u) << "told once";
}

TEST_F(RestTest, TheDisplayComingOnWithTheLidClosedIsAWakeInTheBag) {
    struct {
        POWERBROADCAST_SETTING setting;
        BYTE more[3];
    } report = {};
    report.setting.PowerSetting = kConsoleDisplay;
    report.setting.DataLength = sizeof(DWORD);
    auto display = [&](DWORD state) {
        memcpy(report.setting.Data, &state, sizeof(state));
        SendMessageW(g_trayWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&report));
    };
    PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, false, 0);  // no unattended sleep
    for (bool external : {false, true}) {
        SCOPED_TRACE(external ? "with an external display" : "in the bag");
        StartClosed(2, 0);
        display(0);  // the state at registration
        Power(PBT_APMSUSPEND);
        displays_.Set(external ? std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI}
                               : std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{});
        g_tones.clear();
        display(1);
        PumpMessagesFor(1400);
        EXPECT_EQ(g_tones.empty(), external);
        EndWindow();
        displays_.Set({});
    }
}

// A standby that never reaches its low-power state: automatic protection makes the laptop
// hibernate after HibernateAfter on battery while it runs, where it can hibernate.
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
