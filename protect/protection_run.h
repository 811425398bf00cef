#pragma once

#include <windows.h>

#include "protect/protection_host.h"

// A run of the protection in a host (protect/protection_host.h): everything a host calls. The
// mode chosen at run time is ChangeProtectionSettings (protect/protection_modes.h). Main
// thread only: the thread whose window is the host's.

// Starts a run from nothing: the event log, what the machine can do, the power notifications,
// for a host that may change the power policy the hourly protection tick (its first one posted
// now), then the lid's source. The settings are those handed down before
// (protect/protection_settings.h).
void StartProtection(const ProtectionHost& host);
// Ends the run: every timer killed, the watch and the notifications stopped, the lid-close
// settings put back and the driver told, the lid's source stopped and the event log ended.
// Messages and timers that come after are ignored. Safe to call twice.
void EndProtection();

// Every message the protection owns: its timers (WM_TIMER), the lid-state and wake report
// messages, WM_POWERBROADCAST (lParam read only during the call), and the messages it only
// looks at, WM_DISPLAYCHANGE and WM_INPUT. True when the message was the protection's alone,
// with the window procedure's result in *result; false for any other, and for those it only
// looks at, which the host handles as well.
bool HandleProtectionMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

// A person's keyboard or mouse input that the host heard elsewhere (its console face's watch):
// taken as raw input that the rules found a person's.
void NoteReportedPersonInput();
