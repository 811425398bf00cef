#pragma once

#include <windows.h>

// Forces the lid-close flags and sends control request 1.
void ApplyAutoProtection();
// Restores the saved lid-close flags and sends control request 2.
void ReleaseAutoProtection();

// The tray window's timer and lid-state handling.
void OnProtectionTick(HWND window);
void OnAlarmTick(HWND window);
void OnLidClosed(HWND window);
void OnLidOpened(HWND window);

// The alarm timer's first interval in milliseconds for a delay in seconds: the stored
// DWORD times 1000 without overflow, capped at USER_TIMER_MAXIMUM.
UINT AlarmDelayMs(int alarmDelaySeconds);
