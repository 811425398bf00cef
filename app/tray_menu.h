#pragma once

#include <windows.h>

// The tray icon's menu, on a left or right click or from the keyboard. An administrator gets
// "Status" (bold, what a double-click does), "Settings…", "More settings…", "Open log" and
// "Exit Kalnix"; a user who is not an administrator sees why Kalnix is disabled, and nothing
// that changes a setting. "Open log" is there only while logging is on and the log exists.

// The items for this user; the caller destroys the menu.
HMENU BuildTrayMenu(bool administrator, bool logAvailable);
// Builds the menu for the user and shows it at `at` (screen coordinates, the shell's anchor);
// the chosen command is posted back to `window` as WM_COMMAND. `fromKeyboard`: a cancelled
// menu hands the focus back to the notification area.
void ShowTrayMenu(HWND window, POINT at, bool administrator, bool fromKeyboard);
// Closes an open menu at once, carrying out nothing: Kalnix is ending (its window closes or
// is destroyed, or the session ends), and a menu's own loop would otherwise keep it running.
// A left click waiting to open the menu is dropped too.
void EndTrayMenu(HWND window);

// A single left click opens the menu. The shell reports it (NIN_SELECT) as the first half of
// a double-click too, which opens Status: the menu waits the double-click time on its timer,
// and a second click within it takes the menu's place.
constexpr UINT_PTR kMenuClickTimer = 100;  // beside protect/'s timers of the tray window
// The button went down on the icon: a new click begins.
void OnTrayButtonDown();
// NIN_SELECT: the menu opens at `at` when the timer ticks, unless this click completed a
// double-click.
void OnTraySelect(HWND window, POINT at);
// The second click of a double-click: the waiting menu is dropped.
void OnTrayDoubleClick(HWND window);
// The timer's tick: the waiting menu opens.
void OnMenuClickTimer(HWND window, bool administrator);
// A command of the menu. "Exit Kalnix" ends Kalnix the one orderly way: its window is
// destroyed. While a Kalnix dialog is open, every command but "Open log" brings it to the
// front instead: the user closes it first.
void OnTrayCommand(HWND window, UINT command, bool administrator);
