#pragma once

#include <windows.h>

// The service's ears on its settings: the settings key and Group Policy's key for Kalnix. A
// change to either (a value written by an administrator's settings dialog, a policy applied)
// signals one of these handles; no polling.

void StartSettingsWatch();
void StopSettingsWatch();
// The handles to wait on, at most 2; their count.
int SettingsWatchHandles(HANDLE* handles, int room);
// After a wait found `signalled`: true when it was a settings handle, which is watched again.
bool SettingsWatchSignalled(HANDLE signalled);
