#pragma once

// Kalnix.exe as the protection service "KalnixProtection": hands the process to the service
// control manager and returns the exit code once the service has stopped. Started by hand
// rather than by the manager, it writes that to the log and returns 1.
int RunProtectionService();
