#include "protect/external_display.h"

#include "common/applied_setting.h"
#include "common/lid_close_action.h"
#include "common/seam_displays.h"
#include "common/seam_power.h"
#include "common/seam_sessions.h"
#include "protect/protection_state.h"

bool IsInternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology) {
    return technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL ||
           technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EMBEDDED ||
           technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EMBEDDED ||
           technology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_LVDS;
}

bool IsExternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology) {
    // A virtual display (remote sessions, screen-capture drivers) is no monitor a closed laptop
    // is used with; a USB dock's indirect display is.
    return !IsInternalOutput(technology) && technology != DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INDIRECT_VIRTUAL;
}

namespace {

// Windows applies the lid-close action even with a monitor attached: only "Do nothing" on
// the current power source lets a docked laptop stay awake on purpose. Unreadable counts as
// a sleep expected.
bool LidCloseDoesNothingNow() {
    SYSTEM_POWER_STATUS status = {};
    bool onBattery = g_powerSeam.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    DWORD action = kLidCloseSleep;
    const wchar_t* failedCall = nullptr;
    return ReadLidCloseAction(onBattery, &action, &failedCall) == ERROR_SUCCESS && action == kLidCloseDoNothing;
}

}  // namespace

bool ExternalDisplayKeepsAlarmQuiet() {
    // Read quietly: an absent value is the usual case, not a failure worth a log line.
    DWORD alarmAnyway = 0;
    if (ReadAppliedSettingDword(SettingId::AlarmWithExternalDisplay, &alarmAnyway, LocalRead::Quiet) && alarmAnyway == 1)
        return false;
    return DisplaysNow() == Displays::External && LidCloseDoesNothingNow();
}

Displays DisplaysNow() { return Host().readDisplays ? Host().readDisplays() : Displays::Unreadable; }

namespace {

// The console's layout: the active paths' targets. LaptopOnly needs at least one path: none
// may be a moment of a re-enumeration, or the panel off, and says nothing by itself.
Displays ReadDisplayPaths() {
    // The layout can change between the two calls; a few tries cover that.
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT32 pathCount = 0;
        UINT32 modeCount = 0;
        if (g_displaySeam.getDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &pathCount, &modeCount) != ERROR_SUCCESS)
            return Displays::Unreadable;
        if (pathCount == 0) return Displays::Unreadable;
        if (pathCount > 64 || modeCount > 128) return Displays::Unreadable;  // far beyond any machine
        DISPLAYCONFIG_PATH_INFO paths[64];
        DISPLAYCONFIG_MODE_INFO modes[128];
        LONG result = g_displaySeam.queryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths, &modeCount, modes, nullptr);
        if (result == ERROR_INSUFFICIENT_BUFFER) continue;
        if (result != ERROR_SUCCESS || pathCount == 0) return Displays::Unreadable;
        for (UINT32 i = 0; i < pathCount; ++i) {
            if (IsExternalOutput(paths[i].targetInfo.outputTechnology)) return Displays::External;
        }
        return Displays::LaptopOnly;
    }
    return Displays::Unreadable;
}

// The monitors' connection records, which need no access to the desktop. LaptopOnly needs at
// least one record: every laptop has its panel's.
Displays ReadMonitorRecords() {
    MonitorConnection records[kMostMonitorConnections];
    UINT count = 0;
    if (FAILED(g_displaySeam.readMonitorConnections(records, kMostMonitorConnections, &count)) || count == 0 ||
        count > kMostMonitorConnections)
        return Displays::Unreadable;
    for (UINT i = 0; i < count; ++i) {
        auto technology = static_cast<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY>(records[i].videoOutputTechnology);
        if (records[i].active && IsExternalOutput(technology)) return Displays::External;
    }
    return Displays::LaptopOnly;
}

}  // namespace

Displays ReadDisplays() {
    // A remote session's layout is its client's, not the laptop's; the monitors' records are
    // the laptop's wherever they are read.
    if (!g_sessionSeam.isRemoteSession()) {
        Displays layout = ReadDisplayPaths();
        if (layout != Displays::Unreadable) return layout;
    }
    // No access to the current desktop (a locked session's is Winlogon's), or no path yet.
    return ReadMonitorRecords();
}
