#include "app/settings_effect.h"

#include "app/elevation.h"
#include "protect/protection_modes.h"
#include "protect/protection_settings.h"

namespace {

bool g_protectionElsewhere = false;

}  // namespace

void SetProtectionElsewhere(bool elsewhere) { g_protectionElsewhere = elsewhere; }

bool ProtectionElsewhere() { return g_protectionElsewhere; }

void TakeChosenMode(int mode, int alarmDelaySeconds) {
    if (g_protectionElsewhere) return SetProtectionSettings(mode, alarmDelaySeconds);
    ChangeProtectionSettings(mode, alarmDelaySeconds);
}

void TakeChosenDelay(int mode, int alarmDelaySeconds) { SetProtectionSettings(mode, alarmDelaySeconds); }

void TakeHibernateChange() {
    if (!g_protectionElsewhere && ProtectionMode() == kModeAutoProtection) ApplyAutoProtection();
}

void TakeWakeChange() {
    if (!g_protectionElsewhere) TakeWakeChoices();
}

bool DialogNeedsElevation() { return g_protectionElsewhere && !RunsElevated(); }
