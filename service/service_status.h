#pragma once

#include <windows.h>

// What the service tells the service control manager of itself. One owner of the status
// handle; both the control handler's thread and the worker report through here.

void StartServiceStatus(SERVICE_STATUS_HANDLE handle);
// Where the service's power notifications go (DEVICE_NOTIFY_SERVICE_HANDLE).
SERVICE_STATUS_HANDLE ServiceStatusHandle();
// Running accepts stop, preshutdown, power events and session changes; the pending states take
// a wait hint, with a checkpoint that grows at each report.
void ReportServiceState(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHintMs = 0);
