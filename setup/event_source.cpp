#include "setup/event_source.h"

#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

const wchar_t kEventSourceKeyPath[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalnix";

bool RegisterKalnixEventSource(const std::wstring& messageFile) {
    ScopedKey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegCreateKeyEx failed: %d", static_cast<int>(status));
        return false;
    }
    const DWORD kAllTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile.c_str()),
                            static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kAllTypes),
                                sizeof(kAllTypes));
    }
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegSetValueEx failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

bool ReadKalnixEventSource(std::wstring* messageFile) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = sizeof(path);
    LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, L"EventMessageFile",
                               RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, path, &size);
    if (status != ERROR_SUCCESS) return false;
    *messageFile = path;
    return true;
}

bool RemoveKalnixEventSource() {
    LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventSourceKeyPath);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogFormatted(L"CA: RegDeleteTree failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}
