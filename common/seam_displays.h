#pragma once

#include <windows.h>

#include "common/monitor_connections.h"

// Stand-ins for the laptop's displays: Wine has one display path, which it reports as external,
// publishes no monitor records, turns no display off and scales every window alike. Tests may swap an entry inside a scope
// (tests/support/platform_scope.h).
struct DisplaySeam {
    // The console's layout. Absent before Windows 7, so the real entries go through
    // common/user32_functions.h (ERROR_NOT_SUPPORTED where the function is missing).
    decltype(&::GetDisplayConfigBufferSizes) getDisplayConfigBufferSizes;
    decltype(&::QueryDisplayConfig) queryDisplayConfig;
    // The monitors' connection records through WMI, where the layout cannot be read
    // (common/monitor_connections.h).
    HRESULT(WINAPI* readMonitorConnections)(MonitorConnection* records, UINT capacity, UINT* count);
    // Only for the display-off request (SC_MONITORPOWER) to Kalnix's own window, which reaches
    // no display under Wine.
    decltype(&::DefWindowProcW) defWindowProc;
    // A window's DPI (GetDpiForWindow, Windows 10 1607 and later; 0 where it is missing): Wine
    // gives every window the system's, so tests set another display's scale here.
    UINT(WINAPI* dpiForWindow)(HWND window);
};

extern DisplaySeam g_displaySeam;
