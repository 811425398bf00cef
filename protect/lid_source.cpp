#include "protect/lid_source.h"

#include "protect/lid_monitor.h"
#include "protect/power_notifications.h"
#include "protect/protection_modes.h"

void StartLidSource() {
    // Without the driver Windows' own lid notifications stand in for it (no thread needed).
    if (StartLidMonitor()) ReportLidSource(LidSource::Driver);
    else StartLidNotifications();
}

bool RequestLidReport() { return RequestLidStateReport() || RequestLidSwitchReport(); }
