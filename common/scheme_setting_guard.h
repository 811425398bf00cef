#pragma once

#include <windows.h>

// One on-battery setting of the active power scheme (Windows Vista and later) that automatic
// protection replaces while it runs: the user's value is saved in the settings key first, and
// only the value Kalnix wrote is ever taken back.

// What tells the guarded settings apart: where the setting lives, where its saved values go,
// and what the log says about it.
struct SchemeSettingGuard {
    GUID subgroup;
    GUID setting;
    // True when the active scheme's value `current` is to be replaced by `target`.
    bool (*replaces)(DWORD current, DWORD target);
    // The saved scheme (REG_BINARY, 16 bytes), the user's value and the value Kalnix wrote
    // (REG_DWORD each).
    const wchar_t* savedSchemeName;
    const wchar_t* savedValueName;
    const wchar_t* writtenValueName;
    // What a saved value without its written value stands for: an earlier Kalnix that wrote
    // one fixed value did not record it. Without one, nothing unrecorded is taken back.
    bool hasUnrecordedWritten;
    DWORD unrecordedWritten;
    // Log lines; setText may name the value written (%u), restoredText names the value put
    // back (%u), lockedText the access check's error (%d).
    const wchar_t* setText;
    const wchar_t* restoredText;
    const wchar_t* lockedText;
    const wchar_t* unsavableText;
    const wchar_t* schemeGoneText;
    const wchar_t* earlierNotPutBackText;
    // Events of the replacement and of the value put back (its insert: the value), 0 for none.
    DWORD setEvent;
    DWORD restoredEvent;
};

// Reads a setting of the active scheme for battery or mains power, logging nothing (it also
// runs off the main thread): returns ERROR_SUCCESS or the failed call's error, named in
// *failedCall ("GPA", "PGAS", "PRDVI", "PRAVI") when one is asked for.
DWORD ReadActiveSchemeSetting(const GUID& subgroup, const GUID& setting, bool onBattery, DWORD* value,
                              const wchar_t** failedCall = nullptr);

// When the active scheme's value on battery is to be replaced by `target`, saves the scheme
// and the value (unless already saved), writes `target` and records it as written. A value
// saved for a scheme the user has left goes back there first. An administrator's lock is
// logged and respected; failures are logged only.
void EnforceSchemeSetting(const SchemeSettingGuard& guard, DWORD target);

// Puts a saved value back into its scheme, unless the user has chosen another value since,
// and deletes the saved values. True when nothing was saved or it was put back (or its
// scheme is gone); false keeps the saved values for a later try.
bool RestoreSchemeSetting(const SchemeSettingGuard& guard);
