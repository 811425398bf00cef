#pragma once

#include <windows.h>

#include "common/setting_table.h"

// The value of a setting that Kalnix.exe goes by: Group Policy's when a policy sets it, else
// the local value in the settings key. The policy is read quietly; the local value is read the
// way the caller has always read it, with the same log lines. Nothing here writes.
enum class LocalRead {
    Quiet,       // absence is the usual case: nothing is logged
    ProcessKey,  // through the process-wide handle, a failed read logged
    FreshKey,    // through a handle opened for this read, a failed open or read logged
};

// True with *value set from the policy or the local value; false when neither could be
// read, and *value is then unchanged. A value out of range is handed on as read: the
// caller treats it the same wherever it came from.
bool ReadAppliedSettingDword(const wchar_t* name, DWORD* value, LocalRead local);
inline bool ReadAppliedSettingDword(SettingId setting, DWORD* value, LocalRead local) {
    return ReadAppliedSettingDword(SettingName(setting), value, local);
}
