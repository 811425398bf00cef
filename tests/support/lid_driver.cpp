#include "support/lid_driver.h"

#include "fixtures/lidsim/lidsim_ioctl.h"

#include <string>

namespace {

const wchar_t kServiceName[] = L"Kalnix";

template <class Condition>
bool PollUntil(Condition condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(10);
    }
}

std::wstring DefaultSysPath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\')) + L"\\lidsim.sys";
}

HANDLE OpenSimDevice() {
    return CreateFileW(LIDSIM_USER_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool SimControl(DWORD code, void* out, DWORD outSize) {
    HANDLE device = OpenSimDevice();
    if (device == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, nullptr, 0, out, outSize, &returned, nullptr);
    CloseHandle(device);
    return ok && returned == outSize;
}

bool ServiceExists(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (!service) return GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    CloseServiceHandle(service);
    return true;
}

// Stops (waiting for the stopped state) and deletes the service, then waits until the
// manager has really dropped the entry so that a new one can be created.
bool StopAndDelete(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    PollUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; },
              10000);
    DeleteService(service);
    CloseServiceHandle(service);
    return PollUntil([&] { return !ServiceExists(manager); }, 10000);
}

}  // namespace

bool IsSimulatedLidDriverLoaded() {
    HANDLE device = OpenSimDevice();
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

bool RemoveSimulatedLidDriver() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    bool removed = StopAndDelete(manager);
    CloseServiceHandle(manager);
    return removed && PollUntil([] { return !IsSimulatedLidDriverLoaded(); }, 10000);
}

bool InstallSimulatedLidDriver(const wchar_t* sysPath) {
    std::wstring path = sysPath ? sysPath : DefaultSysPath();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    bool started = false;
    if (StopAndDelete(manager)) {
        SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                           SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service) {
            started = StartServiceW(service, 0, nullptr) != FALSE;
            CloseServiceHandle(service);
        }
    }
    CloseServiceHandle(manager);
    return started && PollUntil([] { return IsSimulatedLidDriverLoaded(); }, 10000);
}

bool SetSimulatedLid(bool closed) {
    return SimControl(closed ? IOCTL_LIDSIM_CLOSE_LID : IOCTL_LIDSIM_OPEN_LID, nullptr, 0);
}

bool SetSimulatedChangeEvent(bool present) {
    return SimControl(present ? IOCTL_LIDSIM_RESTORE_CHANGE_EVENT : IOCTL_LIDSIM_DROP_CHANGE_EVENT, nullptr, 0);
}

bool MoveSimulatedEventsToGlobal() { return SimControl(IOCTL_LIDSIM_GLOBAL_EVENTS, nullptr, 0); }

LidRequestCounts ReadLidRequestCounts() {
    LidSimCounts counts = {};
    if (!SimControl(IOCTL_LIDSIM_GET_COUNTS, &counts, sizeof(counts))) return {~0u, ~0u, ~0u, ~0u};
    return {counts.request[0], counts.request[1], counts.request[2], counts.openHandles};
}

bool ResetLidRequestCounts() { return SimControl(IOCTL_LIDSIM_RESET, nullptr, 0); }

bool WaitForLidRequestCount(int which, DWORD count, DWORD timeoutMs) {
    return PollUntil(
        [&] {
            LidRequestCounts counts = ReadLidRequestCounts();
            DWORD value = which == 1 ? counts.r1 : which == 2 ? counts.r2 : counts.r3;
            return value != ~0u && value >= count;
        },
        timeoutMs);
}

bool WaitForLidDeviceOpen(DWORD opened, DWORD timeoutMs) {
    return PollUntil([&] { return ReadLidRequestCounts().opened == opened; }, timeoutMs);
}
