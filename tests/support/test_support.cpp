#include "support/test_support.h"

#include <sddl.h>

#include <cstdio>
#include <vector>

namespace {
constexpr const wchar_t* kKeyPath = L"Software\\Kalnix";
constexpr const wchar_t* kPolicyKeyPath = L"Software\\Policies\\Kalnix";

void SetRaw(const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (!key) return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

DWORD GetDword(const wchar_t* path, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}
}  // namespace

void DeleteSettingsKey() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKeyPath);
}

void ResetSettingsKey() {
    DeleteSettingsKey();
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (key) RegCloseKey(key);
}

void SetSettingRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    SetRaw(kKeyPath, name, type, data, size);
}

void SetSettingDword(const wchar_t* name, DWORD value) {
    SetSettingRaw(name, REG_DWORD, &value, sizeof(value));
}

void DeleteSettingValue(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

DWORD GetSettingDword(const wchar_t* name, DWORD fallback) {
    return GetDword(kKeyPath, name, fallback);
}

void SetPolicyDword(const wchar_t* name, DWORD value) {
    SetPolicyRaw(name, REG_DWORD, &value, sizeof(value));
}

void SetPolicyRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    SetRaw(kPolicyKeyPath, name, type, data, size);
}

DWORD GetPolicyDword(const wchar_t* name, DWORD fallback) {
    return GetDword(kPolicyKeyPath, name, fallback);
}

void DeletePolicyKey() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKeyPath);
}

bool SettingExists(const wchar_t* name) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, kKeyPath, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.append(buffer, n);
    fclose(file);
    return bytes;
}

std::wstring ToSddl(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                           descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
                           nullptr))
        return L"<none>";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveFile(const std::wstring& path) {
    DeleteFileW(path.c_str());
}

std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring result(path, length);
    size_t slash = result.rfind(L'\\');
    return slash == std::wstring::npos ? result : result.substr(0, slash);
}

std::wstring LogPathBesideExecutable() {
    return ExecutableDirectory() + L"\\Kalnix.log";
}

namespace {

// Empties a folder, subfolders included.
void ClearDirectory(const std::wstring& directory) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring entry = found.cFileName;
        if (entry == L"." || entry == L"..") continue;
        std::wstring path = directory + L"\\" + entry;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ClearDirectory(path);
            RemoveDirectoryW(path.c_str());
        } else {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::wstring MakeScratchDirectory(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring directory = std::wstring(temp) + L"kalnix-" + name;
    // Clear what an earlier run left.
    ClearDirectory(directory);
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<DWORD>(-1);
    CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, code);  // a hung child must not outlive the test
    }
    CloseHandle(process.hProcess);
    return code;
}

bool IsChildRun(const wchar_t* childFlag) {
    return GetEnvironmentVariableW(childFlag, nullptr, 0) != 0;
}

DWORD RunChildCopy(const wchar_t* childFlag, const wchar_t* filter, DWORD timeoutMs) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(childFlag, L"1");
    DWORD code = RunAndWait(L"\"" + std::wstring(self) + L"\" --gtest_filter=" + filter, timeoutMs);
    SetEnvironmentVariableW(childFlag, nullptr);
    return code;
}

DWORD OwnerOnlyDescriptor(const wchar_t* sidText, PSID* owner, PSECURITY_DESCRIPTOR* descriptor) {
    PSID parsed = nullptr;
    if (!ConvertStringSidToSidW(sidText, &parsed)) return GetLastError();
    DWORD sidSize = GetLengthSid(parsed);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, sizeof(SECURITY_DESCRIPTOR) + sidSize));
    if (!block) {
        LocalFree(parsed);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    PSID sid = block + sizeof(SECURITY_DESCRIPTOR);
    CopySid(sidSize, sid, parsed);
    LocalFree(parsed);
    InitializeSecurityDescriptor(block, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(block, sid, FALSE);
    *owner = sid;
    *descriptor = block;
    return ERROR_SUCCESS;
}
