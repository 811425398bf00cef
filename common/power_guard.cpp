#include "common/power_guard.h"

#include <powrprof.h>

#include "common/diagnostic_log.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"

namespace {

int LastError() { return static_cast<int>(GetLastError()); }

// Writes the policy, then re-activates the active scheme so the system applies it at once.
bool ApplyGlobalPolicy(GLOBAL_POWER_POLICY* policy) {
    if (!WriteGlobalPwrPolicy(policy)) {
        LogFormatted(L"WGPP Failed: %d\n", LastError());
        return false;
    }
    UINT scheme = 0;
    if (!GetActivePwrScheme(&scheme)) {
        LogFormatted(L"GAPS Failed: %d\n", LastError());
        return false;
    }
    if (!SetActivePwrScheme(scheme, nullptr, nullptr)) {
        LogFormatted(L"SAPS Failed: %d\n", LastError());
        return false;
    }
    return true;
}

bool ReadGlobalPolicy(GLOBAL_POWER_POLICY* policy) {
    if (ReadGlobalPwrPolicy(policy)) return true;
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
    return WriteSavedFlags(key, L"PowerSettings1", policy.user.LidCloseAc.Flags, L"Failed to write PowerSettings1\n") &&
           WriteSavedFlags(key, L"PowerSettings2", policy.user.LidCloseDc.Flags, L"Failed to write PowerSettings2\n");
}

// Both words are read into the local copy before anything is written, so a failed read
// leaves the system's policy untouched.
bool RestoreFlagsFrom(HKEY key, GLOBAL_POWER_POLICY* policy) {
    if (!ReadSettingDword(L"PowerSettings1", &policy->user.LidCloseAc.Flags, key)) {
        LogMessage(L"Failed to read PowerSettings1\n");
        return false;
    }
    if (!ReadSettingDword(L"PowerSettings2", &policy->user.LidCloseDc.Flags, key)) {
        LogMessage(L"Failed to read PowerSettings2\n");
        return false;
    }
    return ApplyGlobalPolicy(policy);
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
    ApplyGlobalPolicy(&policy);
}

bool __stdcall SavePowerSettings() {
    LogMessage(L"Entering SavePowerSettings");
    GLOBAL_POWER_POLICY policy;
    if (!ReadGlobalPolicy(&policy)) return false;
    ScopedKey key;
    OpenSettingsKey(key.put());  // logs its own failure; the write then fails on the null handle
    return SaveFlagsTo(key.get(), policy);
}

bool __stdcall RestorePowerSettings() {
    LogMessage(L"Entering RestorePowerSettings");
    // First and apart from the flags: a crashed run's lid-close action and hibernate-after
    // timeout come back even when the legacy policy cannot be read. Both are tried, whatever
    // the other's outcome.
    bool actionRestored = RestoreLidCloseAction();
    bool timeoutRestored = RestoreHibernateTimeout();
    GLOBAL_POWER_POLICY policy;
    if (!ReadGlobalPolicy(&policy)) return false;
    ScopedKey key;
    OpenSettingsKey(key.put());
    return RestoreFlagsFrom(key.get(), &policy) && actionRestored && timeoutRestored;
}
