#include "common/applied_setting.h"

#include "common/scoped_handle.h"
#include "common/setting_policy.h"
#include "common/settings_store.h"

bool ReadAppliedSettingDword(const wchar_t* name, DWORD* value, LocalRead local) {
    // A policy wins, so the local value is not even read: its absence is no failure then.
    if (ReadPolicyDword(name, value)) return true;
    switch (local) {
    case LocalRead::Quiet:
        return ReadSettingDwordQuietly(name, value);
    case LocalRead::ProcessKey:
        return ReadSettingDword(name, value, g_settingsKey);
    case LocalRead::FreshKey: {
        ScopedKey key;
        OpenSettingsKey(key.put());
        return ReadSettingDword(name, value, key.get());
    }
    }
    return false;
}
