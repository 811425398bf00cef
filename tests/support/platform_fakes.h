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

// What a closed laptop can do instead of staying awake, for the scope: the machine's sleep
// states, its sound output and a clock that counts sleep, with every request to rest recorded.
// Wine reports no sleep states, has no sound output, and neither sleeps nor turns a display off.
enum class RestRequest { Sleep, Hibernate, DisplayOff, UnexpectedBroadcast };

class RestStandin {
public:
    RestStandin();
    ~RestStandin();
    RestStandin(const RestStandin&) = delete;
    RestStandin& operator=(const RestStandin&) = delete;
    // Read by the tray window when it is created.
    void Machine(bool sleepS3, bool hibernation, bool modernStandby);
    // The default sound output's answer: S_OK with the mute state and volume, or a failure.
    void Sound(HRESULT result, BOOL muted = FALSE, float volume = 0.5f);
    // A sleep the program did not see: the clock moves on, the window timers do not.
    void Sleep(ULONGLONG ms);
    // Every rest call fails with this error (0: succeeds).
    void FailWith(DWORD error);
    // On battery with this charge (percent), or on mains power with none (-1).
    void Battery(int percent);
    const std::vector<RestRequest>& Requests() const;
    void ClearRequests();
private:
    PlatformScope platform_;
};
