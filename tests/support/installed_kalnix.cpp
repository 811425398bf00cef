#include "support/installed_kalnix.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>

#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

std::wstring FolderOf(const wchar_t* variable, const wchar_t* tail) {
    wchar_t buffer[MAX_PATH] = {};
    GetEnvironmentVariableW(variable, buffer, MAX_PATH);
    return std::wstring(buffer) + tail;
}

GLOBAL_POWER_POLICY UserPolicy() { return PatternedPowerPolicy(kUserFlags.ac, kUserFlags.dc); }

HWND FindKalnixWindow() { return FindWindowW(L"KalnixWndClass", L"KalnixWnd"); }

std::wstring ImageOfWindow(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process) return L"";
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    return path;
}

std::wstring Lowercase(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Waits, bounded, until the service has stopped.
bool StopAndWait(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    return WaitUntil([service] {
        SERVICE_STATUS now = {};
        return QueryServiceStatus(service, &now) && now.dwCurrentState == SERVICE_STOPPED;
    }, 30000);
}

}  // namespace

std::wstring InstallDir() { return FolderOf(L"ProgramFiles", L"\\Kalnix"); }
std::wstring LogFolder() { return FolderOf(L"ProgramData", L"\\Kalnix"); }
std::wstring SetupLog() { return LogFolder() + L"\\KalnixSetup.log"; }
std::wstring UninstallLog() { return LogFolder() + L"\\KalnixUninstall.log"; }

std::wstring ReadMachineString(const std::wstring& key, const wchar_t* value, DWORD* type) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, type,
                     buffer, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

bool MachineKeyExists(const std::wstring& key) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

bool TaskRegistered() { return FileExists(FolderOf(L"SystemRoot", L"\\system32\\Tasks\\Kalnix")); }

LidFlags ReadLidFlags() {
    GLOBAL_POWER_POLICY policy = ReadStandinPolicy();
    return {policy.user.LidCloseAc.Flags, policy.user.LidCloseDc.Flags};
}

void PresetUserPolicy() { PresetPowerPolicy(UserPolicy()); }

bool PolicyIsTheUsers() {
    GLOBAL_POWER_POLICY policy = ReadStandinPolicy(), user = UserPolicy();
    return memcmp(&policy, &user, sizeof(policy)) == 0;
}

void StartKalnixAsTheTaskWould(const std::wstring& folder) {
    ASSERT_TRUE(StartKalnixLeftRunning(folder + L"\\Kalnix.exe"));
    ASSERT_TRUE(WaitUntil([] { return FindKalnixWindow() != nullptr; }, 15000));
    EXPECT_EQ(0, lstrcmpiW(ImageOfWindow(FindKalnixWindow()).c_str(), (folder + L"\\Kalnix.exe").c_str()));
}

std::vector<KalnixService> KalnixServices() {
    std::vector<KalnixService> found;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager) return found;
    DWORD needed = 0, count = 0, resume = 0;
    EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed, &count,
                          &resume, nullptr);
    std::vector<BYTE> buffer(needed);
    resume = 0;
    if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(), needed,
                              &needed, &count, &resume, nullptr)) {
        auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            SC_HANDLE service = OpenServiceW(manager, services[i].lpServiceName, SERVICE_QUERY_CONFIG);
            if (!service) continue;
            std::vector<BYTE> config(8192);
            auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data());
            if (QueryServiceConfigW(service, query, 8192, &needed) && query->lpBinaryPathName &&
                Lowercase(query->lpBinaryPathName).find(L"\\kalnix.exe") != std::wstring::npos) {
                const SERVICE_STATUS_PROCESS& status = services[i].ServiceStatusProcess;
                found.push_back({services[i].lpServiceName, query->lpBinaryPathName, status.dwCurrentState,
                                 status.dwProcessId});
            }
            CloseServiceHandle(service);
        }
    }
    CloseServiceHandle(manager);
    return found;
}

DWORD ExpectOneProtectionService(const std::wstring& folder) {
    std::vector<KalnixService> services = KalnixServices();
    EXPECT_EQ(1u, services.size()) << "services that run Kalnix.exe";
    if (services.size() != 1) return 0;
    EXPECT_EQ(L"KalnixProtection", services[0].name);
    EXPECT_EQ(L"\"" + folder + L"\\Kalnix.exe\" -service", services[0].command);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), services[0].state);
    return services[0].state == SERVICE_RUNNING ? services[0].processId : 0;
}

void TakeTheProtectionServiceAway() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE service = OpenServiceW(manager, L"KalnixProtection", SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    EXPECT_NE(nullptr, service);
    if (service) {
        EXPECT_TRUE(StopAndWait(service));
        EXPECT_TRUE(DeleteService(service));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void LetServicesUseThePowerStandin() {
    const wchar_t order[] = L"native,builtin";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"powrprof", REG_SZ,
                                             order, sizeof(order)));
}

std::wstring StartMenuEntryTarget(int programs) {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, programs, nullptr, SHGFP_TYPE_CURRENT, folder))) return L"<missing>";
    const std::wstring link = std::wstring(folder) + L"\\Kalnix.lnk";
    if (!FileExists(link)) return L"<missing>";
    std::wstring target = L"<unreadable>";
    bool initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    IShellLinkW* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t path[MAX_PATH] = {};
            if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
                SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0))) {
                target = path;
            }
            file->Release();
        }
        shellLink->Release();
    }
    if (initialised) CoUninitialize();
    return target;
}
