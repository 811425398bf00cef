#include "common/lid_close_action.h"

#include <powrprof.h>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/scoped_handle.h"
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

// The table with the outcome of its look-up: ERROR_SUCCESS, or the error of the failed
// look-up (ERROR_PROC_NOT_FOUND on old systems).
struct SchemeLookup {
    SchemeFunctions functions;
    DWORD error;
};

template <class Function>
bool Resolve(const char* name, Function* function) {
    *function = LoadedFunction<Function>(L"powrprof.dll", name);
    return *function != nullptr;
}

SchemeLookup ResolveSchemeFunctions() {
    SchemeLookup lookup = {};
    SchemeFunctions& f = lookup.functions;
    if (Resolve("PowerGetActiveScheme", &f.getActiveScheme) && Resolve("PowerSetActiveScheme", &f.setActiveScheme) &&
        Resolve("PowerReadACValueIndex", &f.readAc) && Resolve("PowerReadDCValueIndex", &f.readDc) &&
        Resolve("PowerWriteDCValueIndex", &f.writeDc) && Resolve("PowerSettingAccessCheck", &f.accessCheck))
        return lookup;
    lookup.error = GetLastError();
    // A failed look-up always sets an error; should one not, the table must still not be used.
    if (lookup.error == ERROR_SUCCESS) lookup.error = ERROR_PROC_NOT_FOUND;
    return lookup;
}

// Looked up on first use only: the power library stays loaded for the life of the process,
// so the answer never changes. Null when this Windows lacks the functions, with *error why.
const SchemeFunctions* LoadedSchemeFunctions(DWORD* error) {
    static const SchemeLookup lookup = ResolveSchemeFunctions();
    *error = lookup.error;
    return lookup.error == ERROR_SUCCESS ? &lookup.functions : nullptr;
}

// Copies the active scheme out of the library's allocation, which is freed on every path.
DWORD ActiveScheme(const SchemeFunctions& f, GUID* scheme) {
    GUID* allocated = nullptr;
    DWORD error = f.getActiveScheme(nullptr, &allocated);
    ScopedLocal allocation(allocated);
    if (error == ERROR_SUCCESS && allocated) *scheme = *allocated;
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
    RegDeleteValueW(key, kWrittenLidCloseAction);
}

DWORD WrittenAction(HKEY key) {
    DWORD type = 0, written = 0, size = sizeof(written);
    if (RegQueryValueExW(key, kWrittenLidCloseAction, nullptr, &type, reinterpret_cast<BYTE*>(&written), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(written))
        return written;
    return kLidCloseSleep;
}

void RecordWrittenAction(HKEY key, DWORD action) {
    LONG status =
        RegSetValueExW(key, kWrittenLidCloseAction, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&action), sizeof(action));
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
}

// How a put-back of the saved action ended.
enum class PutBack { Done, SchemeGone, Failed };

// Re-activates the scheme only when it is the active one: activating a saved scheme the user
// has since left would switch schemes behind the user's back.
// *written tells whether the value reached the scheme, even when its activation failed.
bool WriteBatteryAction(const SchemeFunctions& f, const GUID& scheme, DWORD action, bool* written = nullptr) {
    DWORD error = f.writeDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, action);
    if (written) *written = error == ERROR_SUCCESS;
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

PutBack RestoreSavedAction(const SchemeFunctions& f, HKEY key, const GUID& scheme, DWORD saved) {
    DWORD current = kLidCloseSleep;
    DWORD error = f.readDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, &current);
    if (error == ERROR_FILE_NOT_FOUND) {
        // The user deleted the scheme: its action has nowhere to go back to.
        LogMessage(L"The scheme of the saved lid-close action no longer exists: the saved action is dropped");
        ForgetSavedAction(key);
        return PutBack::SchemeGone;
    }
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
        return PutBack::Failed;
    }
    // Anything but the value Kalnix wrote is the user's own later choice, which stays.
    if (current == WrittenAction(key) && !WriteBatteryAction(f, scheme, saved)) return PutBack::Failed;
    ForgetSavedAction(key);
    LogFormatted(L"Lid-close action on battery restored to %u", static_cast<unsigned>(saved));
    return PutBack::Done;
}

}  // namespace

