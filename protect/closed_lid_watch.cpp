#include "protect/closed_lid_watch.h"

#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/hibernate_timeout.h"
#include "common/scheme_setting_guard.h"
#include "common/seam_power.h"
#include "protect/closure_record.h"
#include "protect/external_display.h"
#include "protect/lid_state.h"
#include "protect/presence.h"
#include "protect/protection_messages.h"
#include "protect/protection_settings.h"
#include "protect/protection_state.h"
#include "protect/rest_decision.h"
#include "protect/rest_escalation.h"
#include "protect/rest_notices.h"
#include "protect/sleep_clock.h"
#include "protect/user_hold.h"
#include "protect/wake_finding.h"
#include "protect/wake_report.h"

namespace {

constexpr UINT kAlarmPeriodMs = 600;
constexpr DWORD kAlarmToneHz = 2000;
constexpr DWORD kAlarmToneMs = 200;

// The unattended-sleep timeout (seconds) in GUID_SLEEP_SUBGROUP.
constexpr GUID kUnattendedSleepSetting = {0x7BC4A2F9, 0xD8FC, 0x4469, {0xB0, 0x7B, 0x33, 0xEB, 0x78, 0x5A, 0xAC, 0xA0}};
// Windows' own unattended timeout, where the scheme cannot be read.
constexpr DWORD kDefaultUnattendedSleepSeconds = 120;
// Time Windows takes, after the timeout, to enter the sleep again.
constexpr DWORD kUnattendedSleepMarginSeconds = 30;
// A rest called off at the last moment is decided again once the queue has been handled.
constexpr UINT kCalledOffRestMs = 1000;

WatchState& Watch() { return g_protection.run.watch; }

bool InLidAlarmMode() { return ProtectionMode() == kModeLidAlarm; }

bool AlarmRingingNow() { return Watch().alarmArmed && Watch().alarmRinging; }

// The record of the closure adds up how long the alarm sounded.
void SetRinging(bool ringing) {
    if (ringing != Watch().alarmRinging) NoteAlarmRinging(ringing);
    Watch().alarmRinging = ringing;
}

void ArmRestTimer(HWND window, RestPhase phase, UINT delayMs) {
    SetTimer(window, kRestTimer, delayMs, nullptr);
    Watch().restPhase = phase;
    Watch().restDue = ArmedNow(delayMs);
}

void StopRestTimer(HWND window) {
    KillTimer(window, kRestTimer);
    Watch().restPhase = RestPhase::Off;
}

RestSituation SituationNow(bool alarmSilent) {
    // With the rest off, neither the displays (which may take a query through WMI) nor who is
    // there matter.
    Displays displays = Displays::Unreadable;
    PresenceSeen presence = {false, kNoInputSeen};
    if (!RestIsOff() && !HoldActive()) {
        displays = DisplaysNow();
        presence = PresenceNow();
    }
    return CurrentRestSituation(ProtectionMode(), AlarmDelaySeconds(), alarmSilent, HoldActive(), displays, presence);
}

UINT RestDelayNow(bool alarmSilent) { return RestDelayMs(SituationNow(alarmSilent)); }

void KeepRinging(HWND window) {
    SetTimer(window, kAlarmTimer, kAlarmPeriodMs, nullptr);
    Watch().alarmArmed = true;
    Watch().alarmDue = ArmedNow(kAlarmPeriodMs);
}

// The alarm is all there is: it rings until the lid opens, and no further rest is tried now.
void RingOn(HWND window, bool ringing) {
    Watch().restGivenUp = true;
    if (!ringing) return;
    KeepRinging(window);
    SetRinging(true);
}

// A timer that finds the laptop slept since it was armed: a sleep and a wake.
void OnLateTimer(HWND window) {
    LogMessage(L"A timer ran late: the laptop slept");
    NoteClosureSleep();
    StopLidAlarm(window);
    WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}

// True when the tick is one to act on; an early tick waits out the rest of its time.
bool TickIsDue(HWND window, UINT_PTR timer, const TimerDue& due) {
    UINT remainingMs = 0;
    switch (CheckTimer(due, &remainingMs)) {
    case TimerCheck::Due: return true;
    case TimerCheck::Early: SetTimer(window, timer, remainingMs, nullptr); return false;
    case TimerCheck::Slept: OnLateTimer(window); return false;
    }
    return false;
}

// SetSuspendState returned after the wake: the lid may have opened to wake the laptop, so its
// state is asked anew rather than taken from before the sleep.
void OnRestedAndWoken(HWND window, bool ringing) {
    if (ringing) ReportKalnixEvent(KALNIX_EVENT_ALARM_ENDED, {L"Kalnix put the laptop to rest"});
    NoteResume();
    if (Host().requestLidReport && Host().requestLidReport()) {
        NoteLidState(LidState::Unknown);
        return;
    }
    WatchClosedLid(window, UnattendedWakeDelayMs());
}

// The display went off or the standby began after Kalnix's request.
void OnDisplayOffRest(HWND window, bool ringingBefore) {
    if (ringingBefore) ReportKalnixEvent(KALNIX_EVENT_ALARM_ENDED, {L"Kalnix put the laptop to rest"});
    // A standby that never comes is caught again; a real one stops this at its suspend.
    WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}

void RestNow(HWND window) {
    bool ringing = InLidAlarmMode() && AlarmRingingNow();
    StopLidAlarm(window);  // no tone while the laptop goes to rest
    switch (PutToRest(window, LastWakeCause(), ringing)) {
    case RestOutcome::Rested: return OnRestedAndWoken(window, ringing);
    case RestOutcome::Pending: return;
    case RestOutcome::Failed:
    case RestOutcome::NoWay: return RingOn(window, ringing);
    // The lid report or the input is handled first; then the rest is decided again.
    case RestOutcome::CalledOff:
        if (ringing) {
            KeepRinging(window);
            SetRinging(true);
        }
        return ArmRestTimer(window, RestPhase::Resting, kCalledOffRestMs);
    }
}

void OnNotFromThisSession(HWND window) {
    if (!Watch().sessionLogged) {
        LogMessage(L"Can't put the laptop to rest from this session: it is not the console's");
        Watch().sessionLogged = true;
    }
    // A user switch back makes the rest possible again: looked at again after the same wait.
    UINT restMs = RestDelayNow(Watch().alarmSilent);
    if (restMs != 0) ArmRestTimer(window, RestPhase::Resting, restMs);
}

}  // namespace

