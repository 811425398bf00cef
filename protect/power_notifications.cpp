#include "protect/power_notifications.h"

#include <cstring>

#include "common/diagnostic_log.h"
#include "common/lid_close_action.h"
#include "common/seam_power.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "protect/protection_state.h"

namespace {

// GUID_LIDSWITCH_STATE_CHANGE; the toolchain's headers do not carry it.
constexpr GUID kLidSwitchStateChange = {0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};

// Windows reports the lid's state right after registration; a machine without a lid never
// does. Long enough for a start at log-on, when the system is busy.
constexpr UINT kLidSensingWaitMs = 5000;

// GUID_ACDC_POWER_SOURCE: a change of power source brings the other lid-close action into force.
constexpr GUID kPowerSource = {0x5D3E9A59, 0xE9D5, 0x4B00, {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}};

// GUID_CONSOLE_DISPLAY_STATE: 0 off, 1 on, 2 dimmed.
constexpr GUID kConsoleDisplayState = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
constexpr DWORD kDisplayOff = 0;
constexpr DWORD kDisplayOn = 1;

// The power source's reports: 0 mains, 1 battery, 2 a short-term source such as a UPS.
constexpr DWORD kOnBattery = 1;

NotificationState& Notifications() { return g_protection.run.notifications; }

// Registers the host's recipient for one setting's changes.
HPOWERNOTIFY RegisterSetting(const GUID& setting) {
    const ProtectionHost& host = Host();
    return g_powerSeam.registerPowerSettingNotification(host.notificationRecipient, &setting, host.notificationFlags);
}

void Unregister(HPOWERNOTIFY* handle, decltype(PowerSeam::unregisterPowerSettingNotification) unregister) {
    if (!*handle) return;
    unregister(*handle);
    *handle = nullptr;
}

void ReportNoLid() {
    LogMessage(L"Can't sense a lid: Windows reports no lid switch\n");
    ReportLidSource(LidSource::None);
    if (Host().showNote) Host().showNote(kNoLidNote);
}

// The data's size is not documented for every setting: at most the 4 bytes of a DWORD.
bool SettingValue(const POWERBROADCAST_SETTING* setting, DWORD* value) {
    if (setting->DataLength == 0) return false;
    *value = 0;
    memcpy(value, setting->Data, setting->DataLength < sizeof(*value) ? setting->DataLength : sizeof(*value));
    return true;
}

void OnConsoleDisplay(HWND window, const POWERBROADCAST_SETTING* setting) {
    DWORD state = kDisplayOn;
    if (!SettingValue(setting, &state)) return;
    NotificationState& n = Notifications();
    bool turnedOn = n.displayReported && n.displayState == kDisplayOff && state == kDisplayOn;
    bool turnedOff = n.displayReported && n.displayState != kDisplayOff && state == kDisplayOff;
    n.displayReported = true;
    n.displayState = state;
    if (turnedOn) OnDisplayTurnedOn(window);
    else if (turnedOff) OnDisplayTurnedOff(window);
}

void OnPowerSource(HWND window, const POWERBROADCAST_SETTING* setting) {
    DWORD source = 0;
    if (!SettingValue(setting, &source)) return OnLidClosePolicyChange();
    NotificationState& n = Notifications();
    bool toBattery = n.powerSourceReported && n.powerSourceState != kOnBattery && source == kOnBattery;
    n.powerSourceReported = true;
    n.powerSourceState = source;
    OnPowerSourceChange(window, toBattery);
}

void OnLidSwitch(HWND window, const POWERBROADCAST_SETTING* setting) {
    DWORD value = 0;
    if (!SettingValue(setting, &value)) return;
    LidState state = LidStateFromValue(value);
    if (state == LidState::Unknown) return;

    NotificationState& n = Notifications();
    if (n.lidReportRequested) {
        // The first report after registering anew: the state now, as asked for.
        n.lidReportRequested = false;
        return ReportLidStateOnRequest(window, state);
    }
    if (n.lidReported) return ReportLidState(window, state);
    // The report that follows registration is the state Kalnix starts in, not a change.
    n.lidReported = true;
    ReportLidSource(LidSource::WindowsNotifications);
    if (n.waitingForLid) {
        n.waitingForLid = false;
        KillTimer(window, kLidSensingTimer);
    } else if (Host().showNote) {
        Host().showNote(nullptr);  // a late first report: the lid is sensed after all
    }
    ReportStartingLidState(state);
}

}  // namespace

