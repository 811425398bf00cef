#include "common/scheme_setting_guard.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/power_library.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"

namespace {

// The scheme functions are absent before Windows Vista (and from Wine's library): all six or
// none are used. Null without them, with *error saying why.
const PowerFunctions* LoadedSchemeFunctions(DWORD* error) {
    const PowerFunctions& f = PowerLibrary();
    bool complete = f.getActiveScheme && f.setActiveScheme && f.readAc && f.readDc && f.writeDc && f.accessCheck;
    *error = complete ? ERROR_SUCCESS : f.missingError;
    return complete ? &f : nullptr;
}

// Copies the active scheme out of the library's allocation, which is freed on every path.
DWORD ActiveScheme(const PowerFunctions& f, GUID* scheme) {
    GUID* allocated = nullptr;
    DWORD error = f.getActiveScheme(nullptr, &allocated);
    ScopedLocal allocation(allocated);
    if (error == ERROR_SUCCESS && allocated) *scheme = *allocated;
    return error;
}

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(a)) == 0; }

bool ReadSavedDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD type = 0, size = sizeof(*value);
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(*value);
}

// The saved scheme and value, read without logging: their absence is the normal case.
bool ReadSavedValue(const SchemeSettingGuard& guard, HKEY key, GUID* scheme, DWORD* value) {
    DWORD type = 0, size = sizeof(*scheme);
    if (!key ||
        RegQueryValueExW(key, guard.savedSchemeName, nullptr, &type, reinterpret_cast<BYTE*>(scheme), &size) !=
            ERROR_SUCCESS ||
        type != REG_BINARY || size != sizeof(*scheme))
        return false;
    return ReadSavedDword(key, guard.savedValueName, value);
}

bool SaveValue(const SchemeSettingGuard& guard, HKEY key, const GUID& scheme, DWORD value) {
    LONG status = RegSetValueExW(key, guard.savedSchemeName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&scheme),
                                 sizeof(scheme));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key, guard.savedValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
    if (status == ERROR_SUCCESS) return true;
    LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    return false;
}

void ForgetSavedValue(const SchemeSettingGuard& guard, HKEY key) {
    RegDeleteValueW(key, guard.savedSchemeName);
    RegDeleteValueW(key, guard.savedValueName);
    RegDeleteValueW(key, guard.writtenValueName);
}

// The value Kalnix wrote; false when it is not known, and then nothing is taken back.
bool WrittenValue(const SchemeSettingGuard& guard, HKEY key, DWORD* written) {
    if (ReadSavedDword(key, guard.writtenValueName, written)) return true;
    *written = guard.unrecordedWritten;
    return guard.hasUnrecordedWritten;
}

void RecordWrittenValue(const SchemeSettingGuard& guard, HKEY key, DWORD value) {
    LONG status = RegSetValueExW(key, guard.writtenValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof(value));
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
}

// How a put-back of the saved value ended.
enum class PutBack { Done, SchemeGone, Failed };

// Re-activates the scheme only when it is the active one: activating a saved scheme the user
// has since left would switch schemes behind the user's back.
// *written tells whether the value reached the scheme, even when its activation failed.
bool WriteBatteryValue(const PowerFunctions& f, const SchemeSettingGuard& guard, const GUID& scheme, DWORD value,
                       bool* written = nullptr) {
    DWORD error = f.writeDc(nullptr, &scheme, &guard.subgroup, &guard.setting, value);
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

PutBack RestoreSavedValue(const PowerFunctions& f, const SchemeSettingGuard& guard, HKEY key, const GUID& scheme,
                          DWORD saved) {
    DWORD current = 0;
    DWORD error = f.readDc(nullptr, &scheme, &guard.subgroup, &guard.setting, &current);
    if (error == ERROR_FILE_NOT_FOUND) {
        // The user deleted the scheme: its value has nowhere to go back to.
        LogMessage(guard.schemeGoneText);
        ForgetSavedValue(guard, key);
        return PutBack::SchemeGone;
    }
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
        return PutBack::Failed;
    }
    // Anything but the value Kalnix wrote is the user's own later choice, which stays.
    DWORD written = 0;
    bool ours = WrittenValue(guard, key, &written) && current == written;
    if (ours && !WriteBatteryValue(f, guard, scheme, saved)) return PutBack::Failed;
    ForgetSavedValue(guard, key);
    LogFormatted(guard.restoredText, static_cast<unsigned>(saved));
    if (ours && guard.restoredEvent) {
        wchar_t value[16];
        FormatBounded(value, 16, L"%u", static_cast<unsigned>(saved));
        ReportKalnixEvent(guard.restoredEvent, {value});
    }
    return PutBack::Done;
}

