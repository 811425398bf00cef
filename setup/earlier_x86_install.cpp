#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"
#include "setup/earlier_x86_install.h"
#include "setup/exports.h"

namespace {

// Copies one value unless the 64-bit key has its own: a value there is a later choice.
bool TakeOverValue(HKEY from, HKEY to, DWORD index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    BYTE data[1024];
    DWORD size = sizeof(data), type = 0;
    LONG status = RegEnumValueW(from, index, name, &nameLength, nullptr, &type, data, &size);
    if (status == ERROR_MORE_DATA) return true;  // nothing of Kalnix's is that long
    if (status != ERROR_SUCCESS) return false;
    if (RegQueryValueExW(to, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        LogFormatted(L"CA: %s kept from the 64-bit settings", name);
        return true;
    }
    status = RegSetValueExW(to, name, 0, type, data, size);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegSetValueEx failed: %d", static_cast<int>(status));
        return true;
    }
    LogFormatted(L"CA: %s taken over", name);
    return true;
}

}  // namespace

bool CopyX86Settings() {
    ScopedKey earlier;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, earlier.put());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegOpenKeyEx failed: %d", static_cast<int>(status));
        return false;
    }
    ScopedKey settings;
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0,
                             KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, settings.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegCreateKeyEx failed: %d", static_cast<int>(status));
        return false;
    }
    for (DWORD index = 0; TakeOverValue(earlier.get(), settings.get(), index); ++index) {
    }
    return true;
}

bool DeleteX86Settings() {
    // Taken over, the 32-bit key would only mislead a later 32-bit tool.
    LONG status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_32KEY, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogFormatted(L"CA: RegDeleteKeyEx failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

bool __stdcall TakeOverX86Settings() {
    LogMessage(L"CA: Entering TakeOverX86Settings");
    // Nothing to take over, and nothing to delete.
    ScopedKey earlier;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, earlier.put()) ==
        ERROR_FILE_NOT_FOUND) {
        return true;
    }
    earlier.Reset();
    return CopyX86Settings() && DeleteX86Settings();
}
