#include "service/service_status.h"

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
DWORD g_checkpoint = 0;
// The control handler and the worker both report.
SRWLOCK g_statusLock = SRWLOCK_INIT;

constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN |
                                        SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE;

bool Pending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

}  // namespace

void StartServiceStatus(SERVICE_STATUS_HANDLE handle) {
    AcquireSRWLockExclusive(&g_statusLock);
    g_statusHandle = handle;
    g_checkpoint = 0;
    ReleaseSRWLockExclusive(&g_statusLock);
}

SERVICE_STATUS_HANDLE ServiceStatusHandle() {
    AcquireSRWLockShared(&g_statusLock);
    SERVICE_STATUS_HANDLE handle = g_statusHandle;
    ReleaseSRWLockShared(&g_statusLock);
    return handle;
}

void ReportServiceState(DWORD state, DWORD exitCode, DWORD waitHintMs) {
    AcquireSRWLockExclusive(&g_statusLock);
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? kAcceptedWhileRunning : 0;
    // A service-specific code tells the manager that the stop was a failure (it restarts then).
    status.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode;
    status.dwCheckPoint = Pending(state) ? ++g_checkpoint : 0;
    status.dwWaitHint = Pending(state) ? waitHintMs : 0;
    if (g_statusHandle) SetServiceStatus(g_statusHandle, &status);
    ReleaseSRWLockExclusive(&g_statusLock);
}
