#include "protect/power_notifications.h"

#include <cstring>

#include "common/diagnostic_log.h"
#include "common/lid_close_action.h"
#include "common/seam_power.h"
#include "protect/protection_host.h"
#include "protect/protection_modes.h"

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

HPOWERNOTIFY g_lidNotification = nullptr;
HPOWERNOTIFY g_displayNotification = nullptr;
// The display's last reported state; the report that follows registration only sets it.
DWORD g_displayState = kDisplayOn;
bool g_displayReported = false;
HPOWERNOTIFY g_sleepNotification = nullptr;
HPOWERNOTIFY g_lidCloseActionNotification = nullptr;
HPOWERNOTIFY g_powerSourceNotification = nullptr;
// The power source's last report (0 mains, 1 battery, 2 a short-term source such as a UPS);
// the report that follows registration only sets it.
constexpr DWORD kOnBattery = 1;
DWORD g_powerSource = 0;
bool g_powerSourceReported = false;
// Set by the system's first lid report after registration, which gives the starting state.
bool g_lidReported = false;
// Between the registration and its first report or the end of the wait for it.
bool g_waitingForLid = false;
// Registered anew to learn the state now: the next report answers that.
bool g_lidReportRequested = false;

void Unregister(HPOWERNOTIFY* handle, decltype(PowerSeam::unregisterPowerSettingNotification) unregister) {
    if (!*handle) return;
    unregister(*handle);
    *handle = nullptr;
}

void ReportNoLid() {
    LogMessage(L"Can't sense a lid: Windows reports no lid switch\n");
    ReportLidSource(LidSource::None);
    if (g_protectionHost.showNote) g_protectionHost.showNote(kNoLidNote);
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
    bool turnedOn = g_displayReported && g_displayState == kDisplayOff && state == kDisplayOn;
    bool turnedOff = g_displayReported && g_displayState != kDisplayOff && state == kDisplayOff;
    g_displayReported = true;
    g_displayState = state;
    if (turnedOn) OnDisplayTurnedOn(window);
    else if (turnedOff) OnDisplayTurnedOff(window);
}

void OnPowerSource(HWND window, const POWERBROADCAST_SETTING* setting) {
    DWORD source = 0;
    if (!SettingValue(setting, &source)) return OnLidClosePolicyChange();
    bool toBattery = g_powerSourceReported && g_powerSource != kOnBattery && source == kOnBattery;
    g_powerSourceReported = true;
    g_powerSource = source;
    OnPowerSourceChange(window, toBattery);
}

void OnLidSwitch(HWND window, const POWERBROADCAST_SETTING* setting) {
    DWORD value = 0;
    if (!SettingValue(setting, &value)) return;
    LidState state = LidStateFromValue(value);
    if (state == LidState::Unknown) return;

    if (g_lidReportRequested) {
        // The first report after registering anew: the state now, as asked for.
        g_lidReportRequested = false;
        return ReportLidStateOnRequest(window, state);
    }
    if (g_lidReported) return ReportLidState(window, state);
    // The report that follows registration is the state Kalnix starts in, not a change.
    g_lidReported = true;
    ReportLidSource(LidSource::WindowsNotifications);
    if (g_waitingForLid) {
        g_waitingForLid = false;
        KillTimer(window, kLidSensingTimer);
    } else if (g_protectionHost.showNote) {
        g_protectionHost.showNote(nullptr);  // a late first report: the lid is sensed after all
    }
    ReportStartingLidState(state);
}

}  // namespace

void StartLidNotifications() {
    g_lidReported = false;
    g_waitingForLid = false;
    g_lidReportRequested = false;
    g_lidNotification = g_powerSeam.registerPowerSettingNotification(g_protectionHost.window, &kLidSwitchStateChange,
                                                                    DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!g_lidNotification) {
        ReportNoLid();
        return;
    }
    g_waitingForLid = true;
    SetTimer(g_protectionHost.window, kLidSensingTimer, kLidSensingWaitMs, nullptr);
}

bool RequestLidSwitchReport() {
    // Only once the first report has come: until then the state Kalnix starts in is awaited.
    if (!g_lidNotification || !g_lidReported) return false;
    Unregister(&g_lidNotification, g_powerSeam.unregisterPowerSettingNotification);
    // Set first: the report may come while the registration is made.
    g_lidReportRequested = true;
    g_lidNotification = g_powerSeam.registerPowerSettingNotification(g_protectionHost.window, &kLidSwitchStateChange,
                                                                    DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!g_lidNotification) g_lidReportRequested = false;
    return g_lidNotification != nullptr;
}

void StartSleepNotifications() {
    g_sleepNotification = g_powerSeam.registerSuspendResumeNotification(g_protectionHost.window,
                                                                       DEVICE_NOTIFY_WINDOW_HANDLE);
    // On a Modern Standby laptop a wake in the bag may show only as the display coming on.
    g_displayReported = false;
    g_displayState = kDisplayOn;
    g_displayNotification = g_powerSeam.registerPowerSettingNotification(g_protectionHost.window, &kConsoleDisplayState,
                                                                        DEVICE_NOTIFY_WINDOW_HANDLE);
}

void StartPolicyNotifications() {
    // Another tool's "Do nothing" is mended when it appears, not at the next hourly tick.
    g_powerSourceReported = false;
    g_lidCloseActionNotification = g_powerSeam.registerPowerSettingNotification(
        g_protectionHost.window, &kLidCloseSetting, DEVICE_NOTIFY_WINDOW_HANDLE);
    g_powerSourceNotification = g_powerSeam.registerPowerSettingNotification(g_protectionHost.window, &kPowerSource,
                                                                            DEVICE_NOTIFY_WINDOW_HANDLE);
}

void StopPowerNotifications() {
    Unregister(&g_lidNotification, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&g_sleepNotification, g_powerSeam.unregisterSuspendResumeNotification);
    Unregister(&g_displayNotification, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&g_lidCloseActionNotification, g_powerSeam.unregisterPowerSettingNotification);
    Unregister(&g_powerSourceNotification, g_powerSeam.unregisterPowerSettingNotification);
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
    if (!g_waitingForLid) return;  // reported already, or nothing registered
    g_waitingForLid = false;
    ReportNoLid();
}
