#pragma once

#include <windows.h>

// Protection mode and alarm delay: the process-wide copies of Action and AlarmTime, read at
// start-up and changed only by the settings dialog.
extern int g_protectionMode;     // 1 automatic protection, 2 lid alarm, else neither
extern int g_alarmDelay;         // seconds

constexpr int kModeAutoProtection = 1;
constexpr int kModeLidAlarm = 2;

// Posted to the host window by the lid sources: wParam 0 lid closed, 1 lid open.
constexpr UINT kLidStateMessage = WM_USER + 0x100;

// Window timers of the host window.
constexpr UINT_PTR kProtectionTimer = 1;
constexpr UINT_PTR kAlarmTimer = 2;
constexpr UINT kProtectionPeriodMs = 3600000;

// Forces the lid-close flags and sends control request 1.
void ApplyAutoProtection();
// Restores the saved lid-close flags and sends control request 2.
void ReleaseAutoProtection();

// The tray window's timer and lid-state handling.
void OnProtectionTick(HWND window);
void OnAlarmTick(HWND window);
void OnLidClosed(HWND window);
void OnLidOpened(HWND window);

// The lid alarm's timer: armed with the full delay, or stopped. Armed also while ringing.
void ArmLidAlarm(HWND window);
// Arms the alarm where a sleep is expected now: lid alarm mode, the lid closed, and no
// external display in use (docked, or used closed).
void ArmLidAlarmIfSleepExpected(HWND window);
void StopLidAlarm(HWND window);
bool LidAlarmArmed();

// The alarm timer's first interval in milliseconds for a delay in seconds: the stored
// DWORD times 1000 without overflow, capped at USER_TIMER_MAXIMUM.
UINT AlarmDelayMs(int alarmDelaySeconds);
