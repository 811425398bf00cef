#include "common/setting_policy.h"

#include "common/scoped_handle.h"

bool ReadPolicyDword(const wchar_t* name, DWORD* value) {
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    DWORD read = 0, type = 0, size = sizeof(read);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(read))
        return false;
    *value = read;
    return true;
}

bool SettingIsManaged(const wchar_t* name) {
    DWORD ignored = 0;
    return ReadPolicyDword(name, &ignored);
}
