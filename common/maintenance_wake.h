#pragma once

#include <windows.h>

#include "common/setting_table.h"

// Whether Windows' automatic maintenance may wake the laptop to run (Windows 8 and later): the
// value WakeUp of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Schedule\Maintenance, 1 it
// may, 0 it may not; without the value Windows lets it. Group Policy's "Automatic Maintenance
// WakeUp Policy" (WakeUp under kMaintenancePolicyKeyPath) wins over it. Kalnix turns it off where MaintenanceWakeOff says so, saving the
// user's value first; only the value Kalnix wrote is ever taken back.

constexpr const wchar_t* kMaintenanceKeyPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\Maintenance";
constexpr const wchar_t* kMaintenancePolicyKeyPath = L"Software\\Policies\\Microsoft\\Windows\\Task Scheduler\\Maintenance";
constexpr const wchar_t* kMaintenanceWakeValue = L"WakeUp";

// The user's value (REG_DWORD, absent where Windows had none) and the value Kalnix wrote,
// recorded before the write: it alone says that Kalnix changed the setting.
constexpr const wchar_t* kSavedMaintenanceWake = SettingName(SettingId::MaintenanceWakeUp);
constexpr const wchar_t* kWrittenMaintenanceWake = SettingName(SettingId::MaintenanceWakeWritten);

// True where Windows offers the setting (its key exists).
bool MaintenanceWakeOffered();
// True while Kalnix's own change is recorded.
bool MaintenanceWakeChanged();

// Where automatic maintenance may wake the laptop, saves the user's value (unless saved
// already) and writes 0. A Group Policy that sets it is logged once and respected.
void EnforceMaintenanceWakeOff();

// Puts the user's value back (or deletes the value Windows did not have), unless someone set
// another value since, and forgets the saved values. True when nothing was saved or it was
// put back; false keeps them for a later try.
bool RestoreMaintenanceWake();