DWORD ReadLidCloseAction(bool onBattery, DWORD* action, const wchar_t** failedCall) {
    return ReadActiveSchemeSetting(kButtonSubgroup, kLidCloseSetting, onBattery, action, failedCall);
}

DWORD ReadActiveSchemeSetting(const GUID& subgroup, const GUID& setting, bool onBattery, DWORD* value,
                              const wchar_t** failedCall) {
    const wchar_t* unused = nullptr;
    if (!failedCall) failedCall = &unused;
    *failedCall = L"GPA";
    DWORD error = ERROR_SUCCESS;
    const SchemeFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) return error;
    GUID scheme = {};
    *failedCall = L"PGAS";
    error = ActiveScheme(*f, &scheme);
    if (error != ERROR_SUCCESS) return error;
    *failedCall = onBattery ? L"PRDVI" : L"PRAVI";
    return (onBattery ? f->readDc : f->readAc)(nullptr, &scheme, &subgroup, &setting, value);
}

void EnforceLidCloseSleep() {
    // Without the scheme functions (before Windows Vista) the legacy flags are all there is.
    DWORD error = ERROR_SUCCESS;
    const SchemeFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) return;
    GUID scheme = {};
    error = ActiveScheme(*f, &scheme);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PGAS Failed: %d\n", static_cast<int>(error));
        return;
    }
    ScopedKey key(OpenSettingsKeyQuietly());
    GUID savedScheme = {};
    DWORD savedAction = 0;
    bool saved = ReadSavedAction(key.get(), &savedScheme, &savedAction);
    // The user has switched schemes since: the old one gets its action back first, so that
    // the one saved slot can serve the active scheme. While it cannot, the active scheme is
    // left alone: replacing its action unsaved would lose it for good.
    if (saved && !SameGuid(savedScheme, scheme)) {
        if (RestoreSavedAction(*f, key.get(), savedScheme, savedAction) == PutBack::Failed) {
            LogMessage(L"Lid-close action of the earlier scheme not put back: the active scheme is left as it is");
            return;
        }
        saved = false;
    }
    DWORD action = kLidCloseSleep;
    error = f->readDc(nullptr, &scheme, &kButtonSubgroup, &kLidCloseSetting, &action);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
    } else if (action == kLidCloseDoNothing) {
        error = f->accessCheck(ACCESS_DC_POWER_SETTING_INDEX, &kLidCloseSetting);
        if (error != ERROR_SUCCESS) {
            LogFormatted(L"Lid-close action on battery is Do nothing and locked by policy: %d\n",
                         static_cast<int>(error));
        } else if (!key.valid()) {
            LogMessage(L"Lid-close action on battery is Do nothing and cannot be saved");
        } else if (saved || SaveAction(key.get(), scheme, action)) {
            bool written = false;
            if (WriteBatteryAction(*f, scheme, kLidCloseSleep, &written))
                LogMessage(L"Lid-close action on battery set to Sleep");
            if (written) RecordWrittenAction(key.get(), kLidCloseSleep);
            else if (!saved) ForgetSavedAction(key.get());  // nothing was replaced
        }
    }
}

bool RestoreLidCloseAction() {
    ScopedKey key(OpenSettingsKeyQuietly());
    GUID scheme = {};
    DWORD action = 0;
    if (!ReadSavedAction(key.get(), &scheme, &action)) return true;
    DWORD error = ERROR_SUCCESS;
    const SchemeFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) {
        LogFormatted(L"GPA Failed: %d\n", static_cast<int>(error));
        return false;
    }
    return RestoreSavedAction(*f, key.get(), scheme, action) != PutBack::Failed;
}
