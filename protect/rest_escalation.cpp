#include "protect/rest_escalation.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "common/seam_displays.h"
#include "common/seam_power.h"
#include "protect/closure_record.h"
#include "protect/lid_state.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"
#include "protect/rest_notices.h"
#include "protect/sleep_clock.h"

namespace {

// Less time asleep than this is no sleep: the two clocks differ by a step or two at most.
constexpr ULONGLONG kLeastSleepMs = 1000;

RestState& Rest() { return g_protection.run.rest; }

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

enum class DisplayOffResult { Requested, Unavailable, CalledOff };

DisplayOffResult RequestDisplayOff(HWND window, const wchar_t* seconds, const wchar_t* cause, bool ringing) {
    LogMessage(L"Turning the display off for Modern Standby: the laptop stayed awake with the lid closed");
    if (SomeoneMayBeBack(window)) return DisplayOffResult::CalledOff;
    DisplayOffRest& rest = Rest().displayOff;
    FormatBounded(rest.seconds, kRestSecondsChars, L"%ls", seconds);
    FormatBounded(rest.cause, kRestCauseChars, L"%ls", cause);
    rest.ringingBefore = ringing;
    // Pending before the request: the display may report itself off while it is made.
    rest.pending = true;
    const ProtectionHost& host = Host();
    if (host.requestDisplayOff && host.requestDisplayOff(window)) {
        if (rest.pending) {
            SetTimer(window, kRestConfirmTimer, kDisplayOffConfirmMs, nullptr);
            rest.confirmDue = ArmedNow(kDisplayOffConfirmMs);
        }
        return DisplayOffResult::Requested;
    }
    rest.pending = false;
    if (!Rest().displayOffUnavailableLogged)
        LogMessage(L"Can't turn the display off for Modern Standby: the laptop's display cannot be reached");
    Rest().displayOffUnavailableLogged = true;
    return DisplayOffResult::Unavailable;
}

void EndDisplayOffWait(HWND window) {
    KillTimer(window, kRestConfirmTimer);
    Rest().displayOff.pending = false;
}

}  // namespace

RestOutcome PutToRest(HWND window, const wchar_t* firstCause, bool ringing) {
    const wchar_t* cause = firstCause ? firstCause : L"";
    RestWays ways = ChooseRestWays(FreshSleepCapabilities());
    if (ways.count == 0) {
        if (!Rest().noWayLogged) {
            LogMessage(L"Can't put the laptop to rest: it has neither hibernation nor sleep nor Modern Standby");
            ReportKalnixEvent(KALNIX_EVENT_NO_WAY_TO_REST);
        }
        Rest().noWayLogged = true;
        return RestOutcome::NoWay;
    }
    wchar_t seconds[kRestSecondsChars];
    FormatSecondsSinceLidClosed(seconds, kRestSecondsChars);
    for (int i = 0; i < ways.count; ++i) {
        if (ways.kinds[i] == RestKind::DisplayOff) {
            switch (RequestDisplayOff(window, seconds, cause, ringing)) {
            case DisplayOffResult::Requested: return RestOutcome::Pending;
            case DisplayOffResult::CalledOff: return RestOutcome::CalledOff;
            case DisplayOffResult::Unavailable: continue;
            }
        }
        switch (Suspend(window, ways.kinds[i], seconds, cause)) {
        case WayResult::Rested: return RestOutcome::Rested;
        case WayResult::CalledOff: return RestOutcome::CalledOff;
        case WayResult::Refused: break;
        }
    }
    return RestOutcome::Failed;
}

void StartClosureRests(HWND window) {
    ForgetDisplayOff(window);
    Rest().displayOffUnavailableLogged = false;
}

DisplayOffCheck CheckDisplayOff(HWND window, bool* ringingBefore) {
    DisplayOffRest& rest = Rest().displayOff;
    *ringingBefore = rest.ringingBefore;
    if (!rest.pending) {
        KillTimer(window, kRestConfirmTimer);
        return DisplayOffCheck::Waiting;
    }
    UINT remainingMs = 0;
    switch (CheckTimer(rest.confirmDue, &remainingMs)) {
    case TimerCheck::Early: SetTimer(window, kRestConfirmTimer, remainingMs, nullptr); return DisplayOffCheck::Waiting;
    // The laptop slept meanwhile, though no suspend was heard of: the standby came.
    case TimerCheck::Slept: return ConfirmDisplayOff(window, ringingBefore) ? DisplayOffCheck::Confirmed
                                                                             : DisplayOffCheck::Waiting;
    case TimerCheck::Due: break;
    }
    EndDisplayOffWait(window);
    LogMessage(L"The display did not go off and standby did not begin within 15 s: Kalnix stops trying to rest the laptop until the lid opens");
    ReportRestFailure(RestKind::DisplayOff, L"standby did not follow within 15 s");
    return DisplayOffCheck::Unconfirmed;
}

bool ConfirmDisplayOff(HWND window, bool* ringingBefore) {
    DisplayOffRest& rest = Rest().displayOff;
    *ringingBefore = rest.ringingBefore;
    if (!rest.pending) return false;
    EndDisplayOffWait(window);
    rest.ringingBefore = false;
    NoteRest(RestKind::DisplayOff, rest.cause);
    NoteClosureRest(RestKind::DisplayOff, rest.cause);
    ReportRest(RestKind::DisplayOff, rest.seconds, rest.cause);
    return true;
}

void ForgetDisplayOff(HWND window) {
    EndDisplayOffWait(window);
    Rest().displayOff.ringingBefore = false;
}
