#include "support/installed_kalnix.h"

#include <gtest/gtest.h>

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
