#pragma once

#include <windows.h>

// The process-wide copies of Action (1 automatic protection, 2 lid alarm, else neither) and
// AlarmTime (seconds), which the protection code reads. Handed down at start-up, by the
// settings dialog and by ChangeProtectionSettings (protect/protection_run.h); they outlive a
// run of the protection.

constexpr int kModeAutoProtection = 1;
constexpr int kModeLidAlarm = 2;

// Stores both. A lid-close action saved while the mode is not 1 is then one a run in mode 1
// left behind (the mode changed since by policy or /MODE=2): the next protection tick puts it
// back rather than leave the user's choice replaced (TakeSavedActionPending).
void SetProtectionSettings(int mode, int alarmDelaySeconds);
int ProtectionMode();
int AlarmDelaySeconds();
// True once after the settings were handed down.
bool TakeSavedActionPending();

// The alarm timer's first interval in milliseconds for a delay in seconds: the stored
// DWORD times 1000 without overflow, capped at USER_TIMER_MAXIMUM.
UINT AlarmDelayMs(int alarmDelaySeconds);
// The same for a count of seconds of any size.
UINT SecondsToTimerMs(ULONGLONG seconds);
