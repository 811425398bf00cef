#include "setup/protection_service.h"

#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/protection_service_names.h"
#include "common/scoped_handle.h"

namespace {

constexpr DWORD kPollMs = 250;
// Restarts after a failure: soon, then later, then each minute; the count starts again after a
// day without one.
constexpr DWORD kFirstRestartMs = 5000;
constexpr DWORD kSecondRestartMs = 30000;
constexpr DWORD kLaterRestartMs = 60000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;
// Shutdown waits this long for the service to put the power settings back.
constexpr DWORD kPreshutdownMs = 10000;
// What the service needs of LocalSystem's privileges, and nothing more: to sleep and hibernate,
// to take a signed-in user's token and start that user's Kalnix with it.
constexpr wchar_t kRequiredPrivileges[] =
    L"SeShutdownPrivilege\0SeTcbPrivilege\0SeAssignPrimaryTokenPrivilege\0SeIncreaseQuotaPrivilege\0"
    L"SeChangeNotifyPrivilege\0";

void LogFailure(const wchar_t* call) { LogFormatted(L"CA: %ls failed: %d", call, static_cast<int>(GetLastError())); }

SC_HANDLE OpenManager(DWORD access) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
    if (!manager) LogFailure(L"OpenSCManager");
    return manager;
}

// Null without a log line when the service does not exist; *missing tells that case apart.
SC_HANDLE OpenProtectionService(SC_HANDLE manager, DWORD access, bool* missing = nullptr) {
    SC_HANDLE service = OpenServiceW(manager, kProtectionServiceName, access);
    bool absent = !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (missing) *missing = absent;
    if (!service && !absent) LogFailure(L"OpenService");
    return service;
}

bool QueryState(SC_HANDLE service, DWORD* state) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
        LogFailure(L"QueryServiceStatusEx");
        return false;
    }
    *state = status.dwCurrentState;
    return true;
}

// Waits, bounded, until the service reaches `wanted`; false when it settles elsewhere or the
// time runs out.
bool WaitForState(SC_HANDLE service, DWORD wanted) {
    for (DWORD waited = 0;; waited += kPollMs) {
        DWORD state = 0;
        if (!QueryState(service, &state)) return false;
        if (state == wanted) return true;
        bool moving = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                      state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
        if (!moving && waited > 0) {
            LogFormatted(L"CA: Protection service is in state %d, not %d", static_cast<int>(state),
                         static_cast<int>(wanted));
            return false;
        }
        if (waited >= kServiceStateWaitMs) {
            LogFormatted(L"CA: Protection service did not reach state %d within %d ms", static_cast<int>(wanted),
                         static_cast<int>(kServiceStateWaitMs));
            return false;
        }
        Sleep(kPollMs);
    }
}

bool SetDescription(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kProtectionServiceDescription)};
    if (ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description)) return true;
    LogFailure(L"ChangeServiceConfig2 (description)");
    return false;
}

bool SetFailureActions(SC_HANDLE service) {
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, kFirstRestartMs},
                            {SC_ACTION_RESTART, kSecondRestartMs},
                            {SC_ACTION_RESTART, kLaterRestartMs}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = kFailureResetSeconds;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
        LogFailure(L"ChangeServiceConfig2 (failure actions)");
        return false;
    }
    // Also when the service stops itself with an error, not only when its process dies.
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag))
        LogFailure(L"ChangeServiceConfig2 (failure actions flag)");
    return true;
}

// Settings Windows may not know (older versions) are logged and left: the service works
// without them.
void SetOptionalConfiguration(SC_HANDLE service) {
    SERVICE_PRESHUTDOWN_INFO preshutdown = {kPreshutdownMs};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown))
        LogFailure(L"ChangeServiceConfig2 (preshutdown)");
    SERVICE_REQUIRED_PRIVILEGES_INFOW privileges = {const_cast<wchar_t*>(kRequiredPrivileges)};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges))
        LogFailure(L"ChangeServiceConfig2 (required privileges)");
}

bool SetPermissions(SC_HANDLE service) {
    ScopedLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kProtectionServiceSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
            nullptr)) {
        LogFailure(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
        return false;
    }
    if (SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.get())) return true;
    LogFailure(L"SetServiceObjectSecurity");
    return false;
}

