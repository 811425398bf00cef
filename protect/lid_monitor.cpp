#include "protect/lid_monitor.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/owner_check.h"
#include "common/scoped_handle.h"
#include "common/seam_sessions.h"
#include "protect/driver_contract.h"
#include "protect/protection_messages.h"

namespace {

LidMonitor& Monitor() { return g_protection.run.lidMonitor; }

constexpr DWORD kStopWaitMs = 4000;
// The thread only waits, opens an event and sends a request: a small reservation keeps the
// default stack (a megabyte or more) out of the process.
constexpr SIZE_T kMonitorStackBytes = 64 * 1024;

struct DriverEventNames {
    const wchar_t* changed;
    const wchar_t* state;
};
// The session's namespace first, where the contract's bare names point; then the global one,
// where a driver that knows nothing of sessions creates them.
constexpr DriverEventNames kDriverEventNames[] = {
    {kLidStateChangedEventName, kLidStateEventName},
    {kGlobalLidStateChangedEventName, kGlobalLidStateEventName},
};

// Any user can create events of the driver's names first: in Global\ while the driver's are
// absent, or in a session's own namespace. Only the driver's, made in the kernel and owned by
// SYSTEM or Administrators, tell the lid. Wine gives them no owner at all, Windows always one.
bool IsDriversEvent(HANDLE event) {
    return OwnedByAdministratorsOrSystem(g_sessionSeam.getSecurityInfo, event, SE_KERNEL_OBJECT) ||
           OwnerlessOnWine(g_sessionSeam.getSecurityInfo, event, SE_KERNEL_OBJECT);
}

// Opens both events in the first namespace that has the driver's. ERROR_SUCCESS with both, else
// the error of the open that failed (ERROR_ACCESS_DENIED when only another's were found); the
// other namespace is tried where an event is absent or another's, not where it cannot be opened.
DWORD OpenDriverEvents(ScopedHandle* changed, ScopedHandle* state) {
    DWORD error = ERROR_FILE_NOT_FOUND;
    bool foundAnothers = false;
    for (const DriverEventNames& names : kDriverEventNames) {
        changed->Reset(OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, names.changed));
        state->Reset(changed->valid() ? OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, names.state) : nullptr);
        if (!state->valid()) {
            error = GetLastError();
            changed->Reset();
            if (error == ERROR_FILE_NOT_FOUND) continue;
            return error;
        }
        if (IsDriversEvent(changed->get()) && IsDriversEvent(state->get())) return ERROR_SUCCESS;
        LogFormatted(L"Lid events %ls are not owned by SYSTEM or Administrators: ignored\n", names.changed);
        changed->Reset();
        state->Reset();
        foundAnothers = true;
    }
    return foundAnothers ? ERROR_ACCESS_DENIED : error;
}

