#pragma once

#include <windows.h>

// The monitors' connection records that Windows publishes through WMI (root\WMI, class
// WmiMonitorConnectionParams). The monitor driver's kernel-mode WMI provider answers them, so
// they can be read without access to the current desktop: while the session is locked (the
// desktop is then Winlogon's), and in a process that has no interactive desktop at all.

struct MonitorConnection {
    // A D3DKMDT_VIDEO_OUTPUT_TECHNOLOGY, whose values are those of
    // DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY.
    DWORD videoOutputTechnology;
    BOOL active;
};

// More monitors than any laptop drives.
constexpr UINT kMostMonitorConnections = 16;

// Reads the records into `records` (room for `capacity`), *count of them: S_OK; a failed
// HRESULT when WMI cannot answer, HRESULT_FROM_WIN32(ERROR_TIMEOUT) when it has not answered
// within a few seconds, HRESULT_FROM_WIN32(ERROR_MORE_DATA) when there are more than `capacity`.
// The query runs on a worker thread of its own in COM's multithreaded apartment: the caller
// waits without dispatching any of its window messages, for a bounded time, and needs neither a
// window nor a desktop.
HRESULT WINAPI ReadMonitorConnections(MonitorConnection* records, UINT capacity, UINT* count);
