#include "common/power_guard.h"

#include "common/bounded_format.h"
#include "common/device_wake.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "common/maintenance_wake.h"
#include "common/power_library.h"
#include "common/scoped_handle.h"
#include "common/setting_table.h"
#include "common/settings_store.h"
#include "common/wake_timers.h"

namespace {

int LastError() { return static_cast<int>(GetLastError()); }

// The legacy policy calls, failing as their own failures do where the library lacks them.
BOOLEAN ReadPolicy(GLOBAL_POWER_POLICY* policy) {
    auto read = PowerLibrary().readGlobalPwrPolicy;
    return read ? read(policy) : MissingPowerFunction();
}

BOOLEAN WritePolicy(GLOBAL_POWER_POLICY* policy) {
    auto write = PowerLibrary().writeGlobalPwrPolicy;
    return write ? write(policy) : MissingPowerFunction();
}

BOOLEAN GetActiveScheme(UINT* scheme) {
    auto get = PowerLibrary().getActivePwrScheme;
    return get ? get(scheme) : MissingPowerFunction();
}

BOOLEAN ActivateScheme(UINT scheme) {
    auto activate = PowerLibrary().setActivePwrScheme;
    return activate ? activate(scheme, nullptr, nullptr) : MissingPowerFunction();
}

// Writes the policy, then re-activates the active scheme so the system applies it at once.
// ERROR_SUCCESS or the failed call's error, which is logged.
DWORD ApplyGlobalPolicy(GLOBAL_POWER_POLICY* policy) {
    const wchar_t* failed = nullptr;
    UINT scheme = 0;
    if (!WritePolicy(policy)) failed = L"WGPP";
    else if (!GetActiveScheme(&scheme)) failed = L"GAPS";
    else if (!ActivateScheme(scheme)) failed = L"SAPS";
    if (!failed) return ERROR_SUCCESS;
    DWORD error = GetLastError();
    LogFormatted(L"%ls Failed: %d\n", failed, static_cast<int>(error));
    return error;
}

bool ReadGlobalPolicy(GLOBAL_POWER_POLICY* policy) {
    if (ReadPolicy(policy)) return true;
    LogFormatted(L"RGPP Failed: %d\n", LastError());
    return false;
}

// Through the caller's fresh key, not the process-wide one: the installer library has none.
bool WriteSavedFlags(HKEY key, const wchar_t* name, DWORD flags, const wchar_t* failure) {
    LONG status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), sizeof(flags));
    if (status == ERROR_SUCCESS) return true;
    LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    LogMessage(failure);
    return false;
}

bool SaveFlagsTo(HKEY key, const GLOBAL_POWER_POLICY& policy) {
    return WriteSavedFlags(key, SettingName(SettingId::PowerSettings1), policy.user.LidCloseAc.Flags,
                           L"Failed to write PowerSettings1\n") &&
           WriteSavedFlags(key, SettingName(SettingId::PowerSettings2), policy.user.LidCloseDc.Flags,
                           L"Failed to write PowerSettings2\n");
}

// Both words are read into the local copy before anything is written, so a failed read
// leaves the system's policy untouched.
bool RestoreFlagsFrom(HKEY key, GLOBAL_POWER_POLICY* policy) {
    if (!ReadSettingDword(SettingName(SettingId::PowerSettings1), &policy->user.LidCloseAc.Flags, key)) {
        LogMessage(L"Failed to read PowerSettings1\n");
        return false;
    }
    if (!ReadSettingDword(SettingName(SettingId::PowerSettings2), &policy->user.LidCloseDc.Flags, key)) {
        LogMessage(L"Failed to read PowerSettings2\n");
        return false;
    }
    return ApplyGlobalPolicy(policy) == ERROR_SUCCESS;
}

}  // namespace

DWORD ForcedLidFlags(DWORD flags) {
    // Clear QUERY_ALLOWED and UI_ALLOWED, set OVERRIDE_APPS and CRITICAL; keep the rest.
    return (flags & 0xFFFFFFFCu) | 0x80000004u;
}

void ForcePowerSettings() {
    GLOBAL_POWER_POLICY policy;
    if (!ReadGlobalPolicy(&policy)) return;
    policy.user.LidCloseAc.Flags = ForcedLidFlags(policy.user.LidCloseAc.Flags);
    policy.user.LidCloseDc.Flags = ForcedLidFlags(policy.user.LidCloseDc.Flags);
    DWORD error = ApplyGlobalPolicy(&policy);
    // Once a run: the hourly tick would repeat it for as long as the cause lasts.
    static bool reported = false;
    if (error == ERROR_SUCCESS || reported) return;
    reported = true;
    wchar_t code[16];
    FormatBounded(code, 16, L"%d", static_cast<int>(error));
    ReportKalnixEvent(KALNIX_EVENT_POLICY_WRITE_FAILED, {code});
}

bool __stdcall SavePowerSettings() {
    LogMessage(L"Entering SavePowerSettings");
    GLOBAL_POWER_POLICY policy;
    if (!ReadGlobalPolicy(&policy)) return false;
    ScopedKey key;
    OpenSettingsKey(key.put());  // logs its own failure; the write then fails on the null handle
    return SaveFlagsTo(key.get(), policy);
}

bool RestoreForcedPowerSettings() {
    LogMessage(L"Entering RestorePowerSettings");
    // First and apart from the flags: a crashed run's lid-close action, hibernate-after
    // timeout and wake timers come back even when the legacy policy cannot be read.
    bool actionRestored = RestoreLidCloseAction();
    bool timeoutRestored = RestoreHibernateTimeout();
    bool wakeTimersRestored = RestoreWakeTimers();
    GLOBAL_POWER_POLICY policy;
    if (!ReadGlobalPolicy(&policy)) return false;
    ScopedKey key;
    OpenSettingsKey(key.put());
    return RestoreFlagsFrom(key.get(), &policy) && actionRestored && timeoutRestored && wakeTimersRestored;
}

bool __stdcall RestorePowerSettings() {
    bool forcedRestored = RestoreForcedPowerSettings();
    bool maintenanceRestored = RestoreMaintenanceWake();
    bool devicesRestored = RestoreDeviceWake(&::CreateProcessW);
    return forcedRestored && maintenanceRestored && devicesRestored;
}