void SendRequest(HANDLE device, DWORD code) {
    DWORD returned = 0;
    DeviceIoControl(device, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

// At a change or on request: acknowledge it, then read the state as it is now.
void ReportCurrentLidState(const LidMonitor* monitor, LPARAM occasion) {
    SendRequest(monitor->device, kRequestLidChangeSeen);

    if (!monitor->stateEvent) return;
    DWORD result = WaitForSingleObject(monitor->stateEvent, 0);  // a zero-timeout test leaves the event as it is
    if (result == WAIT_OBJECT_0) monitor->callback(kLidClosed, occasion);
    else if (result == WAIT_TIMEOUT) monitor->callback(kLidOpen, occasion);
}

void ReportDriverUnreachable(DWORD error) {
    wchar_t code[16];
    FormatBounded(code, 16, L"%d", static_cast<int>(error));
    ReportKalnixEvent(KALNIX_EVENT_DRIVER_UNREACHABLE, {code});
}

// Empties a record's field, handing its handle to the caller.
HANDLE Take(HANDLE* field) {
    HANDLE handle = *field;
    *field = nullptr;
    return handle;
}

}  // namespace

bool StartLidMonitor() {
    Monitor().callback = PostLidState;

    ScopedFile device(CreateFileW(kLidDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device.valid()) {
        DWORD error = GetLastError();
        LogFormatted(L"Can't open handle to driver: %d\n", static_cast<int>(error));
        // Without the driver installed (the usual case today) Windows' own reports take over;
        // an installed driver that cannot be opened is protection lost.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ReportDriverUnreachable(error);
        return false;
    }
    // Opened here rather than on the thread, so that a driver whose events cannot be used
    // leaves the lid to Windows' notifications instead of to a thread that ends unheard.
    ScopedHandle changed, state;
    DWORD error = OpenDriverEvents(&changed, &state);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"Can't open driver's lid events: %d\n", static_cast<int>(error));
        // Requests 1 and 2 still go to the device.
        Monitor().device = device.release();
        return false;
    }
    ScopedHandle terminateEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!terminateEvent.valid()) {
        LogFormatted(L"Can't create terminate event: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    ScopedHandle requestEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!requestEvent.valid()) {
        LogFormatted(L"Can't create request event: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    // Suspended until the record holds everything the thread reads.
    ScopedHandle thread(CreateThread(nullptr, kMonitorStackBytes, LidMonitorThread, &Monitor(),
                                     CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.valid()) {
        LogFormatted(L"Can't create monitor thread: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    // The record keeps null for no device, never INVALID_HANDLE_VALUE: that value is also the
    // current-process pseudo handle, which later requests must not reach.
    Monitor().device = device.release();
    Monitor().changeEvent = changed.release();
    Monitor().stateEvent = state.release();
    Monitor().terminateEvent = terminateEvent.release();
    Monitor().requestEvent = requestEvent.release();
    Monitor().thread = thread.release();
    ResumeThread(Monitor().thread);
    return true;
}

DWORD WINAPI LidMonitorThread(LPVOID record) {
    const LidMonitor* monitor = static_cast<const LidMonitor*>(record);
    // In this order: a change is handled before a stop, and a stop before a request.
    HANDLE waits[3] = {monitor->changeEvent, monitor->terminateEvent, monitor->requestEvent};
    for (;;) {
        DWORD result = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) ReportCurrentLidState(monitor, kLidChanged);
        else if (result == WAIT_OBJECT_0 + 1) break;
        else if (result == WAIT_OBJECT_0 + 2) ReportCurrentLidState(monitor, kLidStateOnRequest);
        // A failed wait would fail again at once; retrying it would only spin the CPU.
        else if (result == WAIT_FAILED) break;
    }
    return 0;
}

bool RequestLidStateReport() {
    if (!Monitor().thread || !Monitor().requestEvent) return false;
    if (WaitForSingleObject(Monitor().thread, 0) != WAIT_TIMEOUT) return false;  // ended
    return SetEvent(Monitor().requestEvent) != FALSE;
}

void PostLidState(DWORD lidState, LPARAM occasion) {
    // Posted, never sent: the monitor thread must not wait for the main thread.
    PostMessageW(Host().window, kLidStateMessage, lidState, occasion);
}

void SendLidControlRequest(DWORD code) { SendRequest(Monitor().device, code); }

void StopLidMonitor() {
    // The record stays as it is while the thread may run: the thread reads it.
    if (Monitor().terminateEvent) {
        SetEvent(Monitor().terminateEvent);
        if (Monitor().thread) WaitForSingleObject(Monitor().thread, kStopWaitMs);
    }
    // Declared in the reverse of their closing: the thread closes before the device, since it
    // may still be inside request 3 on it.
    ScopedHandle device(Take(&Monitor().device));
    ScopedHandle stateEvent(Take(&Monitor().stateEvent));
    ScopedHandle changeEvent(Take(&Monitor().changeEvent));
    ScopedHandle requestEvent(Take(&Monitor().requestEvent));
    ScopedHandle terminateEvent(Take(&Monitor().terminateEvent));
    ScopedHandle thread(Take(&Monitor().thread));
}
