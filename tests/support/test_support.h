#pragma once

#include <windows.h>

#include <string>

// The settings key of the test prefix.
void DeleteSettingsKey();
// Deletes the key with all its values and creates it empty.
void ResetSettingsKey();
void SetSettingDword(const wchar_t* name, DWORD value);
void SetSettingRaw(const wchar_t* name, DWORD type, const void* data, DWORD size);
void DeleteSettingValue(const wchar_t* name);
// The stored DWORD, or `fallback` when the value is missing.
DWORD GetSettingDword(const wchar_t* name, DWORD fallback);
bool SettingExists(const wchar_t* name);

// Group Policy's key of the test prefix (Software\Policies\Kalnix), as a GPO writes it.
void SetPolicyDword(const wchar_t* name, DWORD value);
void SetPolicyRaw(const wchar_t* name, DWORD type, const void* data, DWORD size);
// The policy's DWORD, or `fallback` when the value is missing.
DWORD GetPolicyDword(const wchar_t* name, DWORD fallback);
void DeletePolicyKey();
// Deletes the policy key when the scope ends, so that no policy outlives a failed test.
struct PolicyCleanup {
    PolicyCleanup() = default;
    PolicyCleanup(const PolicyCleanup&) = delete;
    PolicyCleanup& operator=(const PolicyCleanup&) = delete;
    ~PolicyCleanup() { DeletePolicyKey(); }
};

// Whole file as bytes; empty when missing.
std::string ReadFileBytes(const std::wstring& path);
// A security descriptor's owner and DACL as SDDL; "<none>" without one.
std::wstring ToSddl(PSECURITY_DESCRIPTOR descriptor);
// A descriptor with only an owner, the SID written as text ("S-1-5-18"), as GetSecurityInfo
// hands one out: *owner points into *descriptor, which the caller frees with LocalFree.
DWORD OwnerOnlyDescriptor(const wchar_t* sidText, PSID* owner, PSECURITY_DESCRIPTOR* descriptor);

bool FileExists(const std::wstring& path);
void RemoveFile(const std::wstring& path);

// Directory of the running test executable, without a trailing backslash.
std::wstring ExecutableDirectory();
// "Kalnix.log" beside the running test executable.
std::wstring LogPathBesideExecutable();

// A fresh, empty directory under the test prefix's temporary folder.
std::wstring MakeScratchDirectory(const wchar_t* name);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

// Runs a process and waits up to timeoutMs; returns its exit code, or -1 on failure or
// timeout (the process is then terminated).
DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs);

// Some cases need a process of their own (process-wide state that only a fresh process
// has). The test runs a child copy of the test program, filtered to `filter`, with the
// environment variable `childFlag` set; the child sees IsChildRun(childFlag) and does the
// work. Returns the child's exit code (0 when its cases passed).
bool IsChildRun(const wchar_t* childFlag);
DWORD RunChildCopy(const wchar_t* childFlag, const wchar_t* filter, DWORD timeoutMs);

// Polls `condition` every 10 ms until it holds or timeoutMs passes.
template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(10);
    }
}
