#include "alarm_fixture.h"

#include <cstring>

#include "app/app_state.h"
#include "app/tray_window.h"
#include "common/seam_power.h"
#include "common/seam_shell.h"
#include "common/seam_sound.h"
#include "protect/power_notifications.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "support/message_pump.h"
#include "support/power_standin.h"
#include "support/test_support.h"

std::vector<Tone> g_tones;
std::vector<Registration> g_lidRegistrations;
std::vector<Registration> g_sleepRegistrations;
std::vector<HPOWERNOTIFY> g_lidUnregistrations;
std::vector<HPOWERNOTIFY> g_sleepUnregistrations;
HPOWERNOTIFY g_registrationAnswer = reinterpret_cast<HPOWERNOTIFY>(0x5150);

namespace {

BOOL WINAPI RecordTone(DWORD frequency, DWORD duration) {
    g_tones.push_back({GetTickCount(), frequency, duration});
    return TRUE;
}

BOOL WINAPI AcceptIcon(DWORD, PNOTIFYICONDATAW) { return TRUE; }

HPOWERNOTIFY WINAPI RecordPowerSetting(HANDLE recipient, LPCGUID setting, DWORD flags) {
    g_lidRegistrations.push_back({recipient, *setting, flags});
    return g_registrationAnswer;
}

HPOWERNOTIFY WINAPI RecordSuspendResume(HANDLE recipient, DWORD flags) {
    g_sleepRegistrations.push_back({recipient, GUID{}, flags});
    return g_registrationAnswer;
}

BOOL WINAPI RecordPowerSettingUndone(HPOWERNOTIFY handle) {
    g_lidUnregistrations.push_back(handle);
    return TRUE;
}

BOOL WINAPI RecordSuspendResumeUndone(HPOWERNOTIFY handle) {
    g_sleepUnregistrations.push_back(handle);
    return TRUE;
}

size_t Occurrences(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

}  // namespace

void LidAlarmTest::SetUp() {
    ResetSettingsKey();
    g_soundSeam.beep = RecordTone;
    g_shellSeam.notifyIcon = AcceptIcon;
    g_tones.clear();
    g_instance = GetModuleHandleW(nullptr);
}

void LidAlarmTest::TearDown() {
    if (g_trayWindow) DestroyWindow(g_trayWindow);
    g_trayWindow = nullptr;
    DropMessages();  // the WM_QUIT of WM_DESTROY
}

void LidAlarmTest::StartWindow(int mode, int delaySeconds) {
    SetProtectionSettings(mode, delaySeconds);
    CreateTrayWindow(TrayLid::Posted);
    ASSERT_NE(g_trayWindow, nullptr);
    PumpMessages();  // the first protection tick, posted at creation
}

DWORD LidAlarmTest::Lid(WPARAM state) {
    PostMessageW(g_trayWindow, kLidStateMessage, state, 0);
    PumpMessages();
    return GetTickCount();
}

RestStandin& LidAlarmTest::SeamClock() {
    if (!seam_) seam_.reset(new RestStandin);
    return *seam_;
}

void LidAlarmTest::After(ULONGLONG ms, UINT_PTR timer) {
    SeamClock().Pass(ms);
    PostMessageW(g_trayWindow, WM_TIMER, timer, 0);
    PumpMessages();
}

bool LidAlarmTest::RingsOn() {
    size_t before = g_tones.size();
    After(600, kAlarmTimer);
    return g_tones.size() > before;
}

void LidAlarmTest::EndWindow() {
    DestroyWindow(g_trayWindow);
    g_trayWindow = nullptr;
    PumpMessages();
}

void PowerReportTest::SetUp() {
    LidAlarmTest::SetUp();
    g_powerSeam.registerPowerSettingNotification = RecordPowerSetting;
    g_powerSeam.registerSuspendResumeNotification = RecordSuspendResume;
    g_powerSeam.unregisterPowerSettingNotification = RecordPowerSettingUndone;
    g_powerSeam.unregisterSuspendResumeNotification = RecordSuspendResumeUndone;
    g_lidRegistrations.clear();
    g_sleepRegistrations.clear();
    g_lidUnregistrations.clear();
    g_sleepUnregistrations.clear();
    SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
    ClearPowerStandin();  // every lid-close action reads as Sleep
}

void PowerReportTest::TearDown() {
    LidAlarmTest::TearDown();
    RemoveFile(LogPathBesideExecutable());
}

void PowerReportTest::LidCloseDoesNothing() {
    PresetLidCloseAction(kBalancedScheme, false, 0);
    PresetLidCloseAction(kBalancedScheme, true, 0);
}

void PowerReportTest::StartWithoutDriver(int mode, int delaySeconds) {
    StartWindow(mode, delaySeconds);
    StartLidNotifications();
}

DWORD PowerReportTest::LidReport(DWORD value, DWORD size) {
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

void PowerReportTest::DisplayReport(DWORD state) {
    POWERBROADCAST_SETTING report = {kConsoleDisplay, sizeof(DWORD), {0}};
    memcpy(report.Data, &state, sizeof(state));
    SendMessageW(g_trayWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&report));
}

size_t PowerReportTest::NoLidLines() {
    return Occurrences(ReadFileBytes(LogPathBesideExecutable()), "Can't sense a lid: Windows reports no lid switch\r\n\r\n");
}

size_t PowerReportTest::LogCount(const std::string& line) {
    return Occurrences(ReadFileBytes(LogPathBesideExecutable()), line);
}

DWORD PowerReportTest::Power(WPARAM event) {
    EXPECT_EQ(SendMessageW(g_trayWindow, WM_POWERBROADCAST, event, 0), TRUE);
    return GetTickCount();
}

DWORD PowerReportTest::ChangeDisplays(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays) {
    displays_.Set(displays);
    SendMessageW(g_trayWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
    return GetTickCount();
}
