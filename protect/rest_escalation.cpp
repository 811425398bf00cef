#include "protect/rest_escalation.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "common/seam_displays.h"
#include "common/seam_power.h"
#include "protect/closure_record.h"
#include "protect/lid_state.h"
#include "protect/protection_host.h"
#include "protect/rest_notices.h"
#include "protect/sleep_clock.h"

namespace {

// Less time asleep than this is no sleep: the two clocks differ by a step or two at most.
constexpr ULONGLONG kLeastSleepMs = 1000;
constexpr LPARAM kMonitorOff = 2;
constexpr int kCauseChars = 256;
constexpr int kSecondsChars = 96;

bool g_noWayLogged = false;

// The display-off request waiting for its effect, with what its event will say.
bool g_displayOffPending = false;
wchar_t g_pendingCause[kCauseChars] = {};
wchar_t g_pendingSeconds[kSecondsChars] = {};

DWORD LogFailure(const wchar_t* call, DWORD error) {
    LogFormatted(L"%ls Failed: %d\n", call, static_cast<int>(error));
    return error;
}

void ReportRestFailure(RestKind kind, const wchar_t* why) {
    ReportKalnixEvent(KALNIX_EVENT_REST_FAILED, {RestKindText(kind), why});
}

void ReportRestError(RestKind kind, DWORD error) {
    wchar_t why[32];
    FormatBounded(why, 32, L"error %d", static_cast<int>(error));
    ReportRestFailure(kind, why);
}

void ReportRest(RestKind kind, const wchar_t* seconds, const wchar_t* cause) {
    ReportKalnixEvent(KALNIX_EVENT_PUT_TO_REST, {RestKindText(kind), seconds, cause[0] ? cause : L"none found"});
}

// An elevated token holds the shutdown privilege disabled, and SetSuspendState needs it on.
void EnableShutdownPrivilege() {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        LogFailure(L"OPT", GetLastError());
        return;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        LogFailure(L"LPV", GetLastError());
        return;
    }
    // Succeeds also when the token lacks the privilege: the last error tells. A failure shows
    // again in the call's own error.
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) LogFailure(L"ATP", GetLastError());
    else if (GetLastError() != ERROR_SUCCESS) LogFailure(L"ATP", GetLastError());
}

// The last look, right before the call: the registry, the displays and the event log were read
// or written since the decision. Only what is queued is looked at (posted lid reports and
// input), so that nothing is handled in the middle of the rest.
bool SomeoneMayBeBack(HWND window) {
    MSG message;
    constexpr UINT kQueued = PM_NOREMOVE | PM_QS_POSTMESSAGE | PM_QS_INPUT;
    if (!PeekMessageW(&message, window, kLidStateMessage, kLidStateMessage, kQueued) &&
        !PeekMessageW(&message, window, WM_INPUT, WM_INPUT, kQueued))
        return false;
    LogMessage(L"The rest is called off at the last moment: a lid report or keyboard or mouse input came in");
    return true;
}

enum class WayResult { Rested, Refused, CalledOff };

// Still running: no standby, and whatever an earlier standby noted stands as it was.
void WithdrawRestNotes(bool suspendNoted) {
    WithdrawLastRest();
    if (suspendNoted) ForgetSuspend();
    NoteResume();
}

WayResult Suspend(HWND window, RestKind kind, const wchar_t* seconds, const wchar_t* cause) {
    bool hibernate = kind == RestKind::Hibernate;
    LogMessage(hibernate ? L"Hibernating: the laptop stayed awake with the lid closed"
                         : L"Putting the laptop to sleep: it stayed awake with the lid closed");
    bool suspendNoted = NoteSuspend();
    NoteRest(kind, cause);
    EnableShutdownPrivilege();
    if (SomeoneMayBeBack(window)) {
        WithdrawRestNotes(suspendNoted);
        return WayResult::CalledOff;
    }
    // After the look, so that a rest called off is never reported: the event's write is all
    // that lies between the look and the call.
    ReportRest(kind, seconds, cause);
    ClockStamp before = ClockNow();
    BOOLEAN called = g_powerSeam.setSuspendState(hibernate, FALSE, FALSE);
    DWORD error = GetLastError();
    if (called && MsAsleepSince(before) >= kLeastSleepMs) {
        NoteClosureRest(kind, cause);
        return WayResult::Rested;
    }
    WithdrawRestNotes(suspendNoted);
    if (!called) {
        ReportRestError(kind, LogFailure(L"SSS", error));
    } else {
        // A driver can veto the sleep after the call has been accepted.
        LogMessage(L"SetSuspendState returned, but the laptop did not sleep");
        ReportRestFailure(kind, L"the laptop did not sleep");
    }
    return WayResult::Refused;
}

bool RequestDisplayOff(HWND window, const wchar_t* seconds, const wchar_t* cause) {
    LogMessage(L"Turning the display off for Modern Standby: the laptop stayed awake with the lid closed");
    if (SomeoneMayBeBack(window)) return false;
    FormatBounded(g_pendingSeconds, kSecondsChars, L"%ls", seconds);
    FormatBounded(g_pendingCause, kCauseChars, L"%ls", cause);
    g_displayOffPending = true;
    // Kalnix's own window, as a user's display-off tool's: no other window is asked, and none
    // can hold Kalnix up.
    g_displaySeam.defWindowProc(window, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff);
    return true;
}

}  // namespace

RestOutcome PutToRest(HWND window, const wchar_t* firstCause) {
    const wchar_t* cause = firstCause ? firstCause : L"";
    RestWays ways = ChooseRestWays(FreshSleepCapabilities());
    if (ways.count == 0) {
        if (!g_noWayLogged) {
            LogMessage(L"Can't put the laptop to rest: it has neither hibernation nor sleep nor Modern Standby");
            ReportKalnixEvent(KALNIX_EVENT_NO_WAY_TO_REST);
        }
        g_noWayLogged = true;
        return RestOutcome::NoWay;
    }
    wchar_t seconds[kSecondsChars];
    FormatSecondsSinceLidClosed(seconds, kSecondsChars);
    for (int i = 0; i < ways.count; ++i) {
        if (ways.kinds[i] == RestKind::DisplayOff)
            return RequestDisplayOff(window, seconds, cause) ? RestOutcome::Pending : RestOutcome::CalledOff;
        switch (Suspend(window, ways.kinds[i], seconds, cause)) {
        case WayResult::Rested: return RestOutcome::Rested;
        case WayResult::CalledOff: return RestOutcome::CalledOff;
        case WayResult::Refused: break;
        }
    }
    return RestOutcome::Failed;
}

bool DisplayOffPending() { return g_displayOffPending; }

void ConfirmDisplayOff() {
    if (!g_displayOffPending) return;
    g_displayOffPending = false;
    NoteRest(RestKind::DisplayOff, g_pendingCause);
    NoteClosureRest(RestKind::DisplayOff, g_pendingCause);
    ReportRest(RestKind::DisplayOff, g_pendingSeconds, g_pendingCause);
}

void DisplayOffUnconfirmed() {
    if (!g_displayOffPending) return;
    g_displayOffPending = false;
    LogMessage(L"The display did not go off and standby did not begin within 15 s: Kalnix stops trying to rest the laptop until the lid opens");
    ReportRestFailure(RestKind::DisplayOff, L"standby did not follow within 15 s");
}

void ForgetDisplayOff() { g_displayOffPending = false; }
