#pragma once

#include <windows.h>

#include "protect/lid_state.h"
#include "protect/protection_settings.h"
#include "protect/sleep_capabilities.h"

// The protection modes: what Kalnix does when its timers fire, the lid closes or opens, the
// machine sleeps or wakes and the displays change. Everything runs on the main thread; the
// closed lid itself is watched by protect/closed_lid_watch.h.

// The mode chosen at run time, as the settings dialog's OK puts it in force: automatic
// protection applied at once, any other mode released (the saved lid-close settings back, the
// driver told), then both settings handed down (protect/protection_settings.h). An alarm that
// is armed or ringing goes on until the lid opens.
void ChangeProtectionSettings(int mode, int alarmDelaySeconds);

// A lid source reports what it saw; the modes decide. A change closes or opens the lid; the
// state Kalnix starts in (the system's first report) is noted only, since it is no closing;
// the state asked for after a wake (protect/protection_host.h) continues the closure or ends
// it. Unknown is ignored.
void ReportLidState(HWND window, LidState state);
void ReportStartingLidState(LidState state);
void ReportLidStateOnRequest(HWND window, LidState state);

// A new run: reads what the machine can do, which MachineSleep keeps for the run.
void StartProtectionRun();
const SleepCapabilities& MachineSleep();
// Where the lid's state comes from, once it is known: the start is reported then.
enum class LidSource { Driver, WindowsNotifications, None };
void ReportLidSource(LidSource source);

// Forces the lid-close flags and sends control request 1.
void ApplyAutoProtection();
// Restores the saved lid-close flags and sends control request 2.
void ReleaseAutoProtection();
// The wake settings changed (More settings, a policy): wake timers in automatic protection and
// the machine's wake settings (protect/wake_choices.h) are put in force at once.
void TakeWakeChoices();

// The host window's timers and power events. The protection tick applies automatic protection
// in mode 1; in any other mode, the first tick after the settings are handed down puts back a
// lid-close action a run in mode 1 left saved. In every mode it puts the wake settings an
// administrator chose in force.
void OnProtectionTick(HWND window);
// The lid-close action changed: automatic protection mends a Do nothing another tool left at
// once. The power source changed: the same, and a closed laptop that went on battery is
// watched as at a closing.
void OnLidClosePolicyChange();
void OnPowerSourceChange(HWND window, bool toBattery);
// The machine goes to sleep, which is what the alarm waited for; a hold for a user ends.
void OnSuspend(HWND window);
// How a resume came: Unattended (PBT_APMRESUMEAUTOMATIC: a wake timer or a device, no user
// yet), or with a user (PBT_APMRESUMESUSPEND, which follows the first when someone is there).
enum class ResumeKind { Unattended, WithUser };
// Woken with the lid closed: a resume with a user decides the hold for a docked user from the
// displays once they have settled (protect/user_hold.h); any other wake, and a user's without
// an external display (the power button pressed by the bag), may be one in the bag, and the
// alarm waits for Windows' own unattended sleep first. A resume that comes while the lid's
// state is asked anew after Kalnix's own rest is applied when the answer comes. Either way,
// what woke it is looked for (protect/wake_finding.h).
void OnResume(HWND window, ResumeKind kind);
// kHoldSettleTimer: the displays have settled since the resume or the change.
void OnHoldSettleTick(HWND window);
// The console display came on again or went off.
void OnDisplayTurnedOn(HWND window);
void OnDisplayTurnedOff(HWND window);
// An external display that comes or goes with the lid closed: the alarm falls quiet, or a
// closed laptop that should now sleep is watched (in either mode); while held for a user, the
// hold is looked at again once the layout has settled.
void OnDisplayChange(HWND window);
