#pragma once

#include <windows.h>

// The lid-close flags of the global power policy (LidCloseAc.Flags, LidCloseDc.Flags).

// Makes the lid-close sleep compulsory: no query, no UI, override applications, critical.
DWORD ForcedLidFlags(DWORD flags);

// Forces both lid-close flags and re-activates the scheme; failures are logged only.
void ForcePowerSettings();

// What automatic protection replaced while it ran: the lid-close action, the hibernate-after
// timeout and wake timers on battery (see lid_close_action.h, hibernate_timeout.h,
// wake_timers.h), then the stored flags into the policy, the scheme re-activated. Each is
// tried whatever the others' outcome; true when all are back.
bool RestoreForcedPowerSettings();

// Exported by both deliverables: as _SavePowerSettings@0 and _RestorePowerSettings@0 on x86,
// under their plain names on x64.
extern "C" {
// Stores the current lid-close flags in PowerSettings1/PowerSettings2.
bool __stdcall SavePowerSettings();
// Puts back everything Kalnix changed, for its removal: RestoreForcedPowerSettings, and the
// machine's wake settings an administrator had Kalnix change, automatic maintenance's wake and
// the devices kept from waking the laptop (see maintenance_wake.h, device_wake.h).
bool __stdcall RestorePowerSettings();
}
