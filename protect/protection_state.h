#pragma once

#include <windows.h>

#include "common/setting_list.h"
#include "protect/input_patterns.h"
#include "protect/protection_host.h"
#include "protect/sleep_capabilities.h"
#include "protect/sleep_clock.h"
#include "protect/wake_naming.h"
#include "protect/worker_thread.h"

// Everything the protection keeps, in one place. One instance, g_protection, owned by
// protect/protection_state.cpp; each module reads and writes its own member and asks the
// others. A run (StartProtection to EndProtection, protect/protection_run.h) starts from a
// value-initialised ProtectionRun; only the settings outlive it. Main thread only, unless a
// member says otherwise.

// Declared by the modules that own them; zero is the first enumerator of each.
enum class LidState;    // protect/lid_state.h
enum class RestKind;    // protect/rest_decision.h
enum class ResumeKind;  // protect/protection_modes.h

// Action and AlarmTime as handed down (protect/protection_settings.h).
struct SettingsState {
    int mode;
    int alarmDelaySeconds;
    // Set whenever they are handed down; the next protection tick takes it.
    bool savedActionPending;
};

// The lid-sensor driver's thread record (protect/lid_monitor.h). The thread reads it while it
// runs, and nothing changes it then; it is emptied by stopping the thread.
struct LidMonitor {
    HANDLE device;          // "\\.\KALNIX", or null
    HANDLE thread;          // monitor thread, or null
    HANDLE terminateEvent;  // unnamed auto-reset event, or null
    // Posts the lid state: occasion kLidChanged or kLidStateOnRequest (protect/protection_messages.h).
    void (*callback)(DWORD lidState, LPARAM occasion);
    HANDLE changeEvent;   // the driver's change event, opened before the thread starts, or null
    HANDLE requestEvent;  // unnamed auto-reset event: report the state as it is now, or null
    // The driver's state event, opened with the change event and kept: its name could be
    // another's by the next change.
    HANDLE stateEvent;
};

// The lid as Kalnix knows it (protect/lid_state.h).
struct LidRecord {
    LidState state;
    ClockStamp closedAt;
    bool closedBeforeStart;
};

// What the system told the host window (protect/power_notifications.h).
struct NotificationState {
    HPOWERNOTIFY lid;
    HPOWERNOTIFY display;
    HPOWERNOTIFY sleep;
    HPOWERNOTIFY lidCloseAction;
    HPOWERNOTIFY powerSource;
    // The display's and the power source's last reports; the report that follows registration
    // only sets them.
    DWORD displayState;
    bool displayReported;
    DWORD powerSourceState;
    bool powerSourceReported;
    // Set by the system's first lid report after registration, which gives the starting state.
    bool lidReported;
    // Between the registration and its first report or the end of the wait for it.
    bool waitingForLid;
    // Registered anew to learn the state now: the next report answers that.
    bool lidReportRequested;
};

// The modes' own (protect/protection_modes.h).
struct ModesState {
    // The start event waits for the lid's source to be known; automatic protection is reported
    // applied once, not at every hourly tick.
    bool startReported;
    bool protectionApplied;
    bool adaptiveHibernateLogged;
    // How the resume came while the lid's state was asked anew after Kalnix's own rest, applied
    // when the answer comes.
    ResumeKind awaitingResume;
    // What the machine could do when the run started.
    SleepCapabilities machine;
};

// The rest timer: in automatic protection first Watching until the alarm would ring (the wake
// report starts then), then Resting until Kalnix puts the laptop to rest; in lid alarm mode
// Resting from the first tone.
enum class RestPhase { Off, Watching, Resting };

// The closed lid's alarm and rest timers (protect/closed_lid_watch.h).
struct WatchState {
    bool alarmArmed;
    bool alarmRinging;
    bool alarmSilent;
    TimerDue alarmDue;
    RestPhase restPhase;
    TimerDue restDue;
    // For the closure: no more rests tried after every way failed; the session that cannot rest
    // said once.
    bool restGivenUp;
    bool sessionLogged;
};

constexpr int kRestCauseChars = 256;
constexpr int kRestSecondsChars = 96;

