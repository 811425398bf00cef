#include "protect/protection_modes.h"

#include "common/platform.h"
#include "common/lid_close_action.h"
#include "common/power_guard.h"
#include "protect/driver_contract.h"
#include "protect/lid_monitor.h"
#include "protect/power_notifications.h"
#include "protect/protection_host.h"
#include "protect/wake_report.h"

int g_protectionMode = 0;
int g_alarmDelay = 0;
ProtectionHost g_protectionHost = {};

namespace {

bool g_alarmArmed = false;
bool g_alarmRinging = false;

constexpr UINT kAlarmPeriodMs = 600;
constexpr DWORD kAlarmToneHz = 2000;
constexpr DWORD kAlarmToneMs = 200;

// Results are ignored: without the driver the request fails without effect.
void SendControlRequest(DWORD code) {
    DWORD returned = 0;
    DeviceIoControl(g_lidMonitor.device, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

}  // namespace

UINT AlarmDelayMs(int alarmDelaySeconds) {
    // AlarmTime is a stored DWORD: read the bits back as unsigned, multiply in 64 bits and
    // cap at the longest interval a window timer takes, so no stored value overflows.
    unsigned long long ms = static_cast<unsigned long long>(static_cast<DWORD>(alarmDelaySeconds)) * 1000u;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

void ApplyAutoProtection() {
    ForcePowerSettings();
    // The legacy flags mean nothing since Windows Vista; a lid-close action of Do nothing does.
    EnforceLidCloseSleep();
    SendControlRequest(kRequestProtectionApplied);
}

void ReleaseAutoProtection() {
    RestorePowerSettings();
    SendControlRequest(kRequestProtectionReleased);
}

void OnProtectionTick(HWND) {
    if (g_protectionMode == kModeAutoProtection) ApplyAutoProtection();
    if (g_protectionHost.refreshIcon) g_protectionHost.refreshIcon();
}

void OnAlarmTick(HWND window) {
    // Re-armed before the tone: the next tick is counted from now, not from the tone's end.
    SetTimer(window, kAlarmTimer, kAlarmPeriodMs, nullptr);
    g_platform.beep(kAlarmToneHz, kAlarmToneMs);
    // At the first tone, find out why the machine stayed awake; off this thread, so that no
    // tone waits for it.
    if (!g_alarmRinging) {
        g_alarmRinging = true;
        StartWakeReport(window);
    }
}

void OnLidClosed(HWND window) {
    NoteLidState(kLidClosed);
    ArmLidAlarmIfSleepExpected(window);
}

void OnLidOpened(HWND window) {
    NoteLidState(kLidOpen);
    StopLidAlarm(window);
}

void ArmLidAlarm(HWND window) {
    // Replaces an armed or ringing alarm: the full delay starts again.
    SetTimer(window, kAlarmTimer, AlarmDelayMs(g_alarmDelay), nullptr);
    g_alarmArmed = true;
    g_alarmRinging = false;
}

void ArmLidAlarmIfSleepExpected(HWND window) {
    // With an external display in use no sleep is expected, so none can fail.
    if (g_protectionMode == kModeLidAlarm && LastLidState() == static_cast<int>(kLidClosed) &&
        !ExternalDisplayKeepsAlarmQuiet()) {
        ArmLidAlarm(window);
    }
}

void StopLidAlarm(HWND window) {
    KillTimer(window, kAlarmTimer);
    g_alarmArmed = false;
}

bool LidAlarmArmed() { return g_alarmArmed; }
