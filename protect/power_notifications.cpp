#include "protect/power_notifications.h"

#include <cstring>

#include "common/diagnostic_log.h"
#include "common/lid_close_action.h"
#include "common/platform.h"
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

HPOWERNOTIFY g_lidNotification = nullptr;
HPOWERNOTIFY g_sleepNotification = nullptr;
HPOWERNOTIFY g_lidCloseActionNotification = nullptr;
HPOWERNOTIFY g_powerSourceNotification = nullptr;
// Set by the system's first lid report after registration, which gives the starting state.
bool g_lidReported = false;
// Between the registration and its first report or the end of the wait for it.
bool g_waitingForLid = false;

void Unregister(HPOWERNOTIFY* handle, decltype(Platform::unregisterPowerSettingNotification) unregister) {
    if (!*handle) return;
    unregister(*handle);
    *handle = nullptr;
}

void ReportNoLid() {
    LogMessage(L"Can't sense a lid: Windows reports no lid switch\n");
    if (g_protectionHost.showNote) g_protectionHost.showNote(kNoLidNote);
}

void OnLidSwitch(HWND window, const POWERBROADCAST_SETTING* setting) {
    // The data's size is not documented: take at most the 4 bytes of a DWORD.
    if (setting->DataLength == 0) return;
    DWORD value = 0;
    memcpy(&value, setting->Data, setting->DataLength < sizeof(value) ? setting->DataLength : sizeof(value));
    LidState state = LidStateFromValue(value);
    if (state == LidState::Unknown) return;

    if (g_lidReported) return ReportLidState(window, state);
    // The report that follows registration is the state Kalnix starts in, not a change.
    g_lidReported = true;
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
    g_lidNotification = g_platform.registerPowerSettingNotification(g_protectionHost.window, &kLidSwitchStateChange,
                                                                    DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!g_lidNotification) {
        ReportNoLid();
        return;
    }
    g_waitingForLid = true;
    SetTimer(g_protectionHost.window, kLidSensingTimer, kLidSensingWaitMs, nullptr);
}

void StartSleepNotifications() {
    g_sleepNotification = g_platform.registerSuspendResumeNotification(g_protectionHost.window,
                                                                       DEVICE_NOTIFY_WINDOW_HANDLE);
}

void StartPolicyNotifications() {
    // Another tool's "Do nothing" is mended when it appears, not at the next hourly tick.
    g_lidCloseActionNotification = g_platform.registerPowerSettingNotification(
        g_protectionHost.window, &kLidCloseSetting, DEVICE_NOTIFY_WINDOW_HANDLE);
    g_powerSourceNotification = g_platform.registerPowerSettingNotification(g_protectionHost.window, &kPowerSource,
                                                                            DEVICE_NOTIFY_WINDOW_HANDLE);
}

void StopPowerNotifications() {
    Unregister(&g_lidNotification, g_platform.unregisterPowerSettingNotification);
    Unregister(&g_sleepNotification, g_platform.unregisterSuspendResumeNotification);
    Unregister(&g_lidCloseActionNotification, g_platform.unregisterPowerSettingNotification);
    Unregister(&g_powerSourceNotification, g_platform.unregisterPowerSettingNotification);
}

void OnPowerBroadcast(HWND window, WPARAM event, LPARAM data) {
    switch (event) {
    case PBT_POWERSETTINGCHANGE: {
        const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(data);
        if (!setting) break;
        if (IsEqualGUID(setting->PowerSetting, kLidSwitchStateChange)) OnLidSwitch(window, setting);
        else if (IsEqualGUID(setting->PowerSetting, kLidCloseSetting) ||
                 IsEqualGUID(setting->PowerSetting, kPowerSource))
            OnLidClosePolicyChange();
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
