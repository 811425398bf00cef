#include "common/power_guard.h"

// Placeholder until the power policy guard lands.
DWORD ForcedLidFlags(DWORD flags) { return (flags & 0xFFFFFFFCu) | 0x80000004u; }
void ForcePowerSettings() {}
bool __stdcall SavePowerSettings() { return false; }
bool __stdcall RestorePowerSettings() { return false; }
