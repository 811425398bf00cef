#pragma once

#include <windows.h>

constexpr int kTrayStateEnabled = 0;
constexpr int kTrayStateDisabled = 1;
constexpr int kTrayStateLast = 2;

// Shows the notification-area icon in the given state (2 = the last state shown), with an
// optional tooltip replacing the state's own; its picture suits the taskbar's look (light,
// dark, high contrast) at the size the notification area shows for the window's DPI. True
// when suppressed by HideTrayIcon or the shell accepted the add.
bool UpdateTrayIcon(HWND window, int state, const wchar_t* text);
// Shows a balloon titled "Kalnix" with Kalnix's own icon on the shown icon (nothing while
// HideTrayIcon is 1). Such balloons come unasked and wait out Windows' quiet time.
void ShowTrayBalloon(const wchar_t* text);
// The same for a note that names what woke the laptop. For a user who may act on it (an
// administrator) it ends in kWakeNoticeAction, and selecting it is its action until another
// balloon replaces it.
void ShowTrayWakeNotice(const wchar_t* text, bool mayAct);
// A balloon event of the icon (NIN_BALLOONUSERCLICK, NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT): true
// when the user selected a wake notice that offered its action. The offer ends with any of them.
bool TakeWakeNoticeSelection(UINT event);
constexpr const wchar_t* kWakeNoticeAction = L"Select this notification to keep it from waking the laptop again.";
// Keeps `note` (null: none) as the tooltip's second line under the state's text, on the
// shown icon at once and on every later update.
void SetTrayNote(const wchar_t* note);
// Shows the last state's picture again, loaded anew for the taskbar's look and the tray
// window's DPI (after either changed), on the shown icon (nothing while HideTrayIcon is 1).
void ReloadTrayIcon();
// Hands the keyboard focus back to the notification area, after a menu opened from the
// keyboard was cancelled.
void ReturnFocusToTray();
// Removes the tray window's icon.
void DeleteTrayIcon();
