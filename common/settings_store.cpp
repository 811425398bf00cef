#include "common/settings_store.h"

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

HKEY g_settingsKey = nullptr;

void OpenSettingsKey(HKEY* key) {
    *key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, kSettingsKeyAccess, key);
    if (status != ERROR_SUCCESS) {
        *key = nullptr;
        LogFormatted(L"ROKE Failed: %d\n", static_cast<int>(status));
    }
}

void OpenProcessSettingsKey() {
    OpenSettingsKey(&g_settingsKey);
}

void CloseProcessSettingsKey() {
    if (g_settingsKey) {
        RegCloseKey(g_settingsKey);
        g_settingsKey = nullptr;
    }
}

bool ReadSettingDword(const wchar_t* name, DWORD* destination, HKEY key) {
    // A shorter value overwrites only its own bytes, as a direct read would; a failed
    // read must leave the caller's preset alone, so the query goes to a copy.
    DWORD value = *destination;
    DWORD size = sizeof(value);
    LONG status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"RQVE Failed: %d\n", static_cast<int>(status));
        return false;
    }
    *destination = value;
    return true;
}

HKEY OpenSettingsKeyQuietly() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, kSettingsKeyAccess, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

bool ReadSettingDwordQuietly(const wchar_t* name, DWORD* value) {
    ScopedKey key(OpenSettingsKeyQuietly());
    if (!key.valid()) return false;
    DWORD read = 0, type = 0, size = sizeof(read);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(read))
        return false;
    *value = read;
    return true;
}

void WriteSettingDword(const wchar_t* name, DWORD value) {
    LONG status = RegSetValueExW(g_settingsKey, name, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
}
