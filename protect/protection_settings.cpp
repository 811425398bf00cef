#include "protect/protection_settings.h"

#include "protect/protection_state.h"

void SetProtectionSettings(int mode, int alarmDelaySeconds) {
    SettingsState& settings = g_protection.settings;
    settings.mode = mode;
    settings.alarmDelaySeconds = alarmDelaySeconds;
    settings.savedActionPending = true;
}

int ProtectionMode() { return g_protection.settings.mode; }

int AlarmDelaySeconds() { return g_protection.settings.alarmDelaySeconds; }

bool TakeSavedActionPending() {
    bool pending = g_protection.settings.savedActionPending;
    g_protection.settings.savedActionPending = false;
    return pending;
}

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
