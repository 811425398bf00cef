#pragma once

#include <windows.h>

// The lid-close flags of the global power policy (LidCloseAc.Flags, LidCloseDc.Flags).

// Makes the lid-close sleep compulsory: no query, no UI, override applications, critical.
DWORD ForcedLidFlags(DWORD flags);

// Forces both lid-close flags and re-activates the scheme; failures are logged only.
void ForcePowerSettings();

// Exported by both deliverables: as _SavePowerSettings@0 and _RestorePowerSettings@0 on x86,
// under their plain names on x64.
extern "C" {
// Stores the current lid-close flags in PowerSettings1/PowerSettings2.
bool __stdcall SavePowerSettings();
// Puts the stored flags back into the policy and re-activates the scheme; first puts back a
// lid-close action and a hibernate-after timeout that automatic protection replaced (see
// lid_close_action.h, hibernate_timeout.h).
bool __stdcall RestorePowerSettings();
}