// Saves the user's value unless it is already saved, writes the target and records it.
void ReplaceBatteryValue(const PowerFunctions& f, const SchemeSettingGuard& guard, HKEY key, const GUID& scheme,
                         DWORD current, DWORD target, bool saved) {
    DWORD error = f.accessCheck(ACCESS_DC_POWER_SETTING_INDEX, &guard.setting);
    if (error != ERROR_SUCCESS) {
        LogFormatted(guard.lockedText, static_cast<int>(error));
    } else if (!key) {
        LogMessage(guard.unsavableText);
    } else if (saved || SaveValue(guard, key, scheme, current)) {
        bool written = false;
        if (WriteBatteryValue(f, guard, scheme, target, &written)) {
            LogFormatted(guard.setText, static_cast<unsigned>(target));
            if (guard.setEvent) ReportKalnixEvent(guard.setEvent);
        }
        if (written) RecordWrittenValue(guard, key, target);
        else if (!saved) ForgetSavedValue(guard, key);  // nothing was replaced
    }
}

}  // namespace

DWORD ReadActiveSchemeSetting(const GUID& subgroup, const GUID& setting, bool onBattery, DWORD* value,
                              const wchar_t** failedCall) {
    const wchar_t* unused = nullptr;
    if (!failedCall) failedCall = &unused;
    *failedCall = L"GPA";
    DWORD error = ERROR_SUCCESS;
    const PowerFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) return error;
    GUID scheme = {};
    *failedCall = L"PGAS";
    error = ActiveScheme(*f, &scheme);
    if (error != ERROR_SUCCESS) return error;
    *failedCall = onBattery ? L"PRDVI" : L"PRAVI";
    return (onBattery ? f->readDc : f->readAc)(nullptr, &scheme, &subgroup, &setting, value);
}

void EnforceSchemeSetting(const SchemeSettingGuard& guard, DWORD target) {
    // Without the scheme functions (before Windows Vista) there is no such setting to guard.
    DWORD error = ERROR_SUCCESS;
    const PowerFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) return;
    GUID scheme = {};
    error = ActiveScheme(*f, &scheme);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PGAS Failed: %d\n", static_cast<int>(error));
        return;
    }
    ScopedKey key(OpenSettingsKeyQuietly());
    GUID savedScheme = {};
    DWORD savedValue = 0;
    bool saved = ReadSavedValue(guard, key.get(), &savedScheme, &savedValue);
    // The user has switched schemes since: the old one gets its value back first, so that
    // the one saved slot can serve the active scheme. While it cannot, the active scheme is
    // left alone: replacing its value unsaved would lose it for good.
    if (saved && !SameGuid(savedScheme, scheme)) {
        if (RestoreSavedValue(*f, guard, key.get(), savedScheme, savedValue) == PutBack::Failed) {
            LogMessage(guard.earlierNotPutBackText);
            return;
        }
        saved = false;
    }
    DWORD current = 0;
    error = f->readDc(nullptr, &scheme, &guard.subgroup, &guard.setting, &current);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"PRDVI Failed: %d\n", static_cast<int>(error));
    } else if (guard.replaces(current, target)) {
        ReplaceBatteryValue(*f, guard, key.get(), scheme, current, target, saved);
    }
}

bool RestoreSchemeSetting(const SchemeSettingGuard& guard) {
    ScopedKey key(OpenSettingsKeyQuietly());
    GUID scheme = {};
    DWORD value = 0;
    if (!ReadSavedValue(guard, key.get(), &scheme, &value)) return true;
    DWORD error = ERROR_SUCCESS;
    const PowerFunctions* f = LoadedSchemeFunctions(&error);
    if (!f) {
        LogFormatted(L"GPA Failed: %d\n", static_cast<int>(error));
        return false;
    }
    return RestoreSavedValue(*f, guard, key.get(), scheme, value) != PutBack::Failed;
}