void StartLidNotifications() {
    NotificationState& n = Notifications();
    n.lidReported = false;
    n.waitingForLid = false;
    n.lidReportRequested = false;
    n.lid = RegisterSetting(kLidSwitchStateChange);
    if (!n.lid) {
        ReportNoLid();
        return;
    }
    n.waitingForLid = true;
    SetTimer(Host().window, kLidSensingTimer, kLidSensingWaitMs, nullptr);
}

bool RequestLidSwitchReport() {
    NotificationState& n = Notifications();
    // Only once the first report has come: until then the state Kalnix starts in is awaited.
    if (!n.lid || !n.lidReported) return false;
    Unregister(&n.lid, g_powerSeam.unregisterPowerSettingNotification);
    // Set first: the report may come while the registration is made.
    n.lidReportRequested = true;
    n.lid = RegisterSetting(kLidSwitchStateChange);
    if (!n.lid) n.lidReportRequested = false;
    return n.lid != nullptr;
}

void StartSleepNotifications() {
    NotificationState& n = Notifications();
    const ProtectionHost& host = Host();
    if (host.registerSuspendResume)
        n.sleep = g_powerSeam.registerSuspendResumeNotification(host.notificationRecipient, host.notificationFlags);
    // On a Modern Standby laptop a wake in the bag may show only as the display coming on.
    n.displayReported = false;
    n.displayState = kDisplayOn;
    n.display = RegisterSetting(kConsoleDisplayState);
}

void StartPolicyNotifications() {
    NotificationState& n = Notifications();
    // Another tool's "Do nothing" is mended when it appears, not at the next hourly tick.
    n.powerSourceReported = false;
    n.lidCloseAction = RegisterSetting(kLidCloseSetting);
    n.powerSource = RegisterSetting(kPowerSource);
}

void StopPowerNotifications() {
    NotificationState& n = Notifications();
    Unregister(&n.lid, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&n.sleep, g_powerSeam.unregisterSuspendResumeNotification);
    Unregister(&n.display, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&n.lidCloseAction, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&n.powerSource, g_powerSeam.unregisterPowerSettingNotification);
}

void OnPowerBroadcast(HWND window, WPARAM event, LPARAM data) {
    switch (event) {
    case PBT_POWERSETTINGCHANGE: {
        const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(data);
        if (!setting) break;
        if (IsEqualGUID(setting->PowerSetting, kLidSwitchStateChange)) OnLidSwitch(window, setting);
        else if (IsEqualGUID(setting->PowerSetting, kConsoleDisplayState)) OnConsoleDisplay(window, setting);
        else if (IsEqualGUID(setting->PowerSetting, kLidCloseSetting)) OnLidClosePolicyChange();
        else if (IsEqualGUID(setting->PowerSetting, kPowerSource)) OnPowerSource(window, setting);
        break;
    }
    case PBT_APMSUSPEND:
        OnSuspend(window);
        break;
    case PBT_APMRESUMEAUTOMATIC:
        OnResume(window, ResumeKind::Unattended);
        break;
    case PBT_APMRESUMESUSPEND:
        OnResume(window, ResumeKind::WithUser);
        break;
    }
}

void OnLidSensingTimeout(HWND window) {
    KillTimer(window, kLidSensingTimer);
    NotificationState& n = Notifications();
    if (!n.waitingForLid) return;  // reported already, or nothing registered
    n.waitingForLid = false;
    ReportNoLid();
}
