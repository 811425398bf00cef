#include "common/lid_close_action.h"

#include <powrprof.h>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/settings_store.h"

namespace {

// Absent before Windows Vista (and from Wine's library): taken from the power library the
// program already imports, never by a search, since Kalnix runs elevated.
struct SchemeFunctions {
    decltype(&::PowerGetActiveScheme) getActiveScheme;
    decltype(&::PowerSetActiveScheme) setActiveScheme;
    decltype(&::PowerReadACValueIndex) readAc;
    decltype(&::PowerReadDCValueIndex) readDc;
    decltype(&::PowerWriteDCValueIndex) writeDc;
    decltype(&::PowerSettingAccessCheck) accessCheck;
};

template <class Function>
bool Resolve(const char* name, Function* function) {
    *function = LoadedFunction<Function>(L"powrprof.dll", name);
    return *function != nullptr;
}

// ERROR_SUCCESS, or the error of the failed look-up (ERROR_PROC_NOT_FOUND on old systems).
DWORD ResolveSchemeFunctions(SchemeFunctions* f) {
    if (Resolve("PowerGetActiveScheme", &f->getActiveScheme) && Resolve("PowerSetActiveScheme", &f->setActiveScheme) &&
        Resolve("PowerReadACValueIndex", &f->readAc) && Resolve("PowerReadDCValueIndex", &f->readDc) &&
        Resolve("PowerWriteDCValueIndex", &f->writeDc) && Resolve("PowerSettingAccessCheck", &f->accessCheck))
        return ERROR_SUCCESS;
    return GetLastError();
}

// Copies the active scheme out of the library's allocation, which is freed on every path.
DWORD ActiveScheme(const SchemeFunctions& f, GUID* scheme) {
    GUID* allocated = nullptr;
    DWORD error = f.getActiveScheme(nullptr, &allocated);
    if (error == ERROR_SUCCESS && allocated) *scheme = *allocated;
    if (allocated) LocalFree(allocated);
    return error;
}

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(a)) == 0; }

// The saved scheme and action, read without logging: their absence is the normal case.
bool ReadSavedAction(HKEY key, GUID* scheme, DWORD* action) {
    DWORD type = 0, size = sizeof(*scheme);
    if (!key || RegQueryValueExW(key, kSavedLidCloseScheme, nullptr, &type, reinterpret_cast<BYTE*>(scheme), &size) !=
                    ERROR_SUCCESS ||
        type != REG_BINARY || size != sizeof(*scheme))
        return false;
    size = sizeof(*action);
    return RegQueryValueExW(key, kSavedLidCloseAction, nullptr, &type, reinterpret_cast<BYTE*>(action), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(*action);
}

bool SaveAction(HKEY key, const GUID& scheme, DWORD action) {
    LONG status = RegSetValueExW(key, kSavedLidCloseScheme, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&scheme),
                                 sizeof(scheme));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key, kSavedLidCloseAction, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&action),
                                sizeof(action));
    if (status == ERROR_SUCCESS) return true;
    LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    return false;
}

void ForgetSavedAction(HKEY key) {
    RegDeleteValueW(key, kSavedLidCloseScheme);
    RegDeleteValueW(key, kSavedLidCloseAction);
}

// Re-activates the scheme only when it is the active one: activating a saved scheme the user
// has since left would switch schemes behind the user's back.
bool WriteBatteryAction(const SchemeFunctions& f, const GUID& scheme, DWORD action) {
    DWORD error = f.writeDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, action);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PWDVI Failed: %d\n", static_cast<int>(error));
        return false;
    }
    GUID active = {};
    if (ActiveScheme(f, &active) != ERROR_SUCCESS || !SameGuid(active, scheme)) return true;
    error = f.setActiveScheme(nullptr, &scheme);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PSAS Failed: %d\n", static_cast<int>(error));
        return false;
    }
    return true;
}

bool RestoreSavedAction(const SchemeFunctions& f, HKEY key, const GUID& scheme, DWORD saved) {
    DWORD current = kLidCloseSleep;
    DWORD error = f.readDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, &current);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
        return false;
    }
    // Anything but our Sleep is the user's own later choice, which stays.
    if (current == kLidCloseSleep && !WriteBatteryAction(f, scheme, saved)) return false;
    ForgetSavedAction(key);
    LogFormatted(L"Lid-close action on battery restored to %u", static_cast<unsigned>(saved));
    return true;
}

}  // namespace

DWORD ReadLidCloseAction(bool onBattery, DWORD* action, const wchar_t** failedCall) {
    SchemeFunctions f = {};
    *failedCall = L"GPA";
    DWORD error = ResolveSchemeFunctions(&f);
    if (error != ERROR_SUCCESS) return error;
    GUID scheme = {};
    *failedCall = L"PGAS";
    error = ActiveScheme(f, &scheme);
    if (error != ERROR_SUCCESS) return error;
    *failedCall = onBattery ? L"PRDVI" : L"PRAVI";
    return (onBattery ? f.readDc : f.readAc)(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, action);
}

void EnforceLidCloseSleep() {
    // Without the scheme functions (before Windows Vista) the legacy flags are all there is.
    SchemeFunctions f = {};
    if (ResolveSchemeFunctions(&f) != ERROR_SUCCESS) return;
    GUID scheme = {};
    DWORD error = ActiveScheme(f, &scheme);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PGAS Failed: %d\n", static_cast<int>(error));
        return;
    }
    HKEY key = OpenSettingsKeyQuietly();
    GUID savedScheme = {};
    DWORD savedAction = 0;
    bool saved = ReadSavedAction(key, &savedScheme, &savedAction);
    // The user has switched schemes since: the old one gets its action back first, so that
    // the one saved slot can serve the active scheme.
    if (saved && !SameGuid(savedScheme, scheme)) saved = !RestoreSavedAction(f, key, savedScheme, savedAction);
    DWORD action = kLidCloseSleep;
    error = f.readDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, &action);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
    } else if (action == kLidCloseDoNothing) {
        error = f.accessCheck(ACCESS_DC_POWER_SETTING_INDEX, &kLidCloseSetting);
        if (error != ERROR_SUCCESS) {
            LogFormatted(L"Lid-close action on battery is Do nothing and locked by policy: %d\n",
                         static_cast<int>(error));
        } else if (!key) {
            LogMessage(L"Lid-close action on battery is Do nothing and cannot be saved");
        } else if ((saved || SaveAction(key, scheme, action)) && WriteBatteryAction(f, scheme, kLidCloseSleep)) {
            LogMessage(L"Lid-close action on battery set to Sleep");
        }
    }
    if (key) RegCloseKey(key);
}

bool RestoreLidCloseAction() {
    HKEY key = OpenSettingsKeyQuietly();
    GUID scheme = {};
    DWORD action = 0;
    bool restored = true;
    if (ReadSavedAction(key, &scheme, &action)) {
        SchemeFunctions f = {};
        DWORD error = ResolveSchemeFunctions(&f);
        if (error != ERROR_SUCCESS) {
            LogFormatted(L"GPA Failed: %d\n", static_cast<int>(error));
            restored = false;
        } else {
            restored = RestoreSavedAction(f, key, scheme, action);
        }
    }
    if (key) RegCloseKey(key);
    return restored;
}
