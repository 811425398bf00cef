#pragma once

#include <windows.h>

constexpr const wchar_t* kTrayWindowClass = L"KalnixWndClass";
constexpr const wchar_t* kTrayWindowName = L"KalnixWnd";

// Whether the protection the window starts senses the lid itself (the lid-sensor driver, else
// Windows' notifications: protect/lid_source.h), or the lid-state messages are posted to the
// window by whoever created it.
enum class TrayLid { Sensed, Posted };

// Registers "KalnixWndClass", creates the hidden tray window, stores it in g_trayWindow and
// starts the protection in it (protect/protection_run.h), which its WM_DESTROY, or the end of
// the session, ends.
void CreateTrayWindow(TrayLid lid);
// Creates the same window as the protection service's face in this session (app/face.h): it
// protects nothing itself, and shows what the service says.
void CreateFaceWindow();
// True in the face: the window hosts no protection.
bool TrayIsFace();
LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// True when the calling thread's token is in the built-in Administrators group.
bool IsUserAdministrator();
// Lets the shell's "TaskbarCreated" broadcast through the message filter.
bool AllowTaskbarCreated();
