#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/setting_table.h"
#include "common/settings_store.h"
#include "setup/exports.h"

namespace {

// The status of the value `name` of the settings key, of any type, in this library's own
// registry view (the one Kalnix.exe of the same architecture reads).
LONG QuerySetting(const wchar_t* name) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, name, RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                        nullptr);
}

}  // namespace

bool __stdcall IsLocalSystem() {
    LogMessage(L"CA: Entering IsLocalSystem");
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        LogFormatted(L"CA: OpenProcessToken failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    // TOKEN_USER followed by the SID it points to; a SID takes at most 68 bytes.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, &info, sizeof(info), &size)) {
        LogFormatted(L"CA: GetTokenInformation failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return IsWellKnownSid(info.user.User.Sid, WinLocalSystemSid) != FALSE;
}

bool __stdcall SettingExists(const wchar_t* name) {
    LogMessage(L"CA: Entering SettingExists");
    return QuerySetting(name) == ERROR_SUCCESS;
}

bool __stdcall PowerSettingsAreSaved() {
    LogMessage(L"CA: Entering PowerSettingsAreSaved");
    // The lid-close flags the setup program saved, and what automatic protection saved of the
    // active scheme's own settings before replacing them.
    for (const SettingFact& fact : kSettingFacts) {
        if (fact.kind != SettingKind::Saved) continue;
        LONG status = QuerySetting(fact.name);
        if (status == ERROR_FILE_NOT_FOUND) continue;
        // A value that cannot be read may still be the user's: it counts as saved.
        if (status != ERROR_SUCCESS) LogFormatted(L"CA: RegGetValue failed: %d", static_cast<int>(status));
        return true;
    }
    return false;
}
