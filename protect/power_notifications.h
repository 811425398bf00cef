#pragma once

#include <windows.h>

// What the system itself tells the host window: the lid switch (where the lid-sensor driver
// is absent), sleep and resume, and display changes. Runs on the main thread only.

// Window timer of the host window: ends the wait for the system's first lid report.
constexpr UINT_PTR kLidSensingTimer = 3;
// Windows reports the lid's state right after registration; a machine without a lid never
// does. Long enough for a start at log-on, when the system is busy.
constexpr UINT kLidSensingWaitMs = 5000;

constexpr const wchar_t* kNoLidNote = L"Cannot sense a lid: no lid alarm";

// Registers the host window for the lid switch's notifications; the lid stand-in for the
// driver. Logs and notes at once when the system offers none.
void StartLidNotifications();
// Registers the host window for suspend and resume (Windows 8 and later need the request;
// older systems send them anyway).
void StartSleepNotifications();
// Unregisters whatever was registered.
void StopPowerNotifications();

// WM_POWERBROADCAST: lid-switch changes, suspend and resume.
void OnPowerBroadcast(HWND window, WPARAM event, LPARAM data);
// WM_DISPLAYCHANGE: an external display that comes or goes with the lid closed.
void OnDisplayChange(HWND window);
// kLidSensingTimer: no lid report has come.
void OnLidSensingTimeout(HWND window);

// The lid state as last reported, by the driver or the system: 0 closed, 1 open, -1 unknown.
int LastLidState();
void NoteLidState(int lidState);

// True when a display other than the laptop's own panel is in use right now: with the lid
// closed the machine is then docked or used closed, and no sleep is expected.
bool ExternalDisplayInUse();
// True when an external display in use keeps the lid alarm quiet: unless the setting
// AlarmWithExternalDisplay is 1 (read at every use), for machines that must sleep even with
// a display attached.
bool ExternalDisplayKeepsAlarmQuiet();
// Whether an output technology is the machine's own panel.
bool IsInternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology);
