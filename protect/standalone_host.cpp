#include "protect/standalone_host.h"

#include "common/seam_displays.h"
#include "common/seam_sound.h"
#include "protect/external_display.h"
#include "protect/lid_source.h"
#include "protect/presence.h"
#include "protect/rest_decision.h"

namespace {

constexpr LPARAM kMonitorOff = 2;

void ToneOnSpeaker(DWORD hz, DWORD ms) { g_soundSeam.beep(hz, ms); }

// Kalnix's own window, as a user's display-off tool's: no other window is asked, and none can
// hold Kalnix up.
bool TurnDisplayOff(HWND window) {
    g_displaySeam.defWindowProc(window, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff);
    return true;
}

}  // namespace

ProtectionHost StandaloneHost(HWND window) {
    ProtectionHost host = {};
    host.window = window;
    host.notificationRecipient = window;
    host.notificationFlags = DEVICE_NOTIFY_WINDOW_HANDLE;
    host.registerSuspendResume = true;
    host.startLidSource = StartLidSource;
    host.requestLidReport = RequestLidReport;
    host.soundTone = ToneOnSpeaker;
    host.alarmIsSilent = AlarmIsSilent;
    host.startInputWatch = StartRawInputWatch;
    host.stopInputWatch = StopRawInputWatch;
    host.readDisplays = ReadDisplays;
    host.speaksForConsole = RunsInConsoleSession;
    host.requestDisplayOff = TurnDisplayOff;
    return host;
}
