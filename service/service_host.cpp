#include "service/service_host.h"

#include <cwchar>

#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/face_link.h"
#include "protect/external_display.h"
#include "protect/lid_source.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "protect/protection_run.h"
#include "protect/protection_settings.h"
#include "service/face_server.h"
#include "service/service_status.h"

namespace {

struct ServiceProtection {
    bool running;
    HWND window;
    int mode;
    int alarmDelay;
    LinkNote note;
    // What the protection wants of the console's face, given again to a face that comes later.
    bool inputWatchWanted;
    // The console face's reading of its displays, where it gave one.
    bool consoleDisplaysKnown;
    LinkDisplays consoleDisplays;
    // A notification for the person at the laptop, kept until a console face can show it.
    bool balloonPending;
    bool balloonOffersWakeAction;
    wchar_t balloon[kLinkTextChars];
};

ServiceProtection g_service = {};

LinkState CurrentState() {
    LinkState state = {};
    state.mode = static_cast<UINT32>(g_service.mode);
    state.protecting = g_service.running ? 1 : 0;
    state.note = static_cast<UINT32>(g_service.note);
    return state;
}

void SendState() {
    LinkMessage message = MakeLinkMessage(LinkKind::State);
    message.state = CurrentState();
    SendToEveryFace(message);
}

// Read once at the start and again at every change of the settings keys.
void ReadModeSettings(int* mode, int* delay) {
    DWORD action = 0;
    DWORD alarmTime = 0;
    ReadAppliedSettingDword(L"Action", &action, LocalRead::FreshKey);
    ReadAppliedSettingDword(L"AlarmTime", &alarmTime, LocalRead::FreshKey);
    // Stored as unsigned 32-bit values; kept as the same bits in signed form.
    *mode = static_cast<int>(action);
    *delay = static_cast<int>(alarmTime);
}

void ShowAtConsole(const wchar_t* text, bool offersWakeAction) {
    if (!text || !text[0]) return;
    if (SendToConsoleFace(MakeBalloonMessage(text, true, offersWakeAction))) return;
    // Nobody at the console now: the next person to sign in there is told.
    wcsncpy(g_service.balloon, text, kLinkTextChars - 1);
    g_service.balloon[kLinkTextChars - 1] = L'\0';
    g_service.balloonPending = true;
    g_service.balloonOffersWakeAction = offersWakeAction;
}

void ShowBalloonAtConsole(const wchar_t* text) { ShowAtConsole(text, false); }

// The face offers the action to an administrator only.
void ShowWakeNoticeAtConsole(const wchar_t* text) { ShowAtConsole(text, true); }

void OnStateChanged() { SendState(); }

void ShowNote(const wchar_t* note) {
    g_service.note = note ? LinkNote::NoLid : LinkNote::None;
    SendState();
}

// The service has no speaker: the console's face sounds the tone. Without one nothing rings,
// and the alarm counts as heard by nobody only through the rest that follows it.
void ToneAtConsole(DWORD hz, DWORD ms) { SendToConsoleFace(MakeToneMessage(hz, ms)); }

bool StartWatchAtConsole(HWND) {
    g_service.inputWatchWanted = true;
    SendToConsoleFace(MakeFlagMessage(LinkKind::WatchInput, 1));
    // Without a console face there is nobody whose input could be heard: that is no failure.
    return true;
}

void StopWatchAtConsole() {
    g_service.inputWatchWanted = false;
    SendToConsoleFace(MakeFlagMessage(LinkKind::WatchInput, 0));
}

// The service's own reading (the monitors' records, which need no desktop) and the console
// face's: an external display either sees is in use; laptop-only where one of them can tell.
Displays ReadMachineDisplays() {
    Displays own = ReadDisplays();
    if (own == Displays::External) return own;
    if (g_service.consoleDisplaysKnown) {
        if (g_service.consoleDisplays == LinkDisplays::External) return Displays::External;
        if (g_service.consoleDisplays == LinkDisplays::LaptopOnly) return Displays::LaptopOnly;
    }
    return own;
}

// The service acts for the machine, whoever's session is at the console.
bool SpeaksForConsole() { return true; }

bool DisplayOffAtConsole(HWND) { return SendToConsoleFace(MakeLinkMessage(LinkKind::TurnDisplayOff)); }

void OnPersonInput(LinkInputSource) { NoteReportedPersonInput(); }

void OnConsoleDisplays(LinkDisplays displays) {
    bool changed = !g_service.consoleDisplaysKnown || displays != g_service.consoleDisplays;
    g_service.consoleDisplaysKnown = true;
    g_service.consoleDisplays = displays;
    LRESULT result = 0;
    if (changed && g_service.running) HandleProtectionMessage(WM_DISPLAYCHANGE, 0, 0, &result);
}

void OnDisplayOffDone(bool) {}

// A face at the console now: it takes up what the protection wants of it.
void OnConsoleFaceChanged(bool present) {
    g_service.consoleDisplaysKnown = false;
    if (!present) return;
    if (g_service.inputWatchWanted) SendToConsoleFace(MakeFlagMessage(LinkKind::WatchInput, 1));
    if (g_service.balloonPending &&
        SendToConsoleFace(MakeBalloonMessage(g_service.balloon, true, g_service.balloonOffersWakeAction)))
        g_service.balloonPending = false;
}

ProtectionHost ServiceHost(HWND window) {
    ProtectionHost host = {};
    host.window = window;
    host.notificationRecipient = ServiceStatusHandle();
    host.notificationFlags = DEVICE_NOTIFY_SERVICE_HANDLE;
    host.registerSuspendResume = false;  // a service is told anyway
    host.changesPowerPolicy = true;
    host.startLidSource = StartLidSource;
    host.requestLidReport = RequestLidReport;
    host.showBalloon = ShowBalloonAtConsole;
    host.showWakeNotice = ShowWakeNoticeAtConsole;
    host.stateChanged = OnStateChanged;
    host.showNote = ShowNote;
    host.soundTone = ToneAtConsole;
    host.alarmIsSilent = nullptr;
    host.startInputWatch = StartWatchAtConsole;
    host.stopInputWatch = StopWatchAtConsole;
    host.readDisplays = ReadMachineDisplays;
    host.speaksForConsole = SpeaksForConsole;
    host.requestDisplayOff = DisplayOffAtConsole;
    return host;
}

}  // namespace

