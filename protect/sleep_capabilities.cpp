#include "protect/sleep_capabilities.h"

#include <cstddef>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/seam_power.h"

namespace {

static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) + 3 == kAoAcOffset,
              "AoAc follows FastSystemS4, Hiberboot and WakeAlarmPresent");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, DiskSpinDown) + 1 == kHiberFileTypeOffset,
              "HiberFileType follows DiskSpinDown");

// The true build number: GetVersionEx answers what the manifest declares it knows.
DWORD WindowsBuild() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    static const auto fn = LoadedFunction<GetVersion>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return fn && fn(&version) == 0 ? version.dwBuildNumber : 0;
}

}  // namespace

SleepCapabilities CapabilitiesFrom(const SYSTEM_POWER_CAPABILITIES& capabilities) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&capabilities);
    SleepCapabilities machine = {};
    machine.modernStandby = bytes[kAoAcOffset] != 0;
    machine.sleepS3 = capabilities.SystemS3 != 0;
    machine.hibernation = capabilities.SystemS4 && capabilities.HiberFilePresent &&
                          bytes[kHiberFileTypeOffset] != kHiberFileTypeReduced;
    return machine;
}

SleepCapabilities FreshSleepCapabilities() {
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (g_powerSeam.getPwrCapabilities(&capabilities)) return CapabilitiesFrom(capabilities);
    LogFormatted(L"GPC Failed: %d\n", static_cast<int>(GetLastError()));
    return {};
}

SleepCapabilities ReadSleepCapabilities() {
    SleepCapabilities machine = FreshSleepCapabilities();
    LogMessage(machine.modernStandby ? L"Sleep: Modern Standby"
               : machine.sleepS3     ? L"Sleep: S3"
                                     : L"Sleep: none");
    LogMessage(machine.hibernation ? L"Hibernation: available" : L"Hibernation: not available");
    return machine;
}

bool ZeroHibernateTimeoutIsAdaptive(const SleepCapabilities& machine) {
    return machine.modernStandby && WindowsBuild() >= kFirstAdaptiveHibernateBuild;
}
