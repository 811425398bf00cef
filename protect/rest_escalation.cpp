#include "protect/rest_escalation.h"

#include <cstddef>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/lid_close_action.h"
#include "common/platform.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"
#include "protect/external_display.h"
#include "protect/protection_modes.h"

namespace {

static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) + 3 == kAoAcOffset,
              "AoAc follows FastSystemS4, Hiberboot and WakeAlarmPresent");

constexpr ULONGLONG kLateMs = 2000;
// A hung window is skipped at once; one that answers slowly gets this long.
constexpr UINT kDisplayOffWaitMs = 1000;
constexpr LPARAM kMonitorOff = 2;

SleepCapabilities g_machine = {};
bool g_noWayLogged = false;

DWORD LogFailure(const wchar_t* call, DWORD error) {
    LogFormatted(L"%ls Failed: %d\n", call, static_cast<int>(error));
    return error;
}

void ReportRestFailure(RestKind kind, DWORD error) {
    wchar_t code[16];
    FormatBounded(code, 16, L"%d", static_cast<int>(error));
    ReportKalnixEvent(KALNIX_EVENT_REST_FAILED, {RestKindText(kind), code});
}

// An elevated token holds the shutdown privilege disabled, and SetSuspendState needs it on.
DWORD EnableShutdownPrivilege() {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return LogFailure(L"OPT", GetLastError());
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        return LogFailure(L"LPV", GetLastError());
    // Succeeds also when the token lacks the privilege: the last error tells.
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr))
        return LogFailure(L"ATP", GetLastError());
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? error : LogFailure(L"ATP", error);
}

bool Suspend(bool hibernate) {
    LogMessage(hibernate ? L"Hibernating: the laptop stayed awake with the lid closed"
                         : L"Putting the laptop to sleep: it stayed awake with the lid closed");
    EnableShutdownPrivilege();  // a failure shows again in the call's own error
    if (g_platform.setSuspendState(hibernate, FALSE, FALSE)) return true;
    ReportRestFailure(hibernate ? RestKind::Hibernate : RestKind::Sleep, LogFailure(L"SSS", GetLastError()));
    return false;
}

// Broadcast, as a user's own display-off tool would: every window's default handling asks for
// the display to go off, and a hung one cannot hold Kalnix.
bool TurnDisplayOff() {
    LogMessage(L"Turning the display off for Modern Standby: the laptop stayed awake with the lid closed");
    DWORD_PTR result = 0;
    if (g_platform.sendMessageTimeout(HWND_BROADCAST, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff, SMTO_ABORTIFHUNG,
                                      kDisplayOffWaitMs, &result))
        return true;
    ReportRestFailure(RestKind::DisplayOff, LogFailure(L"SMTO", GetLastError()));
    return false;
}

UINT SecondsToMs(ULONGLONG seconds) {
    ULONGLONG ms = seconds * 1000u;  // at most 2^33 seconds here: no overflow
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

bool OnBattery() {
    SYSTEM_POWER_STATUS status = {};
    return g_platform.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
}

}  // namespace

const wchar_t* RestKindText(RestKind kind) {
    switch (kind) {
    case RestKind::Hibernate: return L"hibernation";
    case RestKind::Sleep: return L"sleep";
    case RestKind::DisplayOff: return L"display off for Modern Standby";
    default: return L"none";
    }
}

RestKind ChooseRestKind(const SleepCapabilities& machine) {
    if (machine.hibernation) return RestKind::Hibernate;
    if (machine.sleepS3 && !machine.modernStandby) return RestKind::Sleep;
    if (machine.modernStandby) return RestKind::DisplayOff;
    return RestKind::None;
}

void ReadSleepCapabilities() {
    g_machine = {};
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (!g_platform.getPwrCapabilities(&capabilities)) {
        LogFailure(L"GPC", GetLastError());
    } else {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&capabilities);
        g_machine.modernStandby = bytes[kAoAcOffset] != 0;
        g_machine.sleepS3 = capabilities.SystemS3 != 0;
        g_machine.hibernation = capabilities.SystemS4 && capabilities.HiberFilePresent;
    }
    LogMessage(g_machine.modernStandby ? L"Sleep: Modern Standby"
               : g_machine.sleepS3     ? L"Sleep: S3"
                                       : L"Sleep: none");
    LogMessage(g_machine.hibernation ? L"Hibernation: available" : L"Hibernation: not available");
}

