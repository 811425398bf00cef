#include "protect/protection_modes.h"

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "common/platform.h"
#include "common/power_guard.h"
#include "common/settings_store.h"
#include "protect/driver_contract.h"
#include "protect/external_display.h"
#include "protect/lid_monitor.h"
#include "protect/protection_host.h"
#include "protect/rest_escalation.h"
#include "protect/rest_notices.h"
#include "protect/wake_report.h"

namespace {

int g_protectionMode = 0;
int g_alarmDelay = 0;
LidState g_lidState = LidState::Unknown;

// Set whenever the settings are handed down: a lid-close action saved while the mode is not
// 1 is one a run in mode 1 left behind (the mode changed since by policy or /MODE=2), and the
// next tick puts it back rather than leave the user's choice replaced.
bool g_savedActionPending = false;

bool g_alarmArmed = false;
bool g_alarmRinging = false;
bool g_alarmSilent = false;
ULONGLONG g_alarmDue = 0;

// The rest timer: in automatic protection first Watching until the alarm would ring (the wake
// report starts then), then Resting until Kalnix puts the laptop to rest; in lid alarm mode
// Resting from the first tone.
enum class RestPhase { Off, Watching, Resting };
RestPhase g_restPhase = RestPhase::Off;
ULONGLONG g_restDue = 0;

ULONGLONG g_lidClosedTick = 0;
// Once a run: the start event waits for the lid's source to be known; automatic protection
// is reported applied once, not at every hourly tick.
bool g_startReported = false;
bool g_protectionApplied = false;

constexpr UINT kAlarmPeriodMs = 600;
constexpr DWORD kAlarmToneHz = 2000;
constexpr DWORD kAlarmToneMs = 200;

// The unattended-sleep timeout (seconds) in GUID_SLEEP_SUBGROUP.
constexpr GUID kUnattendedSleepSetting = {0x7BC4A2F9, 0xD8FC, 0x4469, {0xB0, 0x7B, 0x33, 0xEB, 0x78, 0x5A, 0xAC, 0xA0}};
// Windows' own unattended timeout, where the scheme cannot be read.
constexpr DWORD kDefaultUnattendedSleepSeconds = 120;
// Time Windows takes, after the timeout, to enter the sleep again.
constexpr DWORD kUnattendedSleepMarginSeconds = 30;

void ArmRestTimer(HWND window, RestPhase phase, UINT delayMs) {
    SetTimer(window, kRestTimer, delayMs, nullptr);
    g_restPhase = phase;
    g_restDue = DueTick(delayMs);
}

void StopRestTimer(HWND window) {
    KillTimer(window, kRestTimer);
    g_restPhase = RestPhase::Off;
}

UINT RestDelayNow(bool alarmSilent) {
    return RestDelayMs(CurrentRestSituation(g_protectionMode, g_alarmDelay, alarmSilent));
}

// With the lid closed, where a sleep is expected now: the lid alarm (lid alarm mode, and no
// external display in use, docked or used closed, with which no sleep can fail), or
// automatic protection's silent watch (where RestAfter asks for it).
void WatchClosedLid(HWND window, UINT delayMs) {
    if (g_lidState != LidState::Closed) return;
    if (g_protectionMode == kModeLidAlarm && !ExternalDisplayKeepsAlarmQuiet()) ArmLidAlarm(window, delayMs);
    else if (g_protectionMode == kModeAutoProtection && RestDelayNow(false) != 0)
        ArmRestTimer(window, RestPhase::Watching, delayMs);
}

// A timer that fires long after it was due slept with the program: a sleep and a wake.
void OnLateTimer(HWND window) {
    LogMessage(L"A timer ran late: the program was suspended or the laptop slept");
    StopLidAlarm(window);
    WatchClosedLid(window, AlarmDelayMs(g_alarmDelay));
}

// A ringing alarm ends: said once, since a stopped alarm is no longer armed.
void EndAlarm(HWND window, const wchar_t* reason) {
    if (g_alarmArmed && g_alarmRinging) ReportKalnixEvent(KALNIX_EVENT_ALARM_ENDED, {reason});
    StopLidAlarm(window);
}

void KeepRinging(HWND window) {
    SetTimer(window, kAlarmTimer, kAlarmPeriodMs, nullptr);
    g_alarmArmed = true;
    g_alarmDue = DueTick(kAlarmPeriodMs);
}

void RestNow(HWND window) {
    // Where no way exists the alarm rings on undisturbed.
    bool ringing = g_protectionMode == kModeLidAlarm && ChooseRestKind(MachineSleep()) != RestKind::None;
    if (ringing) StopLidAlarm(window);  // no tone while the laptop goes to rest
    RestKind kind = PutToRest();
    if (kind == RestKind::None) {
        // The call failed: the alarm is all there is.
        if (ringing) KeepRinging(window);
        return;
    }
    if (ringing) ReportKalnixEvent(KALNIX_EVENT_ALARM_ENDED, {L"Kalnix put the laptop to rest"});
    NoteRest(kind, LastWakeCause());
    wchar_t seconds[24];
    FormatBounded(seconds, 24, L"%u", SecondsSinceLidClosed());
    ReportKalnixEvent(KALNIX_EVENT_PUT_TO_REST,
                      {RestKindText(kind), seconds, LastWakeCause()[0] ? LastWakeCause() : L"none found"});
    // A standby that never comes is caught again; a real one stops this at its suspend.
    WatchClosedLid(window, AlarmDelayMs(g_alarmDelay));
}

// After a wake without a user (a wake timer, a device), Windows sleeps again by itself once
// its unattended-sleep timeout has run: the alarm waits for that, and rings only when even
// that sleep fails. A timeout of 0 means Windows will not sleep again unattended.
UINT UnattendedWakeDelayMs() {
    SYSTEM_POWER_STATUS status = {};
    bool onBattery = g_platform.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    DWORD seconds = kDefaultUnattendedSleepSeconds;
    if (ReadActiveSchemeSetting(kSleepSubgroup, kUnattendedSleepSetting, onBattery, &seconds) != ERROR_SUCCESS)
        seconds = kDefaultUnattendedSleepSeconds;
    UINT alarmMs = AlarmDelayMs(g_alarmDelay);
    if (seconds == 0) return alarmMs;
    // Capped before the sum, so that no stored value overflows.
    DWORD capped = seconds > USER_TIMER_MAXIMUM / 1000 ? USER_TIMER_MAXIMUM / 1000 : seconds;
    UINT unattendedMs = AlarmDelayMs(static_cast<int>(capped + kUnattendedSleepMarginSeconds));
    return unattendedMs > alarmMs ? unattendedMs : alarmMs;
}

}  // namespace