// The Kalnix.exe of a command as InstallProtectionService writes it: "<path>" -service.
std::wstring KalnixExeOf(const wchar_t* command) {
    const wchar_t kTail[] = L"\" -service";
    std::wstring text = command ? command : L"";
    const size_t tailChars = wcslen(kTail);
    if (text.size() <= tailChars + 1 || text[0] != L'"' || text.compare(text.size() - tailChars, tailChars, kTail) != 0)
        return L"";
    std::wstring exe = text.substr(1, text.size() - tailChars - 1);
    return exe.find(L'"') == std::wstring::npos ? exe : L"";
}

SC_HANDLE CreateOrUpdate(SC_HANDLE manager, const std::wstring& command) {
    SC_HANDLE service = OpenProtectionService(manager, SERVICE_ALL_ACCESS);
    if (service) {
        // An earlier installation's entry, perhaps for another folder: the same entry, pointed here.
        if (ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                 command.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", L"",
                                 kProtectionServiceDisplayName))
            return service;
        LogFailure(L"ChangeServiceConfig");
        CloseServiceHandle(service);
        return nullptr;
    }
    service = CreateServiceW(manager, kProtectionServiceName, kProtectionServiceDisplayName, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                             nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) LogFailure(L"CreateService");
    return service;
}

}  // namespace

bool __stdcall InstallProtectionService(const wchar_t* kalnixExe) {
    LogMessage(L"CA: Entering InstallProtectionService");
    if (!kalnixExe || !kalnixExe[0] || wcschr(kalnixExe, L'"')) {
        LogMessage(L"CA: InstallProtectionService: no usable path to Kalnix.exe");
        return false;
    }
    // Quoted: an unquoted path with a space would let Windows try "C:\Program.exe" first.
    std::wstring command = std::wstring(L"\"") + kalnixExe + L"\" -service";
    ScopedService manager(OpenManager(SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    ScopedService service(CreateOrUpdate(manager.get(), command));
    if (!service.valid()) return false;
    // Each step is tried, whatever the one before did, so that the log names every failure.
    bool described = SetDescription(service.get());
    bool restarts = SetFailureActions(service.get());
    bool guarded = SetPermissions(service.get());
    SetOptionalConfiguration(service.get());
    bool configured = described && restarts && guarded;
    if (configured) LogMessage(L"CA: Protection service registered");
    return configured;
}

bool __stdcall StartProtectionService() {
    LogMessage(L"CA: Entering StartProtectionService");
    ScopedService manager(OpenManager(SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    ScopedService service(OpenProtectionService(manager.get(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service.valid()) return false;
    if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        LogFailure(L"StartService");
        return false;
    }
    return WaitForState(service.get(), SERVICE_RUNNING);
}

bool __stdcall StopProtectionService() {
    LogMessage(L"CA: Entering StopProtectionService");
    ScopedService manager(OpenManager(SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    bool missing = false;
    ScopedService service(OpenProtectionService(manager.get(), SERVICE_STOP | SERVICE_QUERY_STATUS, &missing));
    if (!service.valid()) return missing;
    DWORD state = 0;
    if (!QueryState(service.get(), &state)) return false;
    if (state == SERVICE_STOPPED) return true;
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_NOT_ACTIVE) return true;
        LogFailure(L"ControlService");
        // Stopping already (a shutdown, another setup): wait for it all the same.
        if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return false;
    }
    return WaitForState(service.get(), SERVICE_STOPPED);
}

bool __stdcall RemoveProtectionService() {
    LogMessage(L"CA: Entering RemoveProtectionService");
    if (!StopProtectionService()) return false;
    ScopedService manager(OpenManager(SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    bool missing = false;
    ScopedService service(OpenProtectionService(manager.get(), DELETE, &missing));
    if (!service.valid()) return missing;
    if (DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) return true;
    LogFailure(L"DeleteService");
    return false;
}

bool __stdcall ProtectionServiceInstalled() {
    ScopedService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    ScopedService service(OpenServiceW(manager.get(), kProtectionServiceName, SERVICE_QUERY_STATUS));
    return service.valid();
}

ProtectionServiceState ReadProtectionServiceState() {
    ProtectionServiceState result;
    ScopedService manager(OpenManager(SC_MANAGER_CONNECT));
    if (!manager.valid()) return result;
    ScopedService service(OpenProtectionService(manager.get(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service.valid()) return result;
    result.installed = true;
    DWORD state = 0;
    result.running = QueryState(service.get(), &state) && state != SERVICE_STOPPED;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed >= sizeof(QUERY_SERVICE_CONFIGW) && QueryServiceConfigW(service.get(), config, needed, &needed)) {
        result.kalnixExe = KalnixExeOf(config->lpBinaryPathName);
    } else {
        LogFailure(L"QueryServiceConfig");
    }
    return result;
}
