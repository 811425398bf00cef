#include "protect/power_notifications.h"

#include <cstring>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/platform.h"
#include "common/settings_store.h"
#include "protect/driver_contract.h"
#include "protect/protection_host.h"
#include "protect/protection_modes.h"

namespace {

// GUID_LIDSWITCH_STATE_CHANGE; the toolchain's headers do not carry it.
constexpr GUID kLidSwitchStateChange = {0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};

HPOWERNOTIFY g_lidNotification = nullptr;
HPOWERNOTIFY g_sleepNotification = nullptr;
// Set by the system's first lid report after registration, which gives the starting state.
bool g_lidReported = false;
// Between the registration and its first report or the end of the wait for it.
bool g_waitingForLid = false;
int g_lidState = -1;

using UnregisterFn = BOOL(WINAPI*)(HPOWERNOTIFY);

void Unregister(HPOWERNOTIFY* handle, const char* function) {
    if (!*handle) return;
    // A handle exists only where the registration was found, so its undoing is there too.
    if (auto unregister = LoadedFunction<UnregisterFn>(L"user32", function)) unregister(*handle);
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
    if (value != kLidClosed && value != kLidOpen) return;

    if (!g_lidReported) {
        // The report that follows registration is the state Kalnix starts in, not a change.
        g_lidReported = true;
        if (g_waitingForLid) {
            g_waitingForLid = false;
            KillTimer(window, kLidSensingTimer);
        } else if (g_protectionHost.showNote) {
            g_protectionHost.showNote(nullptr);  // a late first report: the lid is sensed after all
        }
        NoteLidState(static_cast<int>(value));
        return;
    }
    if (value == kLidClosed) OnLidClosed(window);
    else OnLidOpened(window);
}

// Woken in the bag (a wake timer, a device): the closed laptop must fall asleep again.
void OnResume(HWND window) { ArmLidAlarmIfSleepExpected(window); }

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

void StopPowerNotifications() {
    Unregister(&g_lidNotification, "UnregisterPowerSettingNotification");
    Unregister(&g_sleepNotification, "UnregisterSuspendResumeNotification");
}

void OnPowerBroadcast(HWND window, WPARAM event, LPARAM data) {
    switch (event) {
    case PBT_POWERSETTINGCHANGE: {
        const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(data);
        if (setting && IsEqualGUID(setting->PowerSetting, kLidSwitchStateChange)) OnLidSwitch(window, setting);
        break;
    }
    case PBT_APMSUSPEND:
        // The machine is going to sleep, which is what the alarm waited for.
        StopLidAlarm(window);
        break;
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMESUSPEND:
        OnResume(window);
        break;
    }
}

void OnDisplayChange(HWND window) {
    if (g_protectionMode != kModeLidAlarm || g_lidState != static_cast<int>(kLidClosed)) return;
    if (ExternalDisplayKeepsAlarmQuiet()) StopLidAlarm(window);
    else if (!LidAlarmArmed()) ArmLidAlarm(window);  // the last external display has gone
}

void OnLidSensingTimeout(HWND window) {
    KillTimer(window, kLidSensingTimer);
    if (!g_waitingForLid) return;  // reported already, or nothing registered
    g_waitingForLid = false;
    ReportNoLid();
}

int LastLidState() { return g_lidState; }

void NoteLidState(int lidState) { g_lidState = lidState; }

bool IsInternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology) {
    return technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL ||
           technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EMBEDDED ||
           technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EMBEDDED;
}

bool ExternalDisplayKeepsAlarmQuiet() {
    // Read quietly: an absent value is the usual case, not a failure worth a log line.
    DWORD alarmAnyway = 0;
    if (ReadSettingDwordQuietly(L"AlarmWithExternalDisplay", &alarmAnyway) && alarmAnyway == 1) return false;
    return ExternalDisplayInUse();
}

bool ExternalDisplayInUse() {
    // The layout can change between the two calls; a few tries cover that. Any failure
    // counts as no external display, so the alarm works as it always did.
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT32 pathCount = 0;
        UINT32 modeCount = 0;
        if (g_platform.getDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &pathCount, &modeCount) != ERROR_SUCCESS) {
            return false;
        }
        if (pathCount == 0) return false;
        if (pathCount > 64 || modeCount > 128) return false;  // far beyond any machine
        DISPLAYCONFIG_PATH_INFO paths[64];
        DISPLAYCONFIG_MODE_INFO modes[128];
        LONG result = g_platform.queryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths, &modeCount, modes, nullptr);
        if (result == ERROR_INSUFFICIENT_BUFFER) continue;
        if (result != ERROR_SUCCESS) return false;
        for (UINT32 i = 0; i < pathCount; ++i) {
            if (!IsInternalOutput(paths[i].targetInfo.outputTechnology)) return true;
        }
        return false;
    }
    return false;
}
