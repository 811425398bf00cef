// The lid alarm while a display other than the laptop's own panel is in use, and which
// displays count as such.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "protect/external_display.h"
#include "protect/protection_messages.h"
#include "rest_fixture.h"
#include "support/display_fakes.h"
#include "support/message_pump.h"
#include "support/test_support.h"

namespace {

TEST_F(PowerReportTest, NoAlarmWhileAnExternalDisplayIsInUseAndOneWhenItGoes) {
    SeamClock();
    LidCloseDoesNothing();
    displays_.Set({DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_WIRED});  // a USB dock's display
    StartWithoutDriver(2, 15);
    LidReport(1);
    LidReport(0);
    After(15000, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty()) << "docked with the lid closed";
    ChangeDisplays({kMonitor, kMonitor});  // another change, still docked
    After(15000, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty());
    ChangeDisplays({});
    After(14000, kAlarmTimer);
    EXPECT_TRUE(g_tones.empty()) << "the full delay from the undocking";
    After(1000, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u);
    ChangeDisplays({});  // a change that keeps no external display leaves the ringing alarm alone
    EXPECT_TRUE(RingsOn());
    ChangeDisplays({kPanel, kMonitor});
    EXPECT_FALSE(RingsOn()) << "connected again: silent";
}

// Windows sleeps a docked laptop when its lid-close action is Sleep: staying awake then is
// the failure the alarm is for.
TEST_F(PowerReportTest, AnExternalDisplayKeepsNoAlarmQuietUnlessTheLidCloseActionIsDoNothing) {
    SeamClock();
    displays_.Set({kMonitor});
    StartWithoutDriver(2, 1);
    LidReport(1);
    LidReport(0);
    After(1000, kAlarmTimer);
    EXPECT_EQ(g_tones.size(), 1u);
}

// Group Policy's value, where there is one, wins over the local one.
TEST_F(PowerReportTest, AlarmWithExternalDisplaySetToOneRingsWhileDocked) {
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const struct { DWORD local, policy; bool rings; } rows[] = {{1, kAbsent, true}, {0, 1, true}, {1, 0, false}};
    PolicyCleanup policies;
    SeamClock();
    LidCloseDoesNothing();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "local " << row.local << ", policy " << row.policy);
        DeletePolicyKey();
        SetSettingDword(L"AlarmWithExternalDisplay", row.local);
        if (row.policy != kAbsent) SetPolicyDword(L"AlarmWithExternalDisplay", row.policy);
        g_tones.clear();
        displays_.Set({kMonitor});
        StartWithoutDriver(2, 1);
        LidReport(1);
        LidReport(0);
        After(1000, kAlarmTimer);
        EXPECT_EQ(g_tones.size(), row.rings ? 1u : 0u) << "the setting asks for the alarm with a display attached";
        ChangeDisplays({kPanel, kMonitor});
        After(600, kAlarmTimer);
        EXPECT_EQ(g_tones.size(), row.rings ? 2u : 0u) << "a display change does not silence it either";
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        PumpMessages();
    }
}

TEST_F(RestTest, DisplayChangesWithTheLidOpenArmNothing) {
    for (int mode : {2, 1}) {
        SCOPED_TRACE(mode);
        displays_.Set({kMonitor});
        StartClosed(mode);
        LidReport(1);
        ChangeDisplays({});
        EXPECT_TRUE(QuietForADay());
        Restart();
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
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_WIRED}, true, "a USB dock's indirect display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_VIRTUAL}, false, "a virtual display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL}, true, "a DisplayPort monitor"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI}, true, "an HDMI monitor"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_MIRACAST}, true, "a wireless display"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_OTHER}, true, "an unknown connector"},
        {{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL, DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DVI}, true, "panel and monitor"},
    };
    for (const Case& c : cases) {
        layout.Set(c.displays);
        EXPECT_EQ(ReadDisplays(), c.external ? Displays::External : Displays::LaptopOnly) << c.shows;
    }
}

// Where the console's layout cannot be read (the session locked: the desktop is Winlogon's), has
// no active path yet, or is a remote session's client's, the monitors' records tell; only where
// they cannot either is nothing known.
TEST(ExternalDisplayTest, TheMonitorsRecordsTellWhereTheLayoutCannot) {
    DisplayLayout layout;
    PresenceStandin session;
    const MonitorConnection panel = {static_cast<DWORD>(kPanel), TRUE}, monitor = {static_cast<DWORD>(kMonitor), TRUE};
    const MonitorConnection monitorOff = {static_cast<DWORD>(kMonitor), FALSE};
    const struct {
        const char* shows;
        LONG layoutAnswer;
        bool remote;
        std::vector<MonitorConnection> records;
        HRESULT recordsAnswer;
        Displays expected;
    } cases[] = {
        {"locked, the panel only", ERROR_ACCESS_DENIED, false, {panel}, S_OK, Displays::LaptopOnly},
        {"locked, docked", ERROR_ACCESS_DENIED, false, {panel, monitor}, S_OK, Displays::External},
        {"locked, a monitor not in use", ERROR_ACCESS_DENIED, false, {monitorOff}, S_OK, Displays::LaptopOnly},
        {"locked, no record", ERROR_ACCESS_DENIED, false, {}, S_OK, Displays::Unreadable},
        {"locked, no answer", ERROR_ACCESS_DENIED, false, {panel}, HRESULT_FROM_WIN32(ERROR_TIMEOUT), Displays::Unreadable},
        {"no active path yet", ERROR_SUCCESS, false, {panel, monitor}, S_OK, Displays::External},
        {"a remote session: its layout is its client's", ERROR_SUCCESS, true, {panel, monitor}, S_OK, Displays::External},
    };
    for (const auto& c : cases) {
        layout.Set(c.remote ? std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_VIRTUAL}
                            : std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>{});
        layout.AnswerSizeQueryWith(c.layoutAnswer);
        layout.SetMonitors(c.records);
        layout.AnswerMonitorQueryWith(c.recordsAnswer);
        session.RemoteSession(c.remote);
        EXPECT_EQ(ReadDisplays(), c.expected) << c.shows;
    }
}
}  // namespace
