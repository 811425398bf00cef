#include "common/maintenance_wake.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"

namespace {

constexpr DWORD kMayNotWake = 0;

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD read = 0, type = 0, size = sizeof(read);
    if (!key || RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(read))
        return false;
    *value = read;
    return true;
}

HKEY OpenMaintenanceKey(REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMaintenanceKeyPath, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

bool SetByPolicy() {
    DWORD value = 0, size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kMaintenancePolicyKeyPath, kMaintenanceWakeValue, RRF_RT_REG_DWORD, nullptr,
                        &value, &size) == ERROR_SUCCESS;
}

LONG WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void ForgetSaved(HKEY settings) {
    RegDeleteValueW(settings, kSavedMaintenanceWake);
    RegDeleteValueW(settings, kWrittenMaintenanceWake);
}

// Records the user's value and what Kalnix is about to write, before the write: a change
// whose record was lost could never be put back.
bool SaveBeforeWriting(HKEY settings, bool had, DWORD value) {
    LONG status = had ? WriteDword(settings, kSavedMaintenanceWake, value) : RegDeleteValueW(settings, kSavedMaintenanceWake);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    if (status == ERROR_SUCCESS) status = WriteDword(settings, kWrittenMaintenanceWake, kMayNotWake);
    if (status == ERROR_SUCCESS) return true;
    LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    ForgetSaved(settings);
    return false;
}

}  // namespace

bool MaintenanceWakeOffered() {
    ScopedKey key(OpenMaintenanceKey(KEY_QUERY_VALUE));
    return key.valid();
}

bool MaintenanceWakeChanged() {
    ScopedKey settings(OpenSettingsKeyQuietly());
    DWORD written = 0;
    return ReadDword(settings.get(), kWrittenMaintenanceWake, &written);
}

void EnforceMaintenanceWakeOff() {
    ScopedKey maintenance(OpenMaintenanceKey(KEY_QUERY_VALUE | KEY_SET_VALUE));
    if (!maintenance.valid()) return;  // no such setting on this Windows
    DWORD current = 1;
    bool had = ReadDword(maintenance.get(), kMaintenanceWakeValue, &current);
    if (had && current == kMayNotWake) return;
    static bool policyLogged = false;
    if (SetByPolicy()) {
        if (!policyLogged) LogMessage(L"Automatic maintenance's wake is set by Group Policy: Kalnix leaves it alone");
        policyLogged = true;
        return;
    }
    ScopedKey settings(OpenSettingsKeyQuietly());
    if (!settings.valid()) return LogMessage(L"Automatic maintenance's wake cannot be saved");
    DWORD written = 0;
    // Saved already: another program set it back since, and the user's first value stays saved.
    bool saved = ReadDword(settings.get(), kWrittenMaintenanceWake, &written);
    if (!saved && !SaveBeforeWriting(settings.get(), had, current)) return;
    LONG status = WriteDword(maintenance.get(), kMaintenanceWakeValue, kMayNotWake);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
        if (!saved) ForgetSaved(settings.get());  // nothing was changed
        return;
    }
    LogMessage(L"Automatic maintenance may no longer wake the laptop");
    ReportKalnixEvent(KALNIX_EVENT_MAINTENANCE_WAKE_OFF);
}

bool RestoreMaintenanceWake() {
    ScopedKey settings(OpenSettingsKeyQuietly());
    DWORD written = 0;
    if (!ReadDword(settings.get(), kWrittenMaintenanceWake, &written)) return true;
    DWORD saved = 0;
    bool had = ReadDword(settings.get(), kSavedMaintenanceWake, &saved);
    ScopedKey maintenance(OpenMaintenanceKey(KEY_QUERY_VALUE | KEY_SET_VALUE));
    DWORD current = 0;
    // Anything but the value Kalnix wrote is someone's later choice, which stays; without the
    // key there is nothing to put back into.
    if (maintenance.valid() && ReadDword(maintenance.get(), kMaintenanceWakeValue, &current) && current == written) {
        LONG status = had ? WriteDword(maintenance.get(), kMaintenanceWakeValue, saved)
                          : RegDeleteValueW(maintenance.get(), kMaintenanceWakeValue);
        if (status != ERROR_SUCCESS) {
            LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
            return false;
        }
        wchar_t value[32];
        if (had) FormatBounded(value, 32, L"%u", static_cast<unsigned>(saved));
        else FormatBounded(value, 32, L"Windows' default");
        LogFormatted(L"Automatic maintenance's wake restored to %ls", value);
        ReportKalnixEvent(KALNIX_EVENT_MAINTENANCE_WAKE_PUT_BACK, {value});
    }
    ForgetSaved(settings.get());
    return true;
}
