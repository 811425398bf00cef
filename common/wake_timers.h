#pragma once

#include <windows.h>

#include "common/setting_table.h"

// "Allow wake timers" of the active power scheme on battery (Windows Vista and later), which
// automatic protection turns off while it runs where WakeTimersOffOnBattery says so: a wake
// timer that fires in a bag wakes a laptop whose lid does not move, and Windows then applies
// no lid-close action. Saved and put back exactly as the lid-close action is.

// GUID_WAKE_ON_TIMER (ntpoapi.h) in GUID_SLEEP_SUBGROUP: 0 Disable, 1 Enable, 2 Important wake
// timers only (Windows 10 and later).
constexpr GUID kWakeTimersSetting = {0xbd3b718a, 0x0680, 0x4d9d, {0x8a, 0xb2, 0xe1, 0xd2, 0xb4, 0xac, 0x80, 0x6d}};
constexpr DWORD kWakeTimersDisable = 0;

// The scheme (REG_BINARY), the user's value and the value Kalnix wrote (REG_DWORD each).
constexpr const wchar_t* kSavedWakeTimersScheme = SettingName(SettingId::WakeTimersScheme);
constexpr const wchar_t* kSavedWakeTimers = SettingName(SettingId::WakeTimersValue);
constexpr const wchar_t* kWrittenWakeTimers = SettingName(SettingId::WakeTimersWritten);

// When the active scheme allows wake timers on battery (all of them or the important ones),
// saves the scheme and the value (unless already saved) and sets it to Disable. The value on
// mains power is left alone; an administrator's lock is logged and respected.
void EnforceWakeTimersOff();

// Puts a saved on-battery value back into its scheme, unless the user has chosen another
// value since, and deletes the saved values. True when nothing was saved or it was put back.
bool RestoreWakeTimers();
