#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"
#include "setup/exports.h"

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
    // This library's own registry view, the one Kalnix.exe of the same architecture reads.
    LONG status =
        RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, name, RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS;
}
