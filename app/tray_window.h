#pragma once

#include <windows.h>

constexpr const wchar_t* kTrayWindowClass = L"KalnixWndClass";
constexpr const wchar_t* kTrayWindowName = L"KalnixWnd";

// Registers "KalnixWndClass", creates the hidden tray window and stores it in g_trayWindow.
void CreateTrayWindow();
LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// True when the calling thread's token is in the built-in Administrators group.
bool IsUserAdministrator();
// Lets the shell's "TaskbarCreated" broadcast through the message filter.
bool AllowTaskbarCreated();
