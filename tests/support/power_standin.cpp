#include "support/power_standin.h"

#include <cwchar>

#include "common/lid_close_action.h"
#include "support/test_support.h"

namespace {

const wchar_t kStandinKey[] = L"Software\\KalnixTest\\PowerProfile";

HKEY OpenStandinKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStandinKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = OpenStandinKey();
    if (!key) return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void DeleteValue(const wchar_t* name) {
    HKEY key = OpenStandinKey();
    if (!key) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

}  // namespace

void ClearPowerStandin() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStandinKey); }

void PresetPowerPolicy(const GLOBAL_POWER_POLICY& policy) {
    SetValue(L"GlobalPolicy", REG_BINARY, &policy, sizeof(policy));
}

GLOBAL_POWER_POLICY ReadStandinPolicy(bool* present) {
    GLOBAL_POWER_POLICY policy = {};
    DWORD size = sizeof(policy);
    bool found = RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"GlobalPolicy", RRF_RT_REG_BINARY, nullptr, &policy,
                              &size) == ERROR_SUCCESS &&
                 size == sizeof(policy);
    if (!found) policy = {};
    if (present) *present = found;
    return policy;
}

GLOBAL_POWER_POLICY PatternedPowerPolicy(DWORD lidCloseAcFlags, DWORD lidCloseDcFlags) {
    GLOBAL_POWER_POLICY policy;
    BYTE* bytes = reinterpret_cast<BYTE*>(&policy);
    for (size_t i = 0; i < sizeof(policy); ++i) bytes[i] = static_cast<BYTE>(i * 7 + 1);
    policy.user.LidCloseAc.Flags = lidCloseAcFlags;
    policy.user.LidCloseDc.Flags = lidCloseDcFlags;
    return policy;
}

void FailPowerCall(const wchar_t* function, DWORD code) {
    std::wstring name = std::wstring(L"Fail") + function;
    if (code)
        SetValue(name.c_str(), REG_DWORD, &code, sizeof(code));
    else
        DeleteValue(name.c_str());
}

void SetStandinActiveScheme(UINT index) {
    DWORD value = index;
    SetValue(L"ActiveScheme", REG_DWORD, &value, sizeof(value));
}

UINT StandinActiveScheme() {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"ActiveScheme", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

std::vector<std::wstring> PowerCallLog() {
    std::vector<std::wstring> calls;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"Calls", RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return calls;
    std::wstring buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"Calls", RRF_RT_REG_MULTI_SZ, nullptr, &buffer[0], &size) !=
        ERROR_SUCCESS)
        return calls;
    for (const wchar_t* entry = buffer.c_str(); *entry; entry += wcslen(entry) + 1) calls.emplace_back(entry);
    return calls;
}

void ClearPowerCallLog() { DeleteValue(L"Calls"); }

const GUID kBalancedScheme = {0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};

namespace {

std::wstring SettingValueName(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool onBattery) {
    return GuidText(scheme) + L"\\" + GuidText(subgroup) + L"\\" + GuidText(setting) + (onBattery ? L" DC" : L" AC");
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", static_cast<unsigned long>(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

void SetStandinActiveSchemeGuid(const GUID& scheme) { SetValue(L"ActiveSchemeGuid", REG_BINARY, &scheme, sizeof(scheme)); }

GUID StandinActiveSchemeGuid() {
    GUID scheme = kBalancedScheme;
    DWORD size = sizeof(scheme);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"ActiveSchemeGuid", RRF_RT_REG_BINARY, nullptr, &scheme,
                     &size) != ERROR_SUCCESS ||
        size != sizeof(scheme))
        return kBalancedScheme;
    return scheme;
}

void PresetSchemeSetting(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool onBattery, DWORD value) {
    SetValue(SettingValueName(scheme, subgroup, setting, onBattery).c_str(), REG_DWORD, &value, sizeof(value));
}

void PresetLidCloseAction(const GUID& scheme, bool onBattery, DWORD action) {
    PresetSchemeSetting(scheme, kButtonSubgroup, kLidCloseSetting, onBattery, action);
}

DWORD StandinSchemeSetting(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool onBattery,
                           DWORD fallback) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, SettingValueName(scheme, subgroup, setting, onBattery).c_str(),
                     RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

DWORD StandinLidCloseAction(const GUID& scheme, bool onBattery, DWORD fallback) {
    return StandinSchemeSetting(scheme, kButtonSubgroup, kLidCloseSetting, onBattery, fallback);
}

void LockPowerSettings(bool locked) { FailPowerCall(L"PowerSettingAccessCheck", locked ? ERROR_ACCESS_DENIED : 0); }

bool SuspendRequested(DWORD timeoutMs) {
    return WaitUntil(
        [] {
            for (const std::wstring& call : PowerCallLog())
                if (call.rfind(L"SetSuspendState", 0) == 0) return true;
            return false;
        },
        timeoutMs);
}
