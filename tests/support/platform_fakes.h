#pragma once

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "support/platform_scope.h"

// Stand-ins for the seam (common/seam_*.h), each active for the life of a scope.

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
// states, its sound output and the two clocks (one counts sleep, one does not), with every
// request to rest recorded. Wine reports no sleep states, has no sound output, and neither
// sleeps nor turns a display off; its SetSuspendState returns at once.
enum class RestRequest { Sleep, Hibernate, DisplayOff, Unexpected };

class RestStandin {
public:
    RestStandin();
    ~RestStandin();
    RestStandin(const RestStandin&) = delete;
    RestStandin& operator=(const RestStandin&) = delete;
    // Read when the tray window is created and before every rest. A reduced hibernation file
    // (fast start-up only) cannot hibernate.
    void Machine(bool sleepS3, bool hibernation, bool modernStandby, bool reducedHiberFile = false);
    // The default sound output's answer: S_OK with the mute state and volume, or a failure.
    void Sound(HRESULT result, BOOL muted = FALSE, float volume = 0.5f);
    // The two clocks stand still but where the test moves them: time passes asleep (only the
    // clock that counts sleep moves) or awake (both move). The window timers do not move.
    void Sleep(ULONGLONG ms);
    void Pass(ULONGLONG ms);
    // How long a granted SetSuspendState keeps the laptop asleep before it returns (60 s at
    // first); 0 returns at once without sleeping, as Wine's does.
    void SuspendSleepsFor(ULONGLONG ms);
    // Called inside SetSuspendState, before the sleep: what the program had done by then.
    void DuringSuspend(void (*look)());
    // Every request of this kind fails with this error (0: granted).
    void Refuse(RestRequest kind, DWORD error);
    // On battery with this charge (percent), or on mains power with none (-1).
    void Battery(int percent);
    const std::vector<RestRequest>& Requests() const;
    void ClearRequests();
private:
    PlatformScope platform_;
};

// Who is at the laptop, for the scope: the console's session (this process's at first), whether
// this session is a remote one (not at first), and keyboard or mouse records sent to a window
// as WM_INPUT, from a device or injected by a program (no device). Wine delivers no injected
// input at all, and raw input from no device but the X server's.
class PresenceStandin {
public:
    PresenceStandin();
    ~PresenceStandin();
    PresenceStandin(const PresenceStandin&) = delete;
    PresenceStandin& operator=(const PresenceStandin&) = delete;
    void ConsoleSession(DWORD session);
    void RemoteSession(bool remote);
    // A pointer move of (dx, dy) pixels; Input is one of 40 by 25, a person's.
    void Input(HWND window, bool fromDevice);
    void Move(HWND window, bool fromDevice, LONG dx, LONG dy);
    // A key's press (a repeat is another press without a release between) or release.
    void Key(HWND window, bool fromDevice, USHORT virtualKey, bool release);
    // The record waits in the window's queue instead of being handled now.
    void PostMove(HWND window, bool fromDevice, LONG dx, LONG dy);
private:
    PlatformScope platform_;
};
