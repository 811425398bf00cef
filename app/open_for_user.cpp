#include "app/open_for_user.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/seam_sessions.h"
#include "common/seam_shell.h"

namespace {

// Administrators is enabled only in an elevated token: UAC's filtered token holds it for deny
// only. A check that fails counts as elevated, the cautious answer here.
bool RunsElevated() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return true;
    if (!g_sessionSeam.checkTokenMembership(nullptr, administrators, &member)) return true;
    return member != FALSE;
}

void ShowForUser(HWND owner, const wchar_t* target) {
    wchar_t text[1024];
    FormatBounded(text, ARRAYSIZE(text),
                  L"Kalnix runs with administrator rights and would pass them on to the program that "
                  L"opens this. Please open it yourself:\n\n%ls",
                  target);
    MessageBoxW(owner, text, L"Kalnix", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

void OpenForUser(HWND owner, const wchar_t* target) {
    if (!RunsElevated()) {
        // What this Kalnix starts gets its token, which holds no administrator's rights.
        g_shellSeam.shellExecute(nullptr, L"open", target, nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    HRESULT result = g_shellSeam.openThroughDesktopShell(target);
    if (result == S_OK) return;
    LogFormatted(L"The desktop's shell cannot open %ls: 0x%08X\n", target, static_cast<unsigned>(result));
    ShowForUser(owner, target);
}
