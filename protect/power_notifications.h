#pragma once

#include <windows.h>

// What the system itself tells the host: the lid switch (where the lid-sensor driver is
// absent), sleep and resume, the console display, the lid-close action and the power source.
// Registered for the host's recipient with its flags (protect/protection_host.h). A lid source
// like the driver: it reports to the protection modes, which decide. Main thread only.

constexpr const wchar_t* kNoLidNote = L"Cannot sense a lid: no lid alarm";

// Registers for the lid switch's notifications; the lid stand-in for the driver. Logs and
// notes at once when the system offers none, else waits kLidSensingTimer's time for the first
// report (protect/protection_messages.h).
void StartLidNotifications();
// Registers the lid switch's notification anew: Windows then reports the lid's state as it is
// now, which comes to the protection modes as a report on request. False where the lid's
// state does not come from these notifications.
bool RequestLidSwitchReport();
// Registers for suspend and resume where the host asks (Windows 8 and later need the request
// for a window; older systems, and every system for a service, send them anyway), and for the
// console display's state.
void StartSleepNotifications();
// Registers for changes of the lid-close action and of the power source, which automatic
// protection answers at once (a host that changes the power policy only); a change to battery
// with the lid closed is watched in either mode.
void StartPolicyNotifications();
// Unregisters whatever was registered.
void StopPowerNotifications();

// WM_POWERBROADCAST: lid-switch changes, lid-close action and power source changes, suspend
// and resume.
void OnPowerBroadcast(HWND window, WPARAM event, LPARAM data);
// kLidSensingTimer: no lid report has come.
void OnLidSensingTimeout(HWND window);
