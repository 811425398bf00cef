#pragma once

#include <windows.h>

// Kalnix is per-monitor DPI aware: what it draws or loads itself is sized for the DPI of the
// window it goes to, never for a constant 96.

constexpr UINT kBaseDpi = USER_DEFAULT_SCREEN_DPI;  // 100 % display scale

// The window's DPI (the DPI of its display for a per-monitor aware window); the system's DPI
// where Windows cannot tell a window's (before Windows 10 1607) or for no window.
UINT DpiOf(HWND window);
// The DPI Windows gave this process at its start (the primary display's at sign-in).
UINT SystemDpi();
// A length laid out in pixels at 96 DPI, at `dpi`.
int ScaledToDpi(int pixelsAt96, UINT dpi);
// The small icon's edge at `dpi` (SM_CXSMICON): what the notification area shows.
int SmallIconSize(UINT dpi);
// The large icon's edge at `dpi` (SM_CXICON): what a balloon's large icon takes.
int LargeIconSize(UINT dpi);
