#include "protect/presence.h"

#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/platform.h"
#include "protect/input_patterns.h"
#include "protect/protection_settings.h"
#include "protect/sleep_clock.h"

namespace {

constexpr USHORT kGenericDesktopPage = 0x01;
constexpr USHORT kMouseUsage = 0x02;
constexpr USHORT kKeyboardUsage = 0x06;

bool g_watching = false;
bool g_watchFailed = false;
bool g_inputSeen = false;
ClockStamp g_lastInput = {};
// What the rules remember of this watch, and RestAfter as it was when the watch started.
HeldKey g_heldKey = {};
NudgeHistory g_nudges = {};
UINT g_restAfterMs = 0;
bool g_stuckKeyLogged = false;

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
    if (g_watchFailed) return MsSinceAnyInput();
    return g_inputSeen ? MsAwakeSince(g_lastInput) : kNoInputSeen;
}

void NoteRepeat(ULONGLONG nowMs) {
    if (g_stuckKeyLogged || g_restAfterMs == 0 || nowMs - g_heldKey.sinceMs <= g_restAfterMs) return;
    LogMessage(L"A key held down for longer than RestAfter is no one at the laptop: the rest goes on");
    g_stuckKeyLogged = true;
}

bool IsPersons(const RAWINPUT& input, ULONGLONG nowMs) {
    if (input.header.dwType == RIM_TYPEKEYBOARD &&
        NoteKeyStroke(&g_heldKey, input.data.keyboard, nowMs) == KeyStroke::Repeat) {
        NoteRepeat(nowMs);
        return false;
    }
    if (input.header.hDevice) return true;
    return !IsJigglerNudge(&g_nudges, input, nowMs);
}

}  // namespace

void StartInputWatch(HWND window) {
    if (g_watching) return;
    g_inputSeen = false;
    g_heldKey = {};
    g_nudges = {};
    g_stuckKeyLogged = false;
    DWORD restAfter = 0;
    ReadAppliedSettingDword(SettingId::RestAfter, &restAfter, LocalRead::Quiet);
    g_restAfterMs = SecondsToTimerMs(restAfter);
    g_watchFailed = !RegisterInput(window, RIDEV_INPUTSINK);
    if (g_watchFailed) {
        LogFormatted(L"RRID Failed: %d\n", static_cast<int>(GetLastError()));
        return;
    }
    g_watching = true;
}

void StopInputWatch() {
    g_watchFailed = false;
    if (!g_watching) return;
    g_watching = false;
    RegisterInput(nullptr, RIDEV_REMOVE);
}

bool NotePersonInput(HRAWINPUT input) {
    RAWINPUT record = {};
    UINT size = sizeof(record);
    UINT read = g_platform.getRawInputData(input, RID_INPUT, &record, &size, sizeof(RAWINPUTHEADER));
    if (read == static_cast<UINT>(-1) || read < sizeof(RAWINPUTHEADER)) return false;
    ClockStamp now = ClockNow();
    if (!IsPersons(record, now.awakeMs)) return false;
    g_inputSeen = true;
    g_lastInput = now;
    return true;
}

bool RunsInConsoleSession() {
    DWORD mine = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &mine)) return false;
    DWORD console = g_platform.activeConsoleSessionId();
    return console != 0xFFFFFFFF && console == mine && !g_platform.isRemoteSession();
}

PresenceSeen PresenceNow() { return {RunsInConsoleSession(), MsSincePersonInput()}; }
