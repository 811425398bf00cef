#pragma once

#include <windows.h>

// What Kalnix does while the lid is closed: the lid alarm, automatic protection's silent watch,
// and the rest when nobody hears either. One closure at a time, on the main thread; the host's
// window owns the timers (protect/protection_messages.h).

// A closing starts a closure afresh: the input watch, and the alarm or the silent watch with
// the full delay. The lid opening ends it: the alarm stops (said with `why`), nothing is
// watched any more, and no hold for a user remains (protect/user_hold.h).
void StartClosure(HWND window);
void EndClosure(HWND window, const wchar_t* why);

// With the lid closed, where a sleep is expected now, arms the lid alarm (lid alarm mode) or
// the silent watch (automatic protection) to wait `delayMs`. Nothing while held for a user.
void WatchClosedLid(HWND window, UINT delayMs);
// True while the alarm or the rest timer is armed, ringing included.
bool ClosedLidWatched();
// The wait after a wake nobody may have asked for: the longer of the alarm delay and Windows'
// unattended-sleep timeout (plus a margin) of the active scheme, since Windows sleeps again by
// itself after that.
UINT UnattendedWakeDelayMs();

// The lid alarm's timer: armed with the full delay (or the given one), or stopped with the
// rest timer. Armed also while ringing. EndAlarm says why a ringing alarm ended.
void ArmLidAlarm(HWND window);
void ArmLidAlarm(HWND window, UINT delayMs);
void StopLidAlarm(HWND window);
void EndAlarm(HWND window, const wchar_t* why);

// The host window's timers.
void OnAlarmTick(HWND window);
// The rest timer: with the lid still closed where a sleep was expected, RestAfter after the
// alarm's first tone (or AlarmTime + RestAfter after the lid closed in automatic protection),
// Kalnix puts the laptop to rest itself when nobody is at it. A timer that finds the laptop
// slept since it was armed, here or the alarm's, counts as a sleep and a wake: the full
// delay starts again with the lid closed.
void OnRestTick(HWND window);
void OnRestConfirmTick(HWND window);
// A person at the keyboard or mouse (protect/presence.h) stops a ringing alarm, which waits the
// full delay again; the rest waits for quiet.
void OnPersonInput(HWND window);
// The display went off or the laptop suspends: a display-off rest took place.
void ConfirmPendingRest(HWND window);
