#include "support/platform_fakes.h"

#include <algorithm>
#include <cstring>


namespace {

std::vector<ShellCall> g_calls;
BOOL g_addResult = TRUE;

BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    ShellCall call = {};
    call.message = message;
    // Copy no more than the caller declared, as the shell reads no more.
    std::memcpy(&call.record, data, std::min<size_t>(data->cbSize, sizeof(call.record)));
    g_calls.push_back(call);
    return message == NIM_ADD ? g_addResult : TRUE;
}

}  // namespace

ShellRecorder::ShellRecorder(BOOL addResult) : savedAddResult_(g_addResult) {
    g_calls.clear();
    g_addResult = addResult;
    g_platform.notifyIcon = RecordNotifyIcon;
}

ShellRecorder::~ShellRecorder() {
    g_addResult = savedAddResult_;
    g_calls.clear();
}

const std::vector<ShellCall>& ShellRecorder::Calls() const { return g_calls; }
void ShellRecorder::Clear() { g_calls.clear(); }

MembershipOverride::MembershipOverride(Check check) { g_platform.checkTokenMembership = check; }

MembershipOverride::~MembershipOverride() = default;

BOOL WINAPI NotAMember(HANDLE, PSID, PBOOL member) {
    *member = FALSE;
    return TRUE;
}

BOOL WINAPI CheckFailsClaimingMember(HANDLE, PSID, PBOOL member) {
    *member = TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