const SleepCapabilities& MachineSleep() { return g_machine; }

UINT RestDelayMs(const RestSituation& s) {
    if (s.restAfterSeconds == 0) return 0;
    bool displayKeepsAwake = s.externalDisplayInUse && !s.alarmWithExternalDisplay;
    if (s.mode == kModeLidAlarm) {
        // The alarm itself stays quiet then; a ringing alarm has found no such display.
        if (displayKeepsAwake && s.lidCloseDoesNothing) return 0;
        return SecondsToMs(s.alarmSilent ? s.alarmSeconds : s.restAfterSeconds);
    }
    if (s.mode == kModeAutoProtection) {
        // A laptop run closed on mains with Do nothing, or docked, is meant to stay awake.
        if (s.lidCloseDoesNothing || displayKeepsAwake) return 0;
        return SecondsToMs(static_cast<ULONGLONG>(s.alarmSeconds) + s.restAfterSeconds);
    }
    return 0;
}

RestSituation CurrentRestSituation(int mode, int alarmSeconds, bool alarmSilent) {
    RestSituation s = {};
    s.mode = mode;
    s.alarmSeconds = static_cast<DWORD>(alarmSeconds);
    s.alarmSilent = alarmSilent;
    DWORD value = 0;
    if (ReadSettingDwordQuietly(L"RestAfter", &value)) s.restAfterSeconds = value;
    value = 0;
    s.alarmWithExternalDisplay = ReadSettingDwordQuietly(L"AlarmWithExternalDisplay", &value) && value == 1;
    if (s.restAfterSeconds == 0) return s;  // nothing else matters: spare the queries
    DWORD action = kLidCloseSleep;
    const wchar_t* failedCall = nullptr;
    // Unreadable counts as a sleep expected, as for the alarm.
    s.lidCloseDoesNothing =
        ReadLidCloseAction(OnBattery(), &action, &failedCall) == ERROR_SUCCESS && action == kLidCloseDoNothing;
    s.externalDisplayInUse = ExternalDisplayInUse();
    return s;
}

bool AlarmIsSilent() {
    BOOL muted = FALSE;
    float volume = 1.0f;
    HRESULT result = g_platform.readSoundOutput(&muted, &volume);
    if (result == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) {
        LogMessage(L"The alarm is silent: no sound device");
        ReportKalnixEvent(KALNIX_EVENT_ALARM_SILENT, {L"no sound device"});
        return true;
    }
    if (FAILED(result)) {
        LogFormatted(L"Sound output unreadable: 0x%08lX\n", static_cast<unsigned long>(result));
        return false;
    }
    if (!muted && volume > 0.0f) return false;
    LogMessage(L"The alarm is silent: sound is muted");
    ReportKalnixEvent(KALNIX_EVENT_ALARM_SILENT, {L"sound is muted"});
    return true;
}

RestKind PutToRest() {
    RestKind kind = ChooseRestKind(g_machine);
    bool rested = false;
    switch (kind) {
    case RestKind::Hibernate: rested = Suspend(true); break;
    case RestKind::Sleep: rested = Suspend(false); break;
    case RestKind::DisplayOff: rested = TurnDisplayOff(); break;
    case RestKind::None:
        if (!g_noWayLogged) {
            LogMessage(L"Can't put the laptop to rest: it has neither hibernation nor sleep nor Modern Standby");
            ReportKalnixEvent(KALNIX_EVENT_NO_WAY_TO_REST);
        }
        g_noWayLogged = true;
        break;
    }
    return rested ? kind : RestKind::None;
}

ULONGLONG TickNow() { return g_platform.tickCount64(); }

ULONGLONG DueTick(UINT delayMs) { return TickNow() + delayMs; }

bool RanLate(ULONGLONG dueTick) { return TickNow() > dueTick + kLateMs; }
