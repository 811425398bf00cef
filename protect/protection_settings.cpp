#include "protect/protection_settings.h"

namespace {

int g_protectionMode = 0;
int g_alarmDelay = 0;

}  // namespace

void StoreProtectionSettings(int mode, int alarmDelaySeconds) {
    g_protectionMode = mode;
    g_alarmDelay = alarmDelaySeconds;
}

int ProtectionMode() { return g_protectionMode; }

int AlarmDelaySeconds() { return g_alarmDelay; }

UINT AlarmDelayMs(int alarmDelaySeconds) {
    // AlarmTime is a stored DWORD: read the bits back as unsigned.
    return SecondsToTimerMs(static_cast<DWORD>(alarmDelaySeconds));
}

UINT SecondsToTimerMs(ULONGLONG seconds) {
    // Capped before the product, so that no count overflows.
    if (seconds > USER_TIMER_MAXIMUM / 1000u) return USER_TIMER_MAXIMUM;
    ULONGLONG ms = seconds * 1000u;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}
