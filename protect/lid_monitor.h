#pragma once

#include <windows.h>

#include "protect/protection_state.h"

// The lid-sensor driver's thread, whose record is the run's (LidMonitor, protect/protection_state.h).

// Opens the driver and its events, creates the terminate and request events and starts the
// monitor thread; true when the thread runs. Only events owned by SYSTEM or Administrators are
// the driver's. A driver whose events cannot be used is logged and leaves the lid to the
// caller (false), but its device stays open for control requests.
bool StartLidMonitor();
DWORD WINAPI LidMonitorThread(LPVOID record);
// Asks the running monitor thread to report the lid's state as it is now (posted with
// kLidStateOnRequest), as after a sleep that ended in a wake. False when no thread runs.
bool RequestLidStateReport();
// Posts the lid-state message to the host's window: the thread only reports, the protection
// modes decide on the main thread.
void PostLidState(DWORD lidState, LPARAM occasion);
// Sends a bare control request (protect/driver_contract.h) to the device. The result is
// ignored: without the driver the request fails without effect.
void SendLidControlRequest(DWORD code);
// Stops the thread (at most 4000 ms) and closes the handles: at the run's end, and again at
// process exit, where it finds nothing left or what a run that never ended left.
void StopLidMonitor();
