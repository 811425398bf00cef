#include "protect/lid_monitor.h"

#include "common/diagnostic_log.h"
#include "protect/driver_contract.h"
#include "protect/protection_host.h"
#include "protect/protection_modes.h"

LidMonitor g_lidMonitor = {};

namespace {

constexpr DWORD kStopWaitMs = 4000;

void CloseAndClear(HANDLE* handle) {
    if (!*handle) return;
    CloseHandle(*handle);
    *handle = nullptr;
}

// One wake-up on the change event: acknowledge it, then read the state as it is now.
void HandleLidChange(const LidMonitor* monitor) {
    DWORD returned = 0;
    DeviceIoControl(monitor->device, kRequestLidChangeSeen, nullptr, 0, nullptr, 0, &returned, nullptr);

    HANDLE state = OpenEventW(SYNCHRONIZE, FALSE, kLidStateEventName);
    if (!state) return;
    DWORD result = WaitForSingleObject(state, 0);  // a zero-timeout test leaves the event as it is
    if (result == WAIT_OBJECT_0) monitor->callback(kLidClosed);
    else if (result == WAIT_TIMEOUT) monitor->callback(kLidOpen);
    CloseHandle(state);
}

}  // namespace

bool StartLidMonitor() {
    g_lidMonitor.callback = PostLidState;

    HANDLE device = CreateFileW(kLidDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        // The record keeps null, never INVALID_HANDLE_VALUE: that value is also the
        // current-process pseudo handle, which later requests must not reach.
        LogFormatted(L"Can't open handle to driver: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    g_lidMonitor.device = device;

    g_lidMonitor.terminateEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!g_lidMonitor.terminateEvent) {
        int error = static_cast<int>(GetLastError());
        CloseAndClear(&g_lidMonitor.device);
        LogFormatted(L"Can't create terminate event: %d\n", error);
        return false;
    }

    g_lidMonitor.thread = CreateThread(nullptr, 0, LidMonitorThread, &g_lidMonitor, 0, nullptr);
    if (!g_lidMonitor.thread) {
        int error = static_cast<int>(GetLastError());
        CloseAndClear(&g_lidMonitor.terminateEvent);
        CloseAndClear(&g_lidMonitor.device);
        LogFormatted(L"Can't create monitor thread: %d\n", error);
        return false;
    }
    return true;
}

DWORD WINAPI LidMonitorThread(LPVOID record) {
    const LidMonitor* monitor = static_cast<const LidMonitor*>(record);
    HANDLE changed = OpenEventW(SYNCHRONIZE, FALSE, kLidStateChangedEventName);
    if (!changed) return 0;

    // Change event first: when both are signalled the change is handled before the stop.
    HANDLE waits[2] = {changed, monitor->terminateEvent};
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) HandleLidChange(monitor);
        else if (result == WAIT_OBJECT_0 + 1) break;
        // A failed wait would fail again at once; retrying it would only spin the CPU.
        else if (result == WAIT_FAILED) break;
    }
    CloseHandle(changed);
    return 0;
}

void PostLidState(DWORD lidState) {
    // Posted, never sent: the monitor thread must not wait for the main thread.
    PostMessageW(g_protectionHost.window, kLidStateMessage, lidState, 0);
}

void StopLidMonitor() {
    if (g_lidMonitor.terminateEvent) {
        SetEvent(g_lidMonitor.terminateEvent);
        if (g_lidMonitor.thread) WaitForSingleObject(g_lidMonitor.thread, kStopWaitMs);
        CloseAndClear(&g_lidMonitor.terminateEvent);
    }
    // Thread before device: the thread may still be inside request 3 on the device.
    CloseAndClear(&g_lidMonitor.thread);
    CloseAndClear(&g_lidMonitor.device);
}
