#pragma once

#include <windows.h>

// Process-wide state of the tray application, all of it zero at load and owned by the
// main thread.

// Logo record: the DIB section's description, then its handle (null when decoding failed).
struct LogoRecord {
    BITMAP bitmap;
    HBITMAP handle;
};

constexpr int kBalloonTextChars = 256;

extern HINSTANCE g_instance;
extern HWND g_trayWindow;
extern int g_protectionMode;     // Action: 1 automatic protection, 2 lid alarm, else neither
extern int g_alarmDelay;         // AlarmTime, seconds
extern wchar_t g_pendingBalloonText[kBalloonTextChars];
extern LogoRecord* g_logoRecord;

// Protection modes.
constexpr int kModeAutoProtection = 1;
constexpr int kModeLidAlarm = 2;

// Window messages of the program's own.
constexpr UINT kTrayCallbackMessage = WM_USER + 1;   // shell -> tray window, mouse events
constexpr UINT kLidStateMessage = WM_USER + 0x100;   // lid monitor -> tray window

// Window timers of the tray window.
constexpr UINT_PTR kProtectionTimer = 1;
constexpr UINT_PTR kAlarmTimer = 2;
constexpr UINT kProtectionPeriodMs = 3600000;

// The text a start with -fresh shows once as a balloon.
constexpr const wchar_t* kFreshStartBalloon =
    L"Kalnix is now running and protecting your laptop.\nDouble click on tray icon for settings.";

// The entry function's work after the single-instance test: takes the 8-bit command-line
// tail and returns the process exit code.
int RunTrayApplication(HINSTANCE instance, const char* commandTail);

// True when the command-line tail is exactly "-fresh" in any letter case.
bool IsFreshSwitch(const char* commandTail);
