#pragma once

#include <windows.h>

struct LidMonitor {
    HANDLE device;           // "\\.\KALNIX", or null
    HANDLE thread;           // monitor thread, or null
    HANDLE terminateEvent;   // unnamed auto-reset event, or null
    void (*callback)(DWORD lidState);
};

extern LidMonitor g_lidMonitor;

// Opens the driver, creates the terminate event and starts the monitor thread.
bool StartLidMonitor();
DWORD WINAPI LidMonitorThread(LPVOID record);
// Posts the lid-state message to the tray window.
void PostLidState(DWORD lidState);
// Process-exit teardown: stops the thread (at most 4000 ms) and closes the handles.
void StopLidMonitor();
