#pragma once

#include <windows.h>

// The process-wide copies of Action (1 automatic protection, 2 lid alarm, else neither) and
// AlarmTime (seconds), which the protection code reads. Stored at start-up and by the
// settings dialog through SetProtectionSettings (protect/protection_modes.h).

constexpr int kModeAutoProtection = 1;
constexpr int kModeLidAlarm = 2;

void StoreProtectionSettings(int mode, int alarmDelaySeconds);
int ProtectionMode();
int AlarmDelaySeconds();

// The alarm timer's first interval in milliseconds for a delay in seconds: the stored
// DWORD times 1000 without overflow, capped at USER_TIMER_MAXIMUM.
UINT AlarmDelayMs(int alarmDelaySeconds);
// The same for a count of seconds of any size.
UINT SecondsToTimerMs(ULONGLONG seconds);
