#include "protect/lid_monitor.h"

// Placeholder until the lid monitor lands.
LidMonitor g_lidMonitor = {};
bool StartLidMonitor() { return false; }
DWORD WINAPI LidMonitorThread(LPVOID) { return 0; }
void PostLidState(DWORD) {}
void StopLidMonitor() {}
