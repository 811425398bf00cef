#pragma once

#include <windows.h>

// The messages and window timers of the protection, all of them handled inside protect/: the
// host window hands every message to HandleProtectionMessage (protect/protection_run.h).

// Posted by the lid monitor thread: wParam kLidClosed or kLidOpen (protect/driver_contract.h),
// lParam why it was posted: the lid changed, or the state as it is now was asked for
// (RequestLidStateReport, protect/lid_monitor.h), which is no change.
constexpr UINT kLidStateMessage = WM_USER + 0x100;
constexpr LPARAM kLidChanged = 0;
constexpr LPARAM kLidStateOnRequest = 1;
// Posted by the wake report's worker; lParam is the finished WakeReport (protect/wake_report.h).
constexpr UINT kWakeReportMessage = WM_USER + 0x101;
// Posted by the worker that named what woke the laptop; lParam is its WakeSource
// (protect/wake_finding.h).
constexpr UINT kWakeSourceMessage = WM_USER + 0x102;
// Posted by the worker that switched devices' wake; lParam is its results
// (protect/wake_choices.h).
constexpr UINT kDeviceWakeMessage = WM_USER + 0x103;

// Window timers of the host window.
constexpr UINT_PTR kProtectionTimer = 1;
constexpr UINT_PTR kAlarmTimer = 2;
// Ends the wait for the system's first lid report (protect/power_notifications.h).
constexpr UINT_PTR kLidSensingTimer = 3;
// Puts a closed laptop nobody hears to rest (protect/closed_lid_watch.h), and waits for a
// display-off request's effect (protect/rest_escalation.h).
constexpr UINT_PTR kRestTimer = 4;
constexpr UINT_PTR kRestConfirmTimer = 5;
// Decides or ends the hold for a docked user once the displays have settled
// (protect/user_hold.h).
constexpr UINT_PTR kHoldSettleTimer = 6;
// Asks what woke the laptop once Windows has written its records of the wake
// (protect/wake_finding.h).
constexpr UINT_PTR kWakeSourceTimer = 7;
constexpr UINT kProtectionPeriodMs = 3600000;
