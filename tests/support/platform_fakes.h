#pragma once

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "common/platform.h"
#include "support/platform_scope.h"

// Stand-ins for the seam in common/platform.h, each active for the life of a scope.

// One Shell_NotifyIconW call as the shell would have received it.
struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW record;  // the first cbSize bytes as sent, the rest zero
};

// Records every notification-icon call instead of reaching the shell. NIM_ADD answers
// `addResult`; every other request answers TRUE. Recorders may nest; the calls list is shared.
class ShellRecorder {
public:
    explicit ShellRecorder(BOOL addResult = TRUE);
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;
    const std::vector<ShellCall>& Calls() const;
    void Clear();
private:
    PlatformScope platform_;
    BOOL savedAddResult_;
};

// Replaces the token membership check for the scope.
class MembershipOverride {
public:
    using Check = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
    explicit MembershipOverride(Check check);
    ~MembershipOverride();
    MembershipOverride(const MembershipOverride&) = delete;
    MembershipOverride& operator=(const MembershipOverride&) = delete;
private:
    PlatformScope platform_;
};

BOOL WINAPI NotAMember(HANDLE token, PSID sid, PBOOL member);
// Fails the call while claiming membership: a failed check must count as "no".
BOOL WINAPI CheckFailsClaimingMember(HANDLE token, PSID sid, PBOOL member);
