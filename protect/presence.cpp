#include "protect/presence.h"

#include "common/diagnostic_log.h"
#include "common/platform.h"
#include "protect/sleep_clock.h"

namespace {

constexpr USHORT kGenericDesktopPage = 0x01;
constexpr USHORT kMouseUsage = 0x02;
constexpr USHORT kKeyboardUsage = 0x06;

bool g_watching = false;
bool g_watchFailed = false;
bool g_inputSeen = false;
ClockStamp g_lastInput = {};

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

}  // namespace

void StartInputWatch(HWND window) {
    if (g_watching) return;
    g_inputSeen = false;
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
    RAWINPUTHEADER header = {};
    UINT size = sizeof(header);
    if (g_platform.getRawInputData(input, RID_HEADER, &header, &size, sizeof(header)) != sizeof(header)) return false;
    if (!header.hDevice) return false;
    g_inputSeen = true;
    g_lastInput = ClockNow();
    return true;
}

ULONGLONG MsSincePersonInput() {
    if (g_watchFailed) return MsSinceAnyInput();
    return g_inputSeen ? MsAwakeSince(g_lastInput) : kNoInputSeen;
}

bool RunsInConsoleSession() {
    DWORD mine = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &mine)) return false;
    DWORD console = g_platform.activeConsoleSessionId();
    return console != 0xFFFFFFFF && console == mine && !GetSystemMetrics(SM_REMOTESESSION);
}
