#include "protect/protection_modes.h"

#include "app/app_state.h"
#include "app/tray_icon.h"

// Placeholder until the protection modes land.
void ApplyAutoProtection() {}
void ReleaseAutoProtection() {}
void OnProtectionTick(HWND) { UpdateTrayIcon(g_trayWindow, 0, nullptr); }
void OnAlarmTick(HWND) {}
void OnLidClosed(HWND) {}
void OnLidOpened(HWND) {}
UINT AlarmDelayMs(int) { return 0; }
