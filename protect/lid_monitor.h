#pragma once

#include <windows.h>

struct LidMonitor {
    HANDLE device;           // "\\.\KALNIX", or null
    HANDLE thread;           // monitor thread, or null
    HANDLE terminateEvent;   // unnamed auto-reset event, or null
    void (*callback)(DWORD lidState);
};

extern LidMonitor g_lidMonitor;

// Opens the driver, creates the terminate event and starts the monitor thread. The record
// holds them only when all three succeeded.
bool StartLidMonitor();
DWORD WINAPI LidMonitorThread(LPVOID record);
// Posts the lid-state message to the host window: the thread only reports, the protection
// modes decide on the main thread.
void PostLidState(DWORD lidState);
// Sends a bare control request (protect/driver_contract.h) to the device. The result is
// ignored: without the driver the request fails without effect.
void SendLidControlRequest(DWORD code);
// Process-exit teardown: stops the thread (at most 4000 ms) and closes the handles.
void StopLidMonitor();
