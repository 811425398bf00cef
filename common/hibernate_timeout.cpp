#include "common/hibernate_timeout.h"

#include "common/scheme_setting_guard.h"

namespace {

constexpr DWORD kNever = 0;

bool ReplacesNeverOrLonger(DWORD current, DWORD target) { return current == kNever || current > target; }

bool ReplacesLonger(DWORD current, DWORD target) { return current != kNever && current > target; }

SchemeSettingGuard HibernateGuard(bool (*replaces)(DWORD current, DWORD target)) {
    return {
        kSleepSubgroup,
        kHibernateTimeoutSetting,
        replaces,
        kSavedHibernateScheme,
        kSavedHibernateTimeout,
        kWrittenHibernateTimeout,
        // Every Kalnix that saves a timeout records what it wrote: an unrecorded one is unknown.
        false,
        0,
        L"Hibernate-after timeout on battery set to %u s",
        L"Hibernate-after timeout on battery restored to %u s",
        L"Hibernate-after timeout on battery is locked by policy: %d\n",
        L"Hibernate-after timeout on battery cannot be saved",
        L"The scheme of the saved hibernate-after timeout no longer exists: the saved timeout is dropped",
        L"Hibernate-after timeout of the earlier scheme not put back: the active scheme is left as it is",
        0,
        0,
    };
}

// In 64 bits and capped: 0xFFFFFFFF minutes are far more seconds than a DWORD holds.
DWORD HibernateTimeoutSeconds(DWORD minutes) {
    unsigned long long seconds = static_cast<unsigned long long>(minutes) * 60u;
    return seconds > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(seconds);
}

}  // namespace

void EnforceHibernateTimeout(DWORD minutes, bool zeroIsAdaptive) {
    if (minutes == 0) return;
    EnforceSchemeSetting(HibernateGuard(zeroIsAdaptive ? ReplacesLonger : ReplacesNeverOrLonger),
                         HibernateTimeoutSeconds(minutes));
}

bool RestoreHibernateTimeout() { return RestoreSchemeSetting(HibernateGuard(ReplacesNeverOrLonger)); }
