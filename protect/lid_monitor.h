#pragma once

#include <windows.h>

struct LidMonitor {
    HANDLE device;           // "\\.\KALNIX", or null
    HANDLE thread;           // monitor thread, or null
    HANDLE terminateEvent;   // unnamed auto-reset event, or null
    // Posts the lid state: occasion kLidChanged or kLidStateOnRequest (protect/protection_host.h).
    void (*callback)(DWORD lidState, LPARAM occasion);
    HANDLE changeEvent;      // the driver's change event, opened before the thread starts, or null
    HANDLE requestEvent;     // unnamed auto-reset event: report the state as it is now, or null
    // The driver's state event, opened with the change event and kept: its name could be
    // another's by the next change.
    HANDLE stateEvent;
};

extern LidMonitor g_lidMonitor;

// Opens the driver and its events, creates the terminate and request events and starts the
// monitor thread; true when the thread runs. Only events owned by SYSTEM or Administrators are
// the driver's. A driver whose events cannot be used is logged and leaves the lid to the
// caller (false), but its device stays open for control requests.
bool StartLidMonitor();
DWORD WINAPI LidMonitorThread(LPVOID record);
// Asks the running monitor thread to report the lid's state as it is now (posted with
// kLidStateOnRequest), as after a sleep that ended in a wake. False when no thread runs.
bool RequestLidStateReport();
// Posts the lid-state message to the host window: the thread only reports, the protection
// modes decide on the main thread.
void PostLidState(DWORD lidState, LPARAM occasion);
// Sends a bare control request (protect/driver_contract.h) to the device. The result is
// ignored: without the driver the request fails without effect.
void SendLidControlRequest(DWORD code);
// Process-exit teardown: stops the thread (at most 4000 ms) and closes the handles.
void StopLidMonitor();
