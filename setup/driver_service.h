#pragma once

#include <windows.h>

// Steps of InstallDriverAndStart, each given the manager handle it opened (never closed here).
// Creates the kernel-driver service "Kalnix" with the given image path.
bool InstallDriver(SC_HANDLE manager, const wchar_t* driverPath);
// Opens the service "Kalnix" and starts it; true when it runs afterwards.
bool StartDriver(SC_HANDLE manager);
// True when the service "Kalnix" is registered (a setup program carrying the driver made it).
bool DriverServiceExists();
