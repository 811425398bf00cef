#include "protect/protection_modes.h"

#include "common/applied_setting.h"
#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/hibernate_timeout.h"
#include "common/lid_close_action.h"
#include "common/power_guard.h"
#include "common/wake_timers.h"
#include "protect/closed_lid_watch.h"
#include "protect/closure_record.h"
#include "protect/driver_contract.h"
#include "protect/external_display.h"
#include "protect/lid_monitor.h"
#include "protect/presence.h"
#include "protect/protection_state.h"
#include "protect/rest_notices.h"
#include "protect/sleep_capabilities.h"
#include "protect/user_hold.h"
#include "protect/wake_choices.h"
#include "protect/wake_finding.h"

static_assert(ResumeKind{} == ResumeKind::Unattended, "a run awaits no resume with a user");

namespace {

ModesState& Modes() { return g_protection.run.modes; }

// The closure's line is written last: the standby's drain is known only once the notices
// have looked at the battery.
void OnLidOpen(HWND window) {
    EndClosure(window, L"the lid opened");
    ShowRestNotices();
    EndClosureRecord();
}

// A standby that never reaches its low-power state ends in hibernation after HibernateAfter
// minutes on battery; a laptop that cannot hibernate now, or a setting of 0, gets its own
// back. Where Windows hibernates at an adaptive threshold, its timeout of 0 means that, not
// never, and stays.
void GuardHibernateTimeout() {
    DWORD minutes = 0;
    ReadAppliedSettingDword(SettingId::HibernateAfter, &minutes, LocalRead::Quiet);
    SleepCapabilities machine = FreshSleepCapabilities();
    if (!machine.hibernation || minutes == 0) {
        RestoreHibernateTimeout();
        return;
    }
    bool adaptive = ZeroHibernateTimeoutIsAdaptive(machine);
    if (adaptive && !Modes().adaptiveHibernateLogged)
        LogMessage(L"Hibernate-after timeout on battery: 0 is Windows' adaptive hibernation here and is left to Windows");
    Modes().adaptiveHibernateLogged = adaptive;
    EnforceHibernateTimeout(minutes, adaptive);
}

// Woken with the lid closed. Windows applies the lid-close action only when the lid moves, so
// the laptop stays awake either way. Nobody there (a wake timer, a device): the watch waits
// for Windows' own unattended sleep first. Someone there: a docked user, or a power button
// pressed in a bag; the displays tell which once they have settled, whatever
// AlarmWithExternalDisplay says (it is about rings while a display is in use, not about a
// person who has just woken the laptop).
void OnClosedResume(HWND window, ResumeKind kind) {
    StartWakeFinding(window);
    int mode = ProtectionMode();
    if (mode != kModeLidAlarm && mode != kModeAutoProtection) return;
    if (kind == ResumeKind::Unattended) return WatchClosedLid(window, UnattendedWakeDelayMs());
    StopLidAlarm(window);
    StartInputWatch(window);
    BeginHoldDecision(window);
}

// A wake timer that fires in a bag wakes a laptop whose lid does not move: on battery,
// automatic protection turns wake timers off where WakeTimersOffOnBattery says so, and puts
// the user's value back where it no longer does.
void GuardWakeTimers() {
    DWORD off = 0;
    ReadAppliedSettingDword(SettingId::WakeTimersOffOnBattery, &off, LocalRead::Quiet);
    if (off == 1) EnforceWakeTimersOff();
    else RestoreWakeTimers();
}

// How the resume came while the lid's state was asked anew after Kalnix's own rest, applied
// when the answer comes: with a user if any of its notifications said so.
void ForgetAwaitedResume() { Modes().awaitingResume = ResumeKind::Unattended; }

}  // namespace

void ReportLidState(HWND window, LidState state) {
    if (state == LidState::Unknown) return;
    ForgetAwaitedResume();
    if (state == LidState::Open) {
        NoteLidState(state);
        return OnLidOpen(window);
    }
    NoteLidClosed(ClosureStart::Seen);
    StartClosure(window);
}

void ReportStartingLidState(LidState state) {
    ForgetAwaitedResume();
    if (state == LidState::Closed) NoteLidClosed(ClosureStart::AtStart);
    else if (state == LidState::Open) NoteLidState(state);
}

void ReportLidStateOnRequest(HWND window, LidState state) {
    if (state == LidState::Unknown) return;
    ResumeKind kind = Modes().awaitingResume;
    ForgetAwaitedResume();
    NoteLidState(state);
    if (state == LidState::Open) return OnLidOpen(window);
    // Still closed after the wake: the same closure goes on, as after any other resume.
    OnClosedResume(window, kind);
}

void StartProtectionRun() { Modes().machine = ReadSleepCapabilities(); }

const SleepCapabilities& MachineSleep() { return Modes().machine; }

void ReportLidSource(LidSource source) {
    if (Modes().startReported) return;
    Modes().startReported = true;
    int protectionMode = ProtectionMode();
    const wchar_t* mode = protectionMode == kModeAutoProtection ? L"automatic protection"
                          : protectionMode == kModeLidAlarm     ? L"lid alarm"
                                                                : L"no protection";
    const wchar_t* lid = source == LidSource::Driver                 ? L"the lid-sensor driver"
                         : source == LidSource::WindowsNotifications ? L"Windows' notifications"
                                                                     : L"nothing (no lid reported)";
    const SleepCapabilities& machine = MachineSleep();
    const wchar_t* sleep = machine.modernStandby ? L"Modern Standby" : machine.sleepS3 ? L"S3" : L"none";
    wchar_t delay[16];
    FormatBounded(delay, 16, L"%u", static_cast<unsigned>(AlarmDelaySeconds()));
    ReportKalnixEvent(KALNIX_EVENT_STARTED,
                      {mode, delay, lid, sleep, machine.hibernation ? L"available" : L"not available"});
}

