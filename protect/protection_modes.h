#pragma once

#include <windows.h>

// The protection modes: what Kalnix does when its timers fire, the lid closes or opens, the
// machine sleeps or wakes and the displays change. Owns the protection mode, the alarm delay
// and the lid state; everything runs on the main thread.

constexpr int kModeAutoProtection = 1;
constexpr int kModeLidAlarm = 2;

// The process-wide copies of Action (1 automatic protection, 2 lid alarm, else neither) and
// AlarmTime (seconds), handed down at start-up and by the settings dialog.
void SetProtectionSettings(int mode, int alarmDelaySeconds);
int ProtectionMode();
int AlarmDelaySeconds();

enum class LidState { Unknown, Closed, Open };

// A lid source's value (the lid-state message's wParam, the system's lid-switch data):
// kLidClosed or kLidOpen (protect/driver_contract.h); any other value says nothing.
LidState LidStateFromValue(ULONG_PTR value);
// A lid source reports what it saw; the modes decide. A change closes or opens the lid; the
// state Kalnix starts in (the system's first report) is noted only, since it is no closing.
// Unknown is ignored.
void ReportLidState(HWND window, LidState state);
void ReportStartingLidState(LidState state);

// A new run of the tray window: reads what the machine can do and forgets what an earlier
// run had pending.
void StartProtectionRun();
// Where the lid's state comes from, once it is known: the start is reported then.
enum class LidSource { Driver, WindowsNotifications, None };
void ReportLidSource(LidSource source);
// Since the lid last closed, by the clock that counts sleep.
unsigned SecondsSinceLidClosed();

// Forces the lid-close flags and sends control request 1.
void ApplyAutoProtection();
// Restores the saved lid-close flags and sends control request 2.
void ReleaseAutoProtection();

// The host window's timers and power events. The protection tick applies automatic protection
// in mode 1; in any other mode, the first tick after the settings are handed down puts back a
// lid-close action a run in mode 1 left saved.
void OnProtectionTick(HWND window);
// The lid-close action or the power source changed: automatic protection mends a Do nothing
// another tool left at once.
void OnLidClosePolicyChange();
void OnAlarmTick(HWND window);
// The rest timer: with the lid still closed where a sleep was expected, RestAfter after the
// alarm's first tone (or AlarmTime + RestAfter after the lid closed in automatic protection),
// Kalnix puts the laptop to rest itself (protect/rest_escalation.h). A timer that fires more
// than 2 s late, here or the alarm's, counts as a sleep and a wake: the full delay starts
// again with the lid closed.
void OnRestTick(HWND window);
// The machine goes to sleep, which is what the alarm waited for.
void OnSuspend(HWND window);
// How a resume came: Unattended (PBT_APMRESUMEAUTOMATIC: a wake timer or a device, no user
// yet), or with a user (PBT_APMRESUMESUSPEND, which follows the first when someone is there).
enum class ResumeKind { Unattended, WithUser };
// Woken in the bag: the closed laptop must fall asleep again. After an unattended wake the
// alarm waits for the longer of its delay and Windows' unattended-sleep timeout (plus a
// margin) of the active scheme, since Windows sleeps again by itself after that.
void OnResume(HWND window, ResumeKind kind);
// The console display came on again: with the lid closed and no external display, a wake in
// the bag.
void OnDisplayTurnedOn(HWND window);
// An external display that comes or goes with the lid closed.
void OnDisplayChange(HWND window);

// The lid alarm's timer: armed with the full delay (or the given one), or stopped with the
// rest timer. Armed also while ringing.
void ArmLidAlarm(HWND window);
void ArmLidAlarm(HWND window, UINT delayMs);
void StopLidAlarm(HWND window);

// The alarm timer's first interval in milliseconds for a delay in seconds: the stored
// DWORD times 1000 without overflow, capped at USER_TIMER_MAXIMUM.
UINT AlarmDelayMs(int alarmDelaySeconds);
