// Built, never run: links the protection library with nothing of the application, so a
// protect/ source that reaches into app/ breaks the build.
#include "protect/closed_lid_watch.h"
#include "protect/lid_monitor.h"
#include "protect/protection_modes.h"
#include "protect/protection_run.h"
#include "protect/standalone_host.h"

int main() {
    StartProtection(StandaloneHost(nullptr));
    StartLidMonitor();
    OnProtectionTick(nullptr);
    OnAlarmTick(nullptr);
    ReportLidState(nullptr, LidState::Closed);
    ReportLidState(nullptr, LidState::Open);
    ReleaseAutoProtection();
    StopLidMonitor();
    EndProtection();
    return 0;
}
