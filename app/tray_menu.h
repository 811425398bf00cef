#pragma once

#include <windows.h>

// The tray icon's menu, on a right-click or from the keyboard. An administrator gets
// "Status" (bold, what a double-click does), "Settings…", "More settings…", "Open log" and
// "Exit Kalnix"; a user who is not an administrator sees why Kalnix is disabled, and nothing
// that changes a setting. "Open log" is there only while logging is on and the log exists.

// The items for this user; the caller destroys the menu.
HMENU BuildTrayMenu(bool administrator, bool logAvailable);
// Builds the menu for the user and shows it at `at` (screen coordinates, the shell's anchor);
// the chosen command is posted back to `window` as WM_COMMAND. `fromKeyboard`: a cancelled
// menu hands the focus back to the notification area.
void ShowTrayMenu(HWND window, POINT at, bool administrator, bool fromKeyboard);
// A command of the menu. "Exit Kalnix" ends Kalnix the one orderly way: its window is
// destroyed. While a Kalnix dialog is open, every command but "Open log" brings it to the
// front instead: the user closes it first.
void OnTrayCommand(HWND window, UINT command, bool administrator);
