#pragma once

#include <windows.h>

constexpr int kTrayStateEnabled = 0;
constexpr int kTrayStateDisabled = 1;
constexpr int kTrayStateLast = 2;

// Shows the notification-area icon in the given state (2 = the last state shown), with an
// optional tooltip replacing the state's own. True when suppressed by HideTrayIcon or the
// shell accepted the add.
bool UpdateTrayIcon(HWND window, int state, const wchar_t* text);
// Removes the tray window's icon.
void DeleteTrayIcon();
