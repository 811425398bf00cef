#pragma once

#include <windows.h>

// What the protection code needs of the application, handed down by the application when
// its tray window is created: protect/ never includes app/.
struct ProtectionHost {
    // Receives the lid-state message and the power notifications; owns the timers.
    HWND window;
    // Shows a notification balloon through the tray icon.
    void (*showBalloon)(const wchar_t* text);
    // The protection tick's refresh of the icon in the enabled state.
    void (*refreshIcon)();
    // A lasting second line of the icon's tooltip (null removes it).
    void (*showNote)(const wchar_t* note);
    // Asks the lid's source for the lid's state now; the answer comes as a report on request
    // (protect/protection_modes.h). False where no source can answer.
    bool (*requestLidReport)();
};

// Zero until the application fills it; every callback may be null.
extern ProtectionHost g_protectionHost;

// Messages to the host window.
// Posted by the lid monitor thread: wParam kLidClosed or kLidOpen (protect/driver_contract.h),
// lParam why it was posted: the lid changed, or the state as it is now was asked for
// (RequestLidStateReport, protect/lid_monitor.h), which is no change.
constexpr UINT kLidStateMessage = WM_USER + 0x100;
constexpr LPARAM kLidChanged = 0;
constexpr LPARAM kLidStateOnRequest = 1;
// Posted by the wake report's worker; lParam is the finished WakeReport (protect/wake_report.h).
constexpr UINT kWakeReportMessage = WM_USER + 0x101;

// Window timers of the host window.
constexpr UINT_PTR kProtectionTimer = 1;
constexpr UINT_PTR kAlarmTimer = 2;
// Ends the wait for the system's first lid report (protect/power_notifications.h).
constexpr UINT_PTR kLidSensingTimer = 3;
// Puts a closed laptop nobody hears to rest, and waits for a display-off request's effect
// (protect/closed_lid_watch.h).
constexpr UINT_PTR kRestTimer = 4;
constexpr UINT_PTR kRestConfirmTimer = 5;
// Decides or ends the hold for a docked user once the displays have settled
// (protect/user_hold.h).
constexpr UINT_PTR kHoldSettleTimer = 6;
constexpr UINT kProtectionPeriodMs = 3600000;
