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
extern wchar_t g_pendingBalloonText[kBalloonTextChars];
extern LogoRecord* g_logoRecord;

// The shell's calls for mouse events on the tray icon. The lid-state message and the
// timers are protect/'s (protect/protection_messages.h).
constexpr UINT kTrayCallbackMessage = WM_USER + 1;

// The text a start with -fresh shows once as a balloon.
constexpr const wchar_t* kFreshStartBalloon =
    L"Kalnix is now running and protecting your laptop.\nDouble click on tray icon for settings.";

// The entry function's work after the single-instance test: takes the 8-bit command-line
// tail and returns the process exit code.
int RunTrayApplication(HINSTANCE instance, const char* commandTail);

// Kalnix beside the protection service: the face of this session (app/face.h), and one settings
// dialog alone, elevated (-settings, -moresettings). Each returns the exit code.
int RunFace(HINSTANCE instance, const char* commandTail);
int RunElevatedDialog(HINSTANCE instance, bool more);
// True when the protection service is registered: Kalnix then runs as its face.
bool ProtectionServiceRegistered();
// The face's marker, one in each session's own namespace.
constexpr const wchar_t* kFaceMarkerName = L"Local\\KalnixFace";

// True when the command-line tail is exactly "-fresh" in any letter case.
bool IsFreshSwitch(const char* commandTail);

// The switches that open one settings dialog alone, with an administrator's rights, for a
// Kalnix beside the protection service that has none (app/settings_effect.h).
constexpr const wchar_t* kElevatedSettingsSwitch = L"-settings";
constexpr const wchar_t* kElevatedMoreSettingsSwitch = L"-moresettings";
