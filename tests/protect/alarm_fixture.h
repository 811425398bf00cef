#pragma once

// The real tray window with real window timers, for the lid alarm's and the rest's tests; only
// Beep is replaced, by a recorder of time stamps, since Wine's Beep returns at once and cannot
// be heard. The power registrations and the display layout go through the seam too (Wine's
// are stubs, and its one display is external).
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "support/display_fakes.h"
#include "support/platform_fakes.h"
#include "support/platform_scope.h"

struct Tone {
    DWORD at, frequency, duration;
};
extern std::vector<Tone> g_tones;

constexpr GUID kLidSwitch = {0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};
constexpr GUID kConsoleDisplay = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
constexpr GUID kPowerSource = {0x5D3E9A59, 0xE9D5, 0x4B00, {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}};
// GUID_SLEEP_SUBGROUP and its unattended-sleep timeout.
constexpr GUID kUnattendedSleep = {0x7BC4A2F9, 0xD8FC, 0x4469, {0xB0, 0x7B, 0x33, 0xEB, 0x78, 0x5A, 0xAC, 0xA0}};

struct Registration {
    HANDLE recipient;
    GUID setting;
    DWORD flags;
};
extern std::vector<Registration> g_lidRegistrations;
extern std::vector<Registration> g_sleepRegistrations;
extern std::vector<HPOWERNOTIFY> g_lidUnregistrations;
extern std::vector<HPOWERNOTIFY> g_sleepUnregistrations;
extern HPOWERNOTIFY g_registrationAnswer;

class LidAlarmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void StartWindow(int mode, int delaySeconds);
    // Posts the lid-state message as the monitor thread would and lets it be handled;
    // returns when it was handled.
    DWORD Lid(WPARAM state);
    void EndWindow();
    // From the first use on, time moves only when the test moves it (the seam's two clocks), and
    // a window timer acts when the test posts its tick: each wait is checked exactly, whatever
    // the machine's load.
    RestStandin& SeamClock();
    // Awake time passes, then the timer's tick comes.
    void After(ULONGLONG ms, UINT_PTR timer);
    // One more tone when the ringing alarm's period has passed.
    bool RingsOn();
    PlatformScope platform_;
    // A laptop with its lid closed: the panel is off and no other display is in use.
    DisplayLayout displays_;
    std::unique_ptr<RestStandin> seam_;
};

// The same alarm when the system reports the lid, sleep and displays (no driver): the
// reports are sent to the real tray window as Windows sends them.
class PowerReportTest : public LidAlarmTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Docked on purpose: the user set the lid-close action to Do nothing, on mains and battery.
    static void LidCloseDoesNothing();
    // The tray window as the entry leaves it when the driver cannot be opened.
    void StartWithoutDriver(int mode, int delaySeconds);
    // One lid-switch report with `size` bytes of data, the first four holding `value`.
    DWORD LidReport(DWORD value, DWORD size = sizeof(DWORD));
    // One console display report: 0 off, 1 on.
    void DisplayReport(DWORD state);
    // Lines of the log that say no lid can be sensed (the release at the end logs too).
    size_t NoLidLines();
    size_t LogCount(const std::string& line);
    DWORD Power(WPARAM event);
    DWORD ChangeDisplays(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays);
};
