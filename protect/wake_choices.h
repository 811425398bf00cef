#pragma once

#include <windows.h>

#include "common/setting_list.h"
#include "common/setting_table.h"

// The wake settings an administrator chose, which the protection puts in force: whether
// automatic maintenance may wake the laptop (MaintenanceWakeOff), and which devices may not:
// those chosen in More settings (WakeDevicesOff) and, with WakingDevicesOff, every device that
// woke the closed laptop on battery. Only a device Kalnix itself saw wake the laptop
// (WakeDevices) is ever kept from it, whatever a list says, and only one Kalnix kept from it
// is allowed again. Devices are switched through the power tool on a worker thread; each
// change is logged and reported, a failure once a run.

constexpr const wchar_t* kWakeDevicesValue = SettingName(SettingId::WakeDevices);
constexpr const wchar_t* kWakeDevicesOffValue = SettingName(SettingId::WakeDevicesOff);

// The switches to make: each device to keep from waking the laptop, or to allow again.
struct DeviceWakeChange {
    wchar_t device[kSettingListNameChars];
    bool allowed;
};
struct DeviceWakePlan {
    int count;
    DeviceWakeChange changes[2 * kSettingListNames];
};

// From the lists as stored: `seen` (WakeDevices), `chosen` (WakeDevicesOff), `everySeen`
// (WakingDevicesOff), `disarmed` (those Kalnix kept from waking it) and `failed` (not tried
// again this run).
void PlanDeviceWake(const SettingList& seen, const SettingList& chosen, bool everySeen, const SettingList& disarmed,
                    const SettingList& failed, DeviceWakePlan* plan);

// A device that woke the closed laptop on battery (as Windows names it): noted in
// WakeDevices, then the choices are put in force (WakingDevicesOff may cover it).
void NoteWakingDevice(HWND window, const wchar_t* device);
// Puts the choices in force, for a host that changes the power policy: at every protection
// tick and whenever the settings change. A switch still running is followed by another.
void ApplyWakeChoices(HWND window);
// kDeviceWakeMessage: the worker's results, logged and reported, then freed (also after the
// run's end, when they are only freed).
void OnDeviceWakeResults(HWND window, LPARAM results);
// The end of the run: the worker is stopped.
void StopWakeChoices();
