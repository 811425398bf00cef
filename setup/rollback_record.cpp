#include "setup/rollback_record.h"

#include <windows.h>

#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

namespace {

const wchar_t kRecordsKeyPath[] = L"SOFTWARE\\Kalnix Rollback";

std::wstring RunKeyPath(const std::wstring& run) { return std::wstring(kRecordsKeyPath) + L"\\" + run; }

// A run token is digits and '-' only: nothing in it can reach another key.
bool IsRunToken(const std::wstring& run) {
    return !run.empty() && run.find_first_not_of(L"0123456789-") == std::wstring::npos;
}

}  // namespace

bool SaveRollbackRecord(const std::wstring& run, const wchar_t* name, const std::wstring& text) {
    if (!IsRunToken(run)) return false;
    ScopedKey records, key;
    // Volatile, so that neither key outlives the next restart; the run's key must be volatile
    // too, under a volatile parent.
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordsKeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_CREATE_SUB_KEY, nullptr, records.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegCreateKeyExW(records.get(), run.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                                 key.put(), nullptr);
    }
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) LogFormatted(L"CA: Rollback record %ls not stored: %d", name, static_cast<int>(status));
    return status == ERROR_SUCCESS;
}

bool ReadRollbackRecord(const std::wstring& run, const wchar_t* name, std::wstring* text) {
    if (!IsRunToken(run)) return false;
    DWORD bytes = 0;
    const std::wstring path = RunKeyPath(run);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return false;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, &value[0], &bytes) !=
        ERROR_SUCCESS)
        return false;
    value.resize(wcslen(value.c_str()));
    *text = value;
    return true;
}

void DropRollbackRecords(const std::wstring& run) {
    if (!IsRunToken(run)) return;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, RunKeyPath(run).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, RunKeyPath(run).c_str());
    // The parent goes when no other run's records are in it (the deletion fails otherwise).
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRecordsKeyPath);
}

std::wstring NewRunToken() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long time = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    wchar_t token[64];
    swprintf(token, 64, L"%lu-%llu-%llu", static_cast<unsigned long>(GetCurrentProcessId()), time,
             static_cast<unsigned long long>(GetTickCount64()));
    return token;
}