// A display-off request waiting for its effect, with what its event will say and whether the
// alarm rang when it was asked for (it ends, or rings on, with the answer).
struct DisplayOffRest {
    bool pending;
    bool ringingBefore;
    TimerDue confirmDue;
    wchar_t cause[kRestCauseChars];
    wchar_t seconds[kRestSecondsChars];
};

// The ways to rest (protect/rest_escalation.h).
struct RestState {
    bool noWayLogged;
    // Said once a closure: the host could not turn the display off.
    bool displayOffUnavailableLogged;
    DisplayOffRest displayOff;
};

// Deciding after a resume, held, or rechecking after a display change while held.
enum class HoldStage { None, Deciding, Held, Rechecking };

// The hold for a docked user (protect/user_hold.h).
struct HoldState {
    HoldStage stage;
    TimerDue settleDue;
    int unreadableReads;
};

// The watch for a person (protect/presence.h).
struct InputWatchState {
    bool watching;
    bool watchFailed;
    bool inputSeen;
    ClockStamp lastInput;
    // What the rules remember of this watch, and RestAfter as it was when the watch started.
    HeldKey heldKey;
    NudgeHistory nudges;
    UINT restAfterMs;
    bool stuckKeyLogged;
};

constexpr int kNoticeChars = 256;  // a balloon's text

// What waits to be told once the lid is open (protect/rest_notices.h).
struct NoticeState {
    // The first rest since anyone looked, and how many came after it; whether an
    // administrator may act on the first (keep its wake from coming again).
    wchar_t restNotice[kNoticeChars];
    bool restNoticePreventable;
    int laterRests;
    // The start of the first standby since the last lid-open resume, on battery.
    bool suspendNoted;
    bool resumedSinceSuspend;
    int suspendPercent;
    ClockStamp suspendedAt;
};

constexpr int kClosureStampChars = 20;
constexpr int kClosureCauseChars = 96;
constexpr int kClosureWakeChars = 96;

// The closure being gathered (protect/closure_record.h).
struct ClosureState {
    bool open;
    wchar_t stamp[kClosureStampChars];
    ClockStamp closedAt;
    bool slept;
    unsigned sleptAfter;
    bool ringing;
    ClockStamp ringingSince;
    ULONGLONG rangMs;
    bool heard;
    bool rested;
    RestKind restKind;
    unsigned restedAfter;
    wchar_t cause[kClosureCauseChars];
    bool drained;
    int drainPercent;
    ULONGLONG drainMs;
    int wakes;
    WORD wakeHour, wakeMinute;
    wchar_t wakeSource[kClosureWakeChars];
};

constexpr int kWakeCauseChars = 256;

// The wake report's worker (protect/wake_report.h), running or last, and the last report's first
// cause.
struct WakeReportState {
    WorkerRecord worker;
    wchar_t lastCause[kWakeCauseChars];
};

// What woke the laptop with its lid closed (protect/wake_finding.h): the wake being looked
// into, the worker that reads Windows' records of it, and the closure's last wake.
struct WakeFindingState {
    bool due;  // the timer waits for Windows' records
    TimerDue recordsDue;
    FILETIME resumedAt;  // UTC
    bool onBattery;
    WorkerRecord worker;
    // A wake in this closure, its local time, and once known what woke it and whether Kalnix
    // can keep that from waking it again.
    bool woken;
    WORD wokenHour, wokenMinute;
    bool named;
    bool preventable;
    wchar_t name[kWakeNameChars];
};

// The devices' wake switched on a worker (protect/wake_choices.h); `again` once the choices
// changed while it ran; the devices whose switch failed, not tried again this run.
struct WakeChoicesState {
    WorkerRecord worker;
    bool again;
    SettingList failed;
};

struct ProtectionRun {
    bool running;
    // Set before the lid's source starts; the lid monitor thread reads its window.
    ProtectionHost host;
    LidMonitor lidMonitor;
    LidRecord lid;
    NotificationState notifications;
    ModesState modes;
    WatchState watch;
    RestState rest;
    HoldState hold;
    InputWatchState input;
    NoticeState notices;
    ClosureState closure;
    WakeReportState wakeReport;
    WakeFindingState wakeFinding;
    WakeChoicesState wakeChoices;
};

struct ProtectionState {
    SettingsState settings;
    ProtectionRun run;
};

extern ProtectionState g_protection;

// The host of the run.
inline const ProtectionHost& Host() { return g_protection.run.host; }