void StartServiceProtection(HWND window) {
    g_service = {};
    g_service.window = window;
    ReadModeSettings(&g_service.mode, &g_service.alarmDelay);
    SetProtectionSettings(g_service.mode, g_service.alarmDelay);
    StartFaceServer({OnPersonInput, OnConsoleDisplays, OnDisplayOffDone, OnConsoleFaceChanged, CurrentState});
    g_service.running = true;
    ReportKalnixEvent(KALNIX_EVENT_SERVICE_STARTED);
    StartProtection(ServiceHost(window));
}

void EndServiceProtection() {
    if (!g_service.running) return;
    g_service.running = false;
    EndProtection();
    // The faces learn that nothing protects the laptop now, then the pipe closes.
    SendState();
    StopFaceServer();
    ReportKalnixEvent(KALNIX_EVENT_SERVICE_STOPPED);
    LogMessage(L"The protection service stopped: the lid-close settings are as they were\n");
}

void OnServiceSettingsChanged() {
    if (!g_service.running) return;
    // An administrator's wake choices, or the records Kalnix keeps beside them: put in force
    // at once (nothing is switched where nothing differs).
    TakeWakeChoices();
    int mode = 0;
    int delay = 0;
    ReadModeSettings(&mode, &delay);
    if (mode == g_service.mode && delay == g_service.alarmDelay) return;
    LogFormatted(L"Settings changed: mode %d, alarm delay %d s\n", mode, delay);
    // A new mode is applied or released at once, as the settings dialog does; a new delay
    // takes effect at the next closing.
    if (mode != g_service.mode) ChangeProtectionSettings(mode, delay);
    else SetProtectionSettings(mode, delay);
    g_service.mode = mode;
    g_service.alarmDelay = delay;
    SendState();
}
