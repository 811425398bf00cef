#pragma once

#include <windows.h>

// What this laptop can do instead of staying awake: sleep (S3), hibernate, or Modern Standby.
// Read at start for the log and the tooltip, and again right before every rest, since
// hibernation can be switched off or its file reduced while Kalnix runs.

struct SleepCapabilities {
    bool sleepS3;        // SystemS3
    bool hibernation;    // SystemS4 with a full hibernation file
    bool modernStandby;  // AoAc: the machine sleeps in S0 low power idle
};

// Where Windows 8 and later keep AoAc, and Windows 10 and later the hibernation file's type,
// in SYSTEM_POWER_CAPABILITIES (the toolchain's header calls these bytes spare2[2] and spare3[0]).
constexpr size_t kAoAcOffset = 20;
constexpr size_t kHiberFileTypeOffset = 22;
// A reduced file serves fast start-up only and cannot hold a hibernation; older Windows
// leave the byte 0.
constexpr BYTE kHiberFileTypeReduced = 1;

SleepCapabilities CapabilitiesFrom(const SYSTEM_POWER_CAPABILITIES& capabilities);

// Reads the capabilities through the seam; all false where Windows cannot say. The start's
// read logs the kind of sleep; later reads log only a failure.
SleepCapabilities ReadSleepCapabilities();
SleepCapabilities FreshSleepCapabilities();

// Windows 11 24H2 and later hibernate a Modern Standby laptop at an adaptive threshold (its
// standby budget) where the hibernate-after timeout is 0: there 0 does not mean never.
constexpr DWORD kFirstAdaptiveHibernateBuild = 26100;
bool ZeroHibernateTimeoutIsAdaptive(const SleepCapabilities& machine);
