#include "setup/driver_service.h"

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

namespace {

constexpr const wchar_t* kServiceName = L"Kalnix";

SC_HANDLE OpenManager() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) LogFormatted(L"CA: OpenSCManager Failed: %d", static_cast<int>(GetLastError()));
    return manager;
}

SC_HANDLE OpenKalnixService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (!service) LogFormatted(L"CA: OpenService Failed: %d", static_cast<int>(GetLastError()));
    return service;
}

}  // namespace

bool InstallDriver(SC_HANDLE manager, const wchar_t* driverPath) {
    LogMessage(L"CA: Entering InstallDriver");
    ScopedService service(CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                         SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, SERVICE_ERROR_NORMAL,
                                         driverPath, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service.valid()) {
        LogFormatted(L"CA: CreateService Failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

bool StartDriver(SC_HANDLE manager) {
    LogMessage(L"CA: Entering StartDriver");
    ScopedService service(OpenKalnixService(manager));
    if (!service.valid()) return false;
    // A driver that is already running is what the start was meant to achieve.
    return StartServiceW(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

bool DriverServiceExists() {
    ScopedService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    ScopedService service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    return service.valid();
}

bool __stdcall RemoveDriver() {
    LogMessage(L"CA: Entering RemoveDriver");
    // Declared before the service, so the service closes first.
    ScopedService manager(OpenManager());
    if (!manager.valid()) return false;
    ScopedService service(OpenKalnixService(manager.get()));
    if (!service.valid()) return false;
    // No waiting for the stopped state: the deletion completes once the driver has unloaded.
    SERVICE_STATUS status;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        LogFormatted(L"CA: ControlService Failed: %d", static_cast<int>(GetLastError()));
    return DeleteService(service.get()) != FALSE;
}

bool __stdcall InstallDriverAndStart(const wchar_t* driverPath) {
    LogMessage(L"CA: Entering InstallDriverAndStart");
    ScopedService manager(OpenManager());
    if (!manager.valid()) return false;
    // Any earlier entry goes first, so a reinstallation replaces the service.
    RemoveDriver();
    bool succeeded = false;
    if (!InstallDriver(manager.get(), driverPath)) {
        LogMessage(L"CA: InstallDriver failed");
    } else if (!StartDriver(manager.get())) {
        LogMessage(L"CA: StartDriver failed");
    } else {
        succeeded = true;
    }
    if (succeeded) LogMessage(L"CA: Driver installation successful");
    return succeeded;
}
