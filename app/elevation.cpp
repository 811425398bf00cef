#include "app/elevation.h"

#include "common/scoped_handle.h"
#include "common/seam_sessions.h"
#include "common/seam_shell.h"

namespace {

bool ReadToken(TOKEN_INFORMATION_CLASS kind, void* value, DWORD size) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD returned = 0;
    return g_sessionSeam.getTokenInformation(token.get(), kind, value, size, &returned) != FALSE;
}

}  // namespace

bool RunsElevated() {
    TOKEN_ELEVATION elevation = {};
    return ReadToken(TokenElevation, &elevation, sizeof(elevation)) && elevation.TokenIsElevated != 0;
}

bool RunsAsLimitedAdministrator() {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    return ReadToken(TokenElevationType, &type, sizeof(type)) && type == TokenElevationTypeLimited;
}

bool StartKalnixElevated(HWND owner, const wchar_t* arguments) {
    wchar_t kalnix[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, kalnix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof(start);
    start.fMask = SEE_MASK_NOASYNC;
    start.hwnd = owner;
    start.lpVerb = L"runas";
    start.lpFile = kalnix;
    start.lpParameters = arguments;
    start.nShow = SW_SHOWNORMAL;
    return g_shellSeam.shellExecuteEx(&start) != FALSE;
}
