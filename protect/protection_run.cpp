#include "protect/protection_run.h"

#include "common/event_log.h"
#include "common/seam_clocks.h"
#include "common/sound_output.h"
#include "protect/closed_lid_watch.h"
#include "protect/lid_monitor.h"
#include "protect/lid_state.h"
#include "protect/power_notifications.h"
#include "protect/presence.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "protect/protection_state.h"
#include "protect/wake_choices.h"
#include "protect/wake_finding.h"
#include "protect/wake_report.h"

namespace {

constexpr UINT_PTR kProtectionTimers[] = {kProtectionTimer,  kAlarmTimer,      kLidSensingTimer, kRestTimer,
                                          kRestConfirmTimer, kHoldSettleTimer, kWakeSourceTimer};

bool Running() { return g_protection.run.running; }

HWND Window() { return Host().window; }

bool IsProtectionTimer(UINT_PTR timer) {
    for (UINT_PTR own : kProtectionTimers)
        if (timer == own) return true;
    return false;
}

void OnProtectionTimer(UINT_PTR timer) {
    // A tick queued before the run ended finds nothing to do.
    if (!Running()) return;
    HWND window = Window();
    switch (timer) {
    case kProtectionTimer:  OnProtectionTick(window); break;
    case kAlarmTimer:       OnAlarmTick(window); break;
    case kLidSensingTimer:  OnLidSensingTimeout(window); break;
    case kRestTimer:        OnRestTick(window); break;
    case kRestConfirmTimer: OnRestConfirmTick(window); break;
    case kHoldSettleTimer:  OnHoldSettleTick(window); break;
    case kWakeSourceTimer:  OnWakeSourceTick(window); break;
    }
}

void OnLidStateMessage(LidState state, LPARAM occasion) {
    if (!Running()) return;
    if (occasion == kLidStateOnRequest) ReportLidStateOnRequest(Window(), state);
    else ReportLidState(Window(), state);
}

void OnInputMessage(HRAWINPUT input) {
    if (Running() && NotePersonInput(input)) OnPersonInput(Window());
}

}  // namespace

void StartProtection(const ProtectionHost& host) {
    EndProtection();  // a run still going is ended first, everything put back
    g_protection.run = {};
    g_protection.run.host = host;
    g_protection.run.running = true;
    StartEventLog();
    StartProtectionRun();
    StartSleepNotifications();
    if (host.changesPowerPolicy) {
        StartPolicyNotifications();
        g_clockSeam.setProtectionTimer(host.window, kProtectionTimer, kProtectionPeriodMs, nullptr);
        // The first protection tick runs as soon as the message loop starts.
        PostMessageW(host.window, WM_TIMER, kProtectionTimer, 0);
    }
    if (host.startLidSource) host.startLidSource();
}

void EndProtection() {
    if (!Running()) return;
    g_protection.run.running = false;
    for (UINT_PTR timer : kProtectionTimers) KillTimer(Window(), timer);
    StopInputWatch();
    StopPowerNotifications();
    StopWakeReport();
    StopWakeFinding();
    StopWakeChoices();
    EndSoundOutputReads();
    ReleaseAutoProtection();
    // After the release: control request 2 goes through the driver's device.
    StopLidMonitor();
    EndEventLog();
}

bool HandleProtectionMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    switch (msg) {
    case WM_TIMER:
        if (!IsProtectionTimer(wParam)) return false;
        OnProtectionTimer(wParam);
        return true;
    case kLidStateMessage: OnLidStateMessage(LidStateFromValue(wParam), lParam); return true;
    // Frees the report, also after the run's end.
    case kWakeReportMessage: OnWakeReport(lParam); return true;
    case kWakeSourceMessage: OnWakeSourceFound(lParam); return true;
    case kDeviceWakeMessage: OnDeviceWakeResults(Window(), lParam); return true;
    case WM_POWERBROADCAST:
        if (Running()) OnPowerBroadcast(Window(), wParam, lParam);
        // TRUE grants a query to suspend; Kalnix never stands in the way of a sleep.
        *result = TRUE;
        return true;
    case WM_DISPLAYCHANGE: if (Running()) OnDisplayChange(Window()); return false;
    // The system cleans up after the default handling.
    case WM_INPUT: OnInputMessage(reinterpret_cast<HRAWINPUT>(lParam)); return false;
    }
    return false;
}

void NoteReportedPersonInput() {
    if (!Running()) return;
    NoteReportedInput();
    OnPersonInput(Window());
}
