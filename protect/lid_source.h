#pragma once

// Where the protection learns the lid's state, for a host that lets protect/ sense it
// (protect/protection_host.h): the lid-sensor driver's thread, else Windows' own lid
// notifications. Main thread only.

// Starts the driver's thread (and reports the start with the driver as the source), or where
// it cannot, registers for Windows' notifications, whose first report names the source.
void StartLidSource();
// After a wake Kalnix caused: asks whichever source runs for the lid's state now, answered as a
// report on request. False where no source can answer.
bool RequestLidReport();
