// The protection service for the scripts, registered and controlled through KalnixCA.dll's
// exports as the setup program calls them; its state as the service control manager tells it.
//   protection_service_tool CA_DLL install KALNIX_EXE | start | stop | remove | state
// `state` prints RUNNING, STOPPED, another state's number, or ABSENT.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "support/arch_facts.h"

namespace {

using NoArgExport = BOOL(WINAPI*)();
using OneArgExport = BOOL(WINAPI*)(const wchar_t*);

template <class Export>
Export Resolve(HMODULE library, const char* name, int argumentBytes) {
    return reinterpret_cast<Export>(
        reinterpret_cast<void*>(GetProcAddress(library, ExportName(name, argumentBytes).c_str())));
}

// Only the low byte of an export's result is defined.
int Result(BOOL result) { return (result & 0xFF) ? 0 : 1; }

int PrintState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KalnixProtection", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    bool known = service && QueryServiceStatus(service, &status);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    if (!known) std::wprintf(L"ABSENT\n");
    else if (status.dwCurrentState == SERVICE_RUNNING) std::wprintf(L"RUNNING\n");
    else if (status.dwCurrentState == SERVICE_STOPPED) std::wprintf(L"STOPPED\n");
    else std::wprintf(L"%lu\n", status.dwCurrentState);
    return 0;
}

int Run(HMODULE library, const std::wstring& command, const wchar_t* argument) {
    if (command == L"install" && argument) {
        auto install = Resolve<OneArgExport>(library, "InstallProtectionService", 4);
        return install ? Result(install(argument)) : 1;
    }
    const char* name = command == L"start"    ? "StartProtectionService"
                       : command == L"stop"   ? "StopProtectionService"
                       : command == L"remove" ? "RemoveProtectionService"
                                              : nullptr;
    auto call = name ? Resolve<NoArgExport>(library, name, 0) : nullptr;
    return call ? Result(call()) : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wcscmp(argv[2], L"state") == 0) return PrintState();
    if (argc < 3) {
        std::fputws(L"usage: protection_service_tool CA_DLL install KALNIX_EXE | start | stop | remove | state\n", stderr);
        return 2;
    }
    HMODULE library = LoadLibraryW(argv[1]);
    if (!library) {
        std::fwprintf(stderr, L"cannot load %ls: %lu\n", argv[1], GetLastError());
        return 1;
    }
    int result = Run(library, argv[2], argc > 3 ? argv[3] : nullptr);
    FreeLibrary(library);
    return result;
}