void StartClosure(HWND window) {
    EndHold(window);
    Watch().restGivenUp = false;
    Watch().sessionLogged = false;
    StartClosureRests(window);
    BeginClosureRecord();
    ForgetClosureWake();
    // Watched from the closing on, armed or not (docked, the alarm quiet): whatever comes later
    // is judged with all the closure's input.
    int mode = ProtectionMode();
    if (mode == kModeLidAlarm || mode == kModeAutoProtection) StartInputWatch(window);
    WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}

void EndClosure(HWND window, const wchar_t* why) {
    // A ringing alarm that ends with the lid opening was heard.
    if (AlarmRingingNow()) NoteAlarmHeard();
    EndAlarm(window, why);
    ForgetDisplayOff(window);
    StopInputWatch();
    EndHold(window);
}

void WatchClosedLid(HWND window, UINT delayMs) {
    if (CurrentLidState() != LidState::Closed || HoldActive()) return;
    int mode = ProtectionMode();
    // No external display in use, docked or used closed, with which no sleep can fail.
    if (mode == kModeLidAlarm && !ExternalDisplayKeepsAlarmQuiet()) {
        StartInputWatch(window);
        ArmLidAlarm(window, delayMs);
    } else if (mode == kModeAutoProtection && RestDelayNow(false) != 0) {
        StartInputWatch(window);
        ArmRestTimer(window, RestPhase::Watching, delayMs);
    }
}

UINT UnattendedWakeDelayMs() {
    SYSTEM_POWER_STATUS status = {};
    bool onBattery = g_powerSeam.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    DWORD seconds = kDefaultUnattendedSleepSeconds;
    if (ReadActiveSchemeSetting(kSleepSubgroup, kUnattendedSleepSetting, onBattery, &seconds) != ERROR_SUCCESS)
        seconds = kDefaultUnattendedSleepSeconds;
    UINT alarmMs = AlarmDelayMs(AlarmDelaySeconds());
    // A timeout of 0 means Windows will not sleep again unattended.
    if (seconds == 0) return alarmMs;
    UINT unattendedMs = SecondsToTimerMs(static_cast<ULONGLONG>(seconds) + kUnattendedSleepMarginSeconds);
    return unattendedMs > alarmMs ? unattendedMs : alarmMs;
}

void ArmLidAlarm(HWND window) { ArmLidAlarm(window, AlarmDelayMs(AlarmDelaySeconds())); }