void SetProtectionSettings(int mode, int alarmDelaySeconds) {
    g_protectionMode = mode;
    g_alarmDelay = alarmDelaySeconds;
    g_savedActionPending = true;
}

int ProtectionMode() { return g_protectionMode; }

int AlarmDelaySeconds() { return g_alarmDelay; }

LidState LidStateFromValue(ULONG_PTR value) {
    if (value == kLidClosed) return LidState::Closed;
    if (value == kLidOpen) return LidState::Open;
    return LidState::Unknown;
}

void ReportLidState(HWND window, LidState state) {
    if (state == LidState::Unknown) return;
    g_lidState = state;
    if (state == LidState::Closed) {
        g_lidClosedTick = TickNow();
        return WatchClosedLid(window, AlarmDelayMs(g_alarmDelay));
    }
    EndAlarm(window, L"the lid opened");
    ShowRestNotices();
}

void ReportStartingLidState(LidState state) {
    if (state != LidState::Unknown) g_lidState = state;
}

UINT AlarmDelayMs(int alarmDelaySeconds) {
    // AlarmTime is a stored DWORD: read the bits back as unsigned, multiply in 64 bits and
    // cap at the longest interval a window timer takes, so no stored value overflows.
    unsigned long long ms = static_cast<unsigned long long>(static_cast<DWORD>(alarmDelaySeconds)) * 1000u;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

namespace {

// A standby that never reaches its low-power state ends in hibernation after HibernateAfter
// minutes on battery; a laptop that cannot hibernate, or a setting of 0, gets its own back.
void GuardHibernateTimeout() {
    DWORD minutes = 0;
    ReadSettingDwordQuietly(L"HibernateAfter", &minutes);
    if (MachineSleep().hibernation && minutes != 0) EnforceHibernateTimeout(minutes);
    else RestoreHibernateTimeout();
}

}  // namespace

void StartProtectionRun() {
    g_startReported = false;
    g_protectionApplied = false;
    ReadSleepCapabilities();
    ClearRestNotices();
}

void ReportLidSource(LidSource source) {
    if (g_startReported) return;
    g_startReported = true;
    const wchar_t* mode = g_protectionMode == kModeAutoProtection ? L"automatic protection"
                          : g_protectionMode == kModeLidAlarm     ? L"lid alarm"
                                                                  : L"no protection";
    const wchar_t* lid = source == LidSource::Driver                 ? L"the lid-sensor driver"
                         : source == LidSource::WindowsNotifications ? L"Windows' notifications"
                                                                     : L"nothing (no lid reported)";
    const SleepCapabilities& machine = MachineSleep();
    const wchar_t* sleep = machine.modernStandby ? L"Modern Standby" : machine.sleepS3 ? L"S3" : L"none";
    wchar_t delay[16];
    FormatBounded(delay, 16, L"%u", static_cast<unsigned>(g_alarmDelay));
    ReportKalnixEvent(KALNIX_EVENT_STARTED,
                      {mode, delay, lid, sleep, machine.hibernation ? L"available" : L"not available"});
}

unsigned SecondsSinceLidClosed() {
    ULONGLONG seconds = (TickNow() - g_lidClosedTick) / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(seconds);
}

void ApplyAutoProtection() {
    if (!g_protectionApplied) ReportKalnixEvent(KALNIX_EVENT_PROTECTION_APPLIED);
    g_protectionApplied = true;
    ForcePowerSettings();
    // The legacy flags mean nothing since Windows Vista; a lid-close action of Do nothing does.
    EnforceLidCloseSleep();
    GuardHibernateTimeout();
    SendLidControlRequest(kRequestProtectionApplied);
}

void ReleaseAutoProtection() {
    // Without a run in automatic protection there was nothing of this run's to put back.
    bool restored = RestorePowerSettings();
    if (g_protectionApplied)
        ReportKalnixEvent(restored ? KALNIX_EVENT_PROTECTION_RELEASED : KALNIX_EVENT_SETTINGS_NOT_RESTORED);
    g_protectionApplied = false;
    SendLidControlRequest(kRequestProtectionReleased);
}

void OnProtectionTick(HWND) {
    if (g_protectionMode == kModeAutoProtection) ApplyAutoProtection();
    else if (g_savedActionPending) {
        // Keeps a choice the user made since.
        bool actionBack = RestoreLidCloseAction();
        if (!RestoreHibernateTimeout() || !actionBack) ReportKalnixEvent(KALNIX_EVENT_SETTINGS_NOT_RESTORED);
    }
    g_savedActionPending = false;
    if (g_protectionHost.refreshIcon) g_protectionHost.refreshIcon();
}

void OnLidClosePolicyChange() {
    if (g_protectionMode == kModeAutoProtection) EnforceLidCloseSleep();
}

void OnAlarmTick(HWND window) {
    if (g_alarmArmed && RanLate(g_alarmDue)) return OnLateTimer(window);
    // Re-armed before the tone: the next tick is counted from now, not from the tone's end.
    KeepRinging(window);
    g_platform.beep(kAlarmToneHz, kAlarmToneMs);
    if (g_alarmRinging) return;
    // At the first tone, find out why the machine stayed awake (off this thread, so that no
    // tone waits for it), and whether anyone can hear it.
    g_alarmRinging = true;
    StartWakeReport(window);
    g_alarmSilent = AlarmIsSilent();
    UINT restMs = RestDelayNow(g_alarmSilent);
    if (restMs != 0) ArmRestTimer(window, RestPhase::Resting, restMs);
}

void OnRestTick(HWND window) {
    RestPhase phase = g_restPhase;
    StopRestTimer(window);
    if (phase == RestPhase::Off) return;
    if (RanLate(g_restDue)) return OnLateTimer(window);
    if (g_lidState != LidState::Closed) return;
    if (g_protectionMode == kModeLidAlarm && !g_alarmRinging) return;
    // The settings, the lid-close action and the displays may have changed meanwhile.
    UINT restMs = RestDelayNow(g_alarmSilent);
    if (restMs == 0) return;
    if (phase == RestPhase::Resting) return RestNow(window);
    // Automatic protection at the moment the alarm would ring: what keeps the laptop awake
    // goes to the log, and the rest follows after RestAfter.
    StartWakeReport(window);
    UINT alarmMs = AlarmDelayMs(g_alarmDelay);
    ArmRestTimer(window, RestPhase::Resting, restMs > alarmMs ? restMs - alarmMs : 0);
}

void OnSuspend(HWND window) {
    EndAlarm(window, L"the laptop went to sleep");
    NoteSuspend();
}

void OnResume(HWND window, ResumeKind kind) {
    NoteResume();
    UINT delayMs = kind == ResumeKind::Unattended ? UnattendedWakeDelayMs() : AlarmDelayMs(g_alarmDelay);
    WatchClosedLid(window, delayMs);
    if (g_lidState == LidState::Open) ShowRestNotices();
}

void OnDisplayTurnedOn(HWND window) {
    // In a bag the display comes on only by a wake nobody asked for.
    if (g_lidState == LidState::Closed && !ExternalDisplayInUse()) WatchClosedLid(window, UnattendedWakeDelayMs());
}

void OnDisplayChange(HWND window) {
    if (g_protectionMode != kModeLidAlarm || g_lidState != LidState::Closed) return;
    if (ExternalDisplayKeepsAlarmQuiet()) EndAlarm(window, L"an external display is in use");
    else if (!g_alarmArmed) ArmLidAlarm(window);  // the last external display has gone
}

void ArmLidAlarm(HWND window) { ArmLidAlarm(window, AlarmDelayMs(g_alarmDelay)); }

void ArmLidAlarm(HWND window, UINT delayMs) {
    // Replaces an armed or ringing alarm: the full delay starts again, and with its first
    // tone the wait for a rest.
    StopRestTimer(window);
    SetTimer(window, kAlarmTimer, delayMs, nullptr);
    g_alarmArmed = true;
    g_alarmRinging = false;
    g_alarmDue = DueTick(delayMs);
}

void StopLidAlarm(HWND window) {
    KillTimer(window, kAlarmTimer);
    g_alarmArmed = false;
    StopRestTimer(window);  // a rest follows only a ringing alarm
}
