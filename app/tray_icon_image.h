#pragma once

#include <windows.h>

// The tray icon's picture: which art suits the taskbar, loaded at the size the notification
// area shows.

// What the taskbar looks like, which decides the art that stays visible on it.
enum class TaskbarLook { Dark, Light, HighContrast };

// High contrast when it is on (its own colours then decide everything), else light or dark as
// Windows' colour mode says ("SystemUsesLightTheme" under the user's Personalize key; a
// Windows without the value, before Windows 10 1903, has a dark taskbar).
TaskbarLook CurrentTaskbarLook();
// The icon resource of the enabled or the disabled state for a look.
UINT TrayIconResource(bool enabled, TaskbarLook look);
// The icon at the small-icon size for `dpi`, for the caller to destroy; null when it cannot
// be loaded. At the system's DPI it is what the shell asks for, LoadIconMetric(LIM_SMALL)
// from the common controls (version 6) once they are in the process; elsewhere, and before,
// the image of that size from the icon resource.
HICON LoadSmallIcon(UINT resource, UINT dpi);
