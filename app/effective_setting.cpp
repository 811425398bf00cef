#include "app/effective_setting.h"

#include "common/setting_policy.h"
#include "common/settings_store.h"

bool ReadEffectiveSetting(const wchar_t* name, DWORD* value) {
    return ReadPolicyDword(name, value) || ReadSettingDwordQuietly(name, value);
}