void ArmLidAlarm(HWND window, UINT delayMs) {
    // Replaces an armed or ringing alarm: the full delay starts again, and with its first
    // tone the wait for a rest.
    StopRestTimer(window);
    SetTimer(window, kAlarmTimer, delayMs, nullptr);
    Watch().alarmArmed = true;
    SetRinging(false);
    Watch().alarmDue = ArmedNow(delayMs);
}

void StopLidAlarm(HWND window) {
    KillTimer(window, kAlarmTimer);
    Watch().alarmArmed = false;
    SetRinging(false);
    StopRestTimer(window);  // a rest follows only a ringing alarm
}

void EndAlarm(HWND window, const wchar_t* why) {
    // Said once: a stopped alarm is no longer armed.
    if (AlarmRingingNow()) ReportKalnixEvent(KALNIX_EVENT_ALARM_ENDED, {why});
    StopLidAlarm(window);
}

bool ClosedLidWatched() { return Watch().alarmArmed || Watch().restPhase != RestPhase::Off; }

void OnAlarmTick(HWND window) {
    WatchState& watch = Watch();
    if (!watch.alarmArmed || !TickIsDue(window, kAlarmTimer, watch.alarmDue)) return;
    // Re-armed before the tone: the next tick is counted from now, not from the tone's end.
    KeepRinging(window);
    const ProtectionHost& host = Host();
    if (host.soundTone) host.soundTone(kAlarmToneHz, kAlarmToneMs);
    if (watch.alarmRinging) return;
    // At the first tone, find out why the machine stayed awake (off this thread, so that no
    // tone waits for it), and whether anyone can hear it.
    SetRinging(true);
    StartWakeReport(window);
    watch.alarmSilent = host.alarmIsSilent && host.alarmIsSilent();
    UINT restMs = watch.restGivenUp ? 0 : RestDelayNow(watch.alarmSilent);
    if (restMs != 0) ArmRestTimer(window, RestPhase::Resting, restMs);
}

void OnRestTick(HWND window) {
    WatchState& watch = Watch();
    RestPhase phase = watch.restPhase;
    if (phase == RestPhase::Off || !TickIsDue(window, kRestTimer, watch.restDue)) return;
    StopRestTimer(window);
    if (CurrentLidState() != LidState::Closed || watch.restGivenUp) return;
    if (InLidAlarmMode() && !watch.alarmRinging) return;
    if (phase == RestPhase::Watching) {
        // Automatic protection at the moment the alarm would ring: what keeps the laptop awake
        // goes to the log, and the rest follows after RestAfter.
        UINT restMs = RestDelayNow(false);
        if (restMs == 0) return;
        StartWakeReport(window);
        UINT alarmMs = AlarmDelayMs(AlarmDelaySeconds());
        return ArmRestTimer(window, RestPhase::Resting, restMs > alarmMs ? restMs - alarmMs : 0);
    }
    // The settings, the lid-close action, the displays and who is there may have changed.
    RestDecision decision = DecideRest(SituationNow(watch.alarmSilent));
    switch (decision.verdict) {
    case RestVerdict::Never: return;
    case RestVerdict::NotFromThisSession: return OnNotFromThisSession(window);
    case RestVerdict::WaitForQuiet: return ArmRestTimer(window, RestPhase::Resting, decision.waitMs);
    case RestVerdict::Rest: return RestNow(window);
    }
}

void OnRestConfirmTick(HWND window) {
    bool ringingBefore = false;
    switch (CheckDisplayOff(window, &ringingBefore)) {
    case DisplayOffCheck::Waiting: return;
    case DisplayOffCheck::Confirmed: return OnDisplayOffRest(window, ringingBefore);
    case DisplayOffCheck::Unconfirmed:
        return RingOn(window, ringingBefore && CurrentLidState() == LidState::Closed);
    }
}

void OnPersonInput(HWND window) {
    if (!AlarmRingingNow()) return;
    LogMessage(L"Someone is at the laptop: the alarm stops and waits again");
    NoteAlarmHeard();
    EndAlarm(window, L"someone used the keyboard or mouse");
    WatchClosedLid(window, AlarmDelayMs(AlarmDelaySeconds()));
}

void ConfirmPendingRest(HWND window) {
    bool ringingBefore = false;
    if (ConfirmDisplayOff(window, &ringingBefore)) OnDisplayOffRest(window, ringingBefore);
}
