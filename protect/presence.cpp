#include "protect/presence.h"

#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/seam_sessions.h"
#include "protect/input_patterns.h"
#include "protect/protection_settings.h"
#include "protect/protection_state.h"
#include "protect/sleep_clock.h"

namespace {

constexpr USHORT kGenericDesktopPage = 0x01;
constexpr USHORT kMouseUsage = 0x02;
constexpr USHORT kKeyboardUsage = 0x06;

InputWatchState& Watch() { return g_protection.run.input; }

bool RegisterInput(HWND window, DWORD flags) {
    RAWINPUTDEVICE devices[2] = {{kGenericDesktopPage, kMouseUsage, flags, window},
                                 {kGenericDesktopPage, kKeyboardUsage, flags, window}};
    return RegisterRawInputDevices(devices, 2, sizeof(devices[0])) != FALSE;
}

// Where the watch cannot run, any input counts, injected or not: a rest missed is better than
// a rest under someone's hands.
ULONGLONG MsSinceAnyInput() {
    LASTINPUTINFO info = {sizeof(info), 0};
    if (!GetLastInputInfo(&info)) return kNoInputSeen;
    return static_cast<DWORD>(GetTickCount() - info.dwTime);  // wraps as the 32-bit count does
}

ULONGLONG MsSincePersonInput() {
    const InputWatchState& watch = Watch();
    if (watch.watchFailed) return MsSinceAnyInput();
    return watch.inputSeen ? MsAwakeSince(watch.lastInput) : kNoInputSeen;
}

void NoteRepeat(ULONGLONG nowMs) {
    InputWatchState& watch = Watch();
    if (watch.stuckKeyLogged || watch.restAfterMs == 0 || nowMs - watch.heldKey.sinceMs <= watch.restAfterMs) return;
    LogMessage(L"A key held down for longer than RestAfter is no one at the laptop: the rest goes on");
    watch.stuckKeyLogged = true;
}

bool IsPersons(const RAWINPUT& input, ULONGLONG nowMs) {
    InputWatchState& watch = Watch();
    if (input.header.dwType == RIM_TYPEKEYBOARD &&
        NoteKeyStroke(&watch.heldKey, input.data.keyboard, nowMs) == KeyStroke::Repeat) {
        NoteRepeat(nowMs);
        return false;
    }
    if (input.header.hDevice) return true;
    return !IsJigglerNudge(&watch.nudges, input, nowMs);
}

void NoteInputAt(const ClockStamp& now) {
    Watch().inputSeen = true;
    Watch().lastInput = now;
}

}  // namespace

void StartInputWatch(HWND window) {
    InputWatchState& watch = Watch();
    if (watch.watching) return;
    watch = {};
    DWORD restAfter = 0;
    ReadAppliedSettingDword(SettingId::RestAfter, &restAfter, LocalRead::Quiet);
    watch.restAfterMs = SecondsToTimerMs(restAfter);
    const ProtectionHost& host = Host();
    watch.watchFailed = !host.startInputWatch || !host.startInputWatch(window);
    watch.watching = !watch.watchFailed;
}

void StopInputWatch() {
    InputWatchState& watch = Watch();
    watch.watchFailed = false;
    if (!watch.watching) return;
    watch.watching = false;
    if (Host().stopInputWatch) Host().stopInputWatch();
}

bool NotePersonInput(HRAWINPUT input) {
    RAWINPUT record = {};
    UINT size = sizeof(record);
    UINT read = g_sessionSeam.getRawInputData(input, RID_INPUT, &record, &size, sizeof(RAWINPUTHEADER));
    if (read == static_cast<UINT>(-1) || read < sizeof(RAWINPUTHEADER)) return false;
    ClockStamp now = ClockNow();
    if (!IsPersons(record, now.awakeMs)) return false;
    NoteInputAt(now);
    return true;
}

void NoteReportedInput() { NoteInputAt(ClockNow()); }

bool SpeaksForConsole() { return Host().speaksForConsole && Host().speaksForConsole(); }

PresenceSeen PresenceNow() { return {SpeaksForConsole(), MsSincePersonInput()}; }

bool StartRawInputWatch(HWND window) {
    if (RegisterInput(window, RIDEV_INPUTSINK)) return true;
    LogFormatted(L"RRID Failed: %d\n", static_cast<int>(GetLastError()));
    return false;
}

void StopRawInputWatch() { RegisterInput(nullptr, RIDEV_REMOVE); }

bool StartWatchForReports(HWND window) {
    InputWatchState& watch = Watch();
    if (watch.watching) return true;
    watch = {};
    DWORD restAfter = 0;
    ReadAppliedSettingDword(L"RestAfter", &restAfter, LocalRead::Quiet);
    watch.restAfterMs = SecondsToTimerMs(restAfter);
    watch.watching = StartRawInputWatch(window);
    return watch.watching;
}

void StopWatchForReports() {
    InputWatchState& watch = Watch();
    if (!watch.watching) return;
    watch.watching = false;
    StopRawInputWatch();
}

bool RunsInConsoleSession() {
    DWORD mine = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &mine)) return false;
    DWORD console = g_sessionSeam.activeConsoleSessionId();
    return console != 0xFFFFFFFF && console == mine && !g_sessionSeam.isRemoteSession();
}