void ApplyAutoProtection() {
    if (!Modes().protectionApplied) ReportKalnixEvent(KALNIX_EVENT_PROTECTION_APPLIED);
    Modes().protectionApplied = true;
    ForcePowerSettings();
    // The legacy flags mean nothing since Windows Vista; a lid-close action of Do nothing does.
    EnforceLidCloseSleep();
    GuardHibernateTimeout();
    GuardWakeTimers();
    SendLidControlRequest(kRequestProtectionApplied);
}

void ReleaseAutoProtection() {
    // Without a run in automatic protection there was nothing of this run's to put back.
    bool restored = RestoreForcedPowerSettings();
    if (Modes().protectionApplied)
        ReportKalnixEvent(restored ? KALNIX_EVENT_PROTECTION_RELEASED : KALNIX_EVENT_SETTINGS_NOT_RESTORED);
    Modes().protectionApplied = false;
    SendLidControlRequest(kRequestProtectionReleased);
}

void OnProtectionTick(HWND window) {
    bool savedActionPending = TakeSavedActionPending();
    if (ProtectionMode() == kModeAutoProtection) ApplyAutoProtection();
    else if (savedActionPending) {
        // Keeps a choice the user made since.
        bool actionBack = RestoreLidCloseAction();
        bool timeoutBack = RestoreHibernateTimeout();
        if (!RestoreWakeTimers() || !timeoutBack || !actionBack) ReportKalnixEvent(KALNIX_EVENT_SETTINGS_NOT_RESTORED);
    }
    // The machine's wake settings an administrator chose hold in every mode.
    ApplyWakeChoices(window);
    if (Host().stateChanged) Host().stateChanged();
}

void TakeWakeChoices() {
    if (!g_protection.run.running) return;
    if (ProtectionMode() == kModeAutoProtection && Host().changesPowerPolicy) GuardWakeTimers();
    ApplyWakeChoices(Host().window);
}

void ChangeProtectionSettings(int mode, int alarmDelaySeconds) {
    if (mode == kModeAutoProtection) ApplyAutoProtection();
    else ReleaseAutoProtection();
    SetProtectionSettings(mode, alarmDelaySeconds);
}

void OnLidClosePolicyChange() {
    if (ProtectionMode() == kModeAutoProtection) EnforceLidCloseSleep();
}

void OnPowerSourceChange(HWND window, bool toBattery) {
    OnLidClosePolicyChange();
    // The battery's lid-close action is in force now, and Windows applies it only when the
    // lid moves: a closed laptop unplugged is watched from now.
    if (toBattery && !ClosedLidWatched()) WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}

void OnSuspend(HWND window) {
    // A display-off rest is followed by the standby it asked for.
    ConfirmPendingRest(window);
    NoteClosureSleep();
    EndAlarm(window, L"the laptop went to sleep");
    NoteSuspend();
    // Whoever was held for, the next resume tells anew who is there.
    EndHold(window);
    ForgetAwaitedResume();
}

void OnResume(HWND window, ResumeKind kind) {
    NoteResume();
    LidState lid = CurrentLidState();
    if (lid == LidState::Open) return ShowRestNotices();
    if (lid == LidState::Closed) return OnClosedResume(window, kind);
    // Asked anew after Kalnix's own rest: kept for the answer.
    if (kind == ResumeKind::WithUser) Modes().awaitingResume = kind;
}

void OnHoldSettleTick(HWND window) {
    if (!HoldSettleDue(window)) return;
    if (CurrentLidState() != LidState::Closed) return EndHold(window);
    switch (SettleHold(window, DisplaysNow())) {
    case HoldOutcome::NotHeld: return WatchClosedLid(window, UnattendedWakeDelayMs());
    case HoldOutcome::LeftLaptop: return WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
    case HoldOutcome::Held:
    case HoldOutcome::Waiting: return;
    }
}

void OnDisplayTurnedOn(HWND window) {
    // In a bag the display comes on only by a wake nobody asked for; from another session, or
    // with a layout that cannot be read, it says nothing about the laptop.
    if (CurrentLidState() != LidState::Closed || !SpeaksForConsole()) return;
    if (DisplaysNow() != Displays::LaptopOnly) return;
    StartWakeFinding(window);
    WatchClosedLid(window, UnattendedWakeDelayMs());
}

void OnDisplayTurnedOff(HWND window) { ConfirmPendingRest(window); }

void OnDisplayChange(HWND window) {
    // With the lid open nothing is watched, and the displays need no reading.
    if (CurrentLidState() != LidState::Closed) return;
    // Held for someone: the layout is judged once it has settled, so that a blink ends nothing.
    if (HoldActive()) return RecheckHold(window);
    if (ExternalDisplayKeepsAlarmQuiet()) return EndAlarm(window, L"an external display is in use");
    // The last external display gone: a closed laptop that should now sleep is watched from
    // now; a change that leaves the watch armed leaves it alone.
    if (!ClosedLidWatched()) WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}
