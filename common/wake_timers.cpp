#include "common/wake_timers.h"

#include "common/event_report.h"
#include "common/hibernate_timeout.h"
#include "common/scheme_setting_guard.h"

namespace {

bool ReplacesAllowed(DWORD current, DWORD) { return current != kWakeTimersDisable; }

const SchemeSettingGuard kWakeTimersGuard = {
    kSleepSubgroup,
    kWakeTimersSetting,
    ReplacesAllowed,
    kSavedWakeTimersScheme,
    kSavedWakeTimers,
    kWrittenWakeTimers,
    // Every Kalnix that saves the value records what it wrote.
    false,
    0,
    L"Wake timers on battery set to %u (Disable)",
    L"Wake timers on battery restored to %u",
    L"Wake timers on battery are locked by policy: %d\n",
    L"Wake timers on battery cannot be saved",
    L"The scheme of the saved wake timers setting no longer exists: the saved value is dropped",
    L"Wake timers of the earlier scheme not put back: the active scheme is left as it is",
    KALNIX_EVENT_WAKE_TIMERS_OFF,
    KALNIX_EVENT_WAKE_TIMERS_PUT_BACK,
};

}  // namespace

void EnforceWakeTimersOff() { EnforceSchemeSetting(kWakeTimersGuard, kWakeTimersDisable); }

bool RestoreWakeTimers() { return RestoreSchemeSetting(kWakeTimersGuard); }
