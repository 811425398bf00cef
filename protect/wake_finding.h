#pragma once

#include <windows.h>

#include "protect/wake_naming.h"

// What woke the laptop with its lid closed, found after every such wake (automatic or not,
// after Kalnix's own rest too): once Windows has written its records of the wake, a worker
// reads them (protect/wake_source.h) and the main thread tells it: the log, an event, the
// closure's record, the note after a rest; a device that woke it on battery is noted for
// More settings (protect/wake_choices.h). Main thread only, but for the worker.

// How long after the wake Windows' records are asked for: it writes them as the laptop
// resumes, a few seconds before or after programs hear of it.
constexpr UINT kWakeRecordsDelayMs = 10000;

// The laptop woke with its lid closed: the wake is noted and kWakeSourceTimer armed. A second
// report of the same wake (Windows reports an unattended wake, then the user's) adds nothing.
void StartWakeFinding(HWND window);
// kWakeSourceTimer: the worker starts.
void OnWakeSourceTick(HWND window);
// kWakeSourceMessage: what the worker found, told and freed (also after the run's end, when
// it is only freed).
void OnWakeSourceFound(LPARAM source);
// A new closure: no wake of it yet.
void ForgetClosureWake();
// The end of the run: the worker is stopped.
void StopWakeFinding();

// The closure's last wake: false when there was none. Its local time, and what woke it (an
// empty name while it is still being looked for); `preventable` when an administrator can
// keep it from coming again.
bool LastClosedWake(WORD* hour, WORD* minute, const wchar_t** name, bool* preventable);

// A source Kalnix can keep from waking the laptop again: a wake timer (wake timers on
// battery off), automatic maintenance, or a device that is neither part of the laptop nor a
// keyboard (a person opening the laptop must still wake it, and Kalnix cannot always tell the
// laptop's own keyboard from another).
bool WakePreventable(const WakeSource& source);
bool DeviceWakePreventable(const WakeSource& source);
