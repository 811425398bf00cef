#include "service/service_role.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "common/diagnostic_log.h"
#include "common/protection_service_names.h"
#include "service/service_status.h"
#include "service/service_worker.h"

namespace {

// The manager's wait for the stop: the worker puts the power settings back first.
constexpr DWORD kStopWaitHintMs = 15000;
constexpr DWORD kStartWaitHintMs = 10000;

// The setting's data lives only as long as the call: the worker gets a copy.
LPARAM CopyPowerSetting(DWORD event, const void* data) {
    if (event != PBT_POWERSETTINGCHANGE || !data) return 0;
    const auto* setting = static_cast<const POWERBROADCAST_SETTING*>(data);
    // The data's length comes from the system; a few bytes are all any setting of ours has.
    if (setting->DataLength > 64) return 0;
    SIZE_T bytes = offsetof(POWERBROADCAST_SETTING, Data) + setting->DataLength;
    void* copy = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!copy) return 0;
    memcpy(copy, setting, bytes);
    return reinterpret_cast<LPARAM>(copy);
}

void PostPowerEvent(DWORD event, void* data) {
    LPARAM copy = CopyPowerSetting(event, data);
    if (!PostToServiceWorker(kServicePowerMessage, event, copy) && copy)
        HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(copy));
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD event, void* data, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PRESHUTDOWN:
        ReportServiceState(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
        RequestServiceStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
        PostPowerEvent(event, data);
        // Granted: Kalnix never stands in the way of a sleep.
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
        const auto* session = static_cast<const WTSSESSION_NOTIFICATION*>(data);
        if (session) PostToServiceWorker(kServiceSessionMessage, event, session->dwSessionId);
        return NO_ERROR;
    }
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ProtectionServiceMain(DWORD, wchar_t**) {
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kProtectionServiceName, OnServiceControl, nullptr);
    if (!handle) {
        LogFormatted(L"RSCH Failed: %d\n", static_cast<int>(GetLastError()));
        return;
    }
    StartServiceStatus(handle);
    ReportServiceState(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs);
    DWORD exitCode = RunServiceWorker();
    ReportServiceState(SERVICE_STOPPED, exitCode);
}

}  // namespace

int RunProtectionService() {
    wchar_t name[32];
    wcsncpy(name, kProtectionServiceName, 31);
    name[31] = L'\0';
    SERVICE_TABLE_ENTRYW table[] = {{name, ProtectionServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return 0;
    DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
        LogMessage(L"Kalnix -service runs only as the protection service, started by Windows\n");
    else
        LogFormatted(L"SSCD Failed: %d\n", static_cast<int>(error));
    return 1;
}
