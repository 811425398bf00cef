#pragma once

#include <windows.h>

// The simulated lid-sensor driver (lidsim.sys), run as the kernel-driver service "Kalnix".

// Replaces any earlier "Kalnix" service by one for `sysPath` (default: lidsim.sys beside the
// running executable), starts it and waits until its control device answers.
bool InstallSimulatedLidDriver(const wchar_t* sysPath = nullptr);
// Stops and deletes the service and waits until the driver is gone. True when no service is
// left (also when there was none).
bool RemoveSimulatedLidDriver();
// True while the driver is loaded (its control device opens).
bool IsSimulatedLidDriverLoaded();

// Moves the virtual lid: the state event is set (closed) or cleared (open), then the change
// event is signalled once.
bool SetSimulatedLid(bool closed);

// Drops the driver's change event (absent) or creates it again (present). Dropped, its name
// disappears once no other handle holds it; lid moves then change only the state event.
// Reinstalling the driver creates it too.
bool SetSimulatedChangeEvent(bool present);

// Creates both events anew in the global namespace only, as a driver that knows nothing of
// sessions does: the bare names no longer find them. Lid open; until the driver is reinstalled.
bool MoveSimulatedEventsToGlobal();

struct LidRequestCounts {
    DWORD r1, r2, r3;  // control requests 1, 2 and 3 received on \\.\KALNIX
    DWORD opened;      // handles open on \\.\KALNIX right now (0 or 1)
};
// All members are 0xFFFFFFFF when the driver cannot be reached.
LidRequestCounts ReadLidRequestCounts();
bool ResetLidRequestCounts();

// Polls until request `which` (1..3) has been received at least `count` times.
bool WaitForLidRequestCount(int which, DWORD count, DWORD timeoutMs);
// Polls until \\.\KALNIX has `opened` handles open.
bool WaitForLidDeviceOpen(DWORD opened, DWORD timeoutMs);
