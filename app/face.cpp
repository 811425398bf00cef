#include "app/face.h"

#include "app/elevation.h"
#include "app/face_client.h"
#include "app/tray_icon.h"
#include "common/diagnostic_log.h"
#include "common/face_link.h"
#include "common/seam_displays.h"
#include "common/seam_sound.h"
#include "protect/external_display.h"
#include "protect/presence.h"
#include "protect/sleep_clock.h"

namespace {

// The service may be starting (after an installation, or a restart after a failure): the face
// asks again, soon at first, then every minute.
constexpr UINT kFirstRetryMs = 2000;
constexpr UINT kLongestRetryMs = 60000;
// A person typing sends input many times a second: once a second is all the rest decision needs.
constexpr ULONGLONG kInputReportGapMs = 1000;
constexpr LPARAM kMonitorOff = 2;

struct FaceState {
    HWND window;
    bool console;
    bool watching;
    bool inputReported;
    ClockStamp lastInputReport;
    UINT retryMs;
};
FaceState g_face = {};

void ShowState(const LinkState& state) {
    if (state.protecting) {
        UpdateTrayIcon(g_face.window, kTrayStateEnabled, nullptr);
        SetTrayNote(state.note == static_cast<UINT32>(LinkNote::NoLid) ? L"Cannot sense a lid: no lid alarm" : nullptr);
        return;
    }
    UpdateTrayIcon(g_face.window, kTrayStateDisabled,
                   L"Kalnix is not protecting this laptop\nThe Kalnix protection service is not running");
}

void ShowNotRunning() {
    LinkState state = {};
    ShowState(state);
}

void StopWatching() {
    if (!g_face.watching) return;
    g_face.watching = false;
    StopWatchForReports();
}

void ReportDisplays() {
    if (!g_face.console) return;
    Displays displays = ReadDisplays();
    LinkDisplays reported = displays == Displays::LaptopOnly ? LinkDisplays::LaptopOnly
                            : displays == Displays::External ? LinkDisplays::External
                                                             : LinkDisplays::Unreadable;
    SendToService(MakeFlagMessage(LinkKind::Displays, static_cast<UINT32>(reported)));
}

void RetryLater() {
    g_face.retryMs = g_face.retryMs ? g_face.retryMs * 2 : kFirstRetryMs;
    if (g_face.retryMs > kLongestRetryMs) g_face.retryMs = kLongestRetryMs;
    SetTimer(g_face.window, kFaceRetryTimer, g_face.retryMs, nullptr);
}

void Connect() {
    if (ConnectToService(g_face.window)) {
        KillTimer(g_face.window, kFaceRetryTimer);
        g_face.retryMs = 0;
        return;
    }
    RetryLater();
}

void OnWelcome(const LinkMessage& message) {
    g_face.console = message.welcome.console == 1;
    ShowState(message.welcome.state);
    ReportDisplays();
}

// Only the console's face is asked to watch and to sound; another asked is ignored.
void OnWatchInput(bool on) {
    if (!on || !g_face.console) return StopWatching();
    if (!g_face.watching) g_face.watching = StartWatchForReports(g_face.window);
}

void OnTone(const LinkMessage& message) {
    if (g_face.console) g_soundSeam.beep(message.tone.hz, message.tone.ms);
}

// The face runs with the user's own rights: an administrator is one whom Windows would elevate.
void OnBalloon(const LinkMessage& message) {
    if (!message.balloon.offersWakeAction) return ShowTrayBalloon(message.balloon.text);
    ShowTrayWakeNotice(message.balloon.text, RunsElevated() || RunsAsLimitedAdministrator());
}

void OnTurnDisplayOff() {
    if (!g_face.console) return;
    // The face's own window, as a user's display-off tool's: no other window is asked.
    g_displaySeam.defWindowProc(g_face.window, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff);
    SendToService(MakeFlagMessage(LinkKind::DisplayOffDone, 1));
}

}  // namespace

void StartFace(HWND window) {
    g_face = {};
    g_face.window = window;
    ShowNotRunning();
    Connect();
}

void EndFace() {
    StopWatching();
    if (g_face.window) KillTimer(g_face.window, kFaceRetryTimer);
    DisconnectFromService();
    g_face = {};
}

void OnFaceLinkMessage(HWND, LPARAM lParam) {
    const auto* message = reinterpret_cast<const LinkMessage*>(lParam);
    if (!message || !g_face.window) return FreeFaceMessage(lParam);
    switch (static_cast<LinkKind>(message->header.kind)) {
    case LinkKind::Welcome: OnWelcome(*message); break;
    case LinkKind::Refused:
        // Another Kalnix shows this session's icon already.
        LogMessage(L"The protection service has a Kalnix in this session already: this one ends\n");
        PostMessageW(g_face.window, WM_CLOSE, 0, 0);
        break;
    case LinkKind::State: ShowState(message->state); break;
    case LinkKind::Tone: OnTone(*message); break;
    case LinkKind::WatchInput: OnWatchInput(message->flag == 1); break;
    case LinkKind::Balloon: OnBalloon(*message); break;
    case LinkKind::TurnDisplayOff: OnTurnDisplayOff(); break;
    default: break;
    }
    FreeFaceMessage(lParam);
}

void OnFaceLinkLost(HWND) {
    if (!g_face.window) return;
    StopWatching();
    DisconnectFromService();
    g_face.console = false;
    ShowNotRunning();
    RetryLater();
}

void OnFaceRetryTimer(HWND) {
    if (!g_face.window) return;
    KillTimer(g_face.window, kFaceRetryTimer);
    Connect();
}

void OnFaceInput(HRAWINPUT input) {
    if (!g_face.watching || !NotePersonInput(input)) return;
    ClockStamp now = ClockNow();
    if (g_face.inputReported && MsSince(g_face.lastInputReport) < kInputReportGapMs) return;
    g_face.inputReported = true;
    g_face.lastInputReport = now;
    SendToService(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device)));
}

void OnFaceDisplayChange() {
    if (ConnectedToService()) ReportDisplays();
}

void OnFaceExit(HWND window) {
    MessageBoxW(window, kFaceExitNote, L"Kalnix", MB_OK | MB_ICONINFORMATION);
    DestroyWindow(window);
}
