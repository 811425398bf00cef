#include "support/platform_fakes.h"

#include <algorithm>
#include <cstring>

#include "protect/sleep_capabilities.h"


namespace {

std::vector<ShellCall> g_calls;
BOOL g_addResult = TRUE;

BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    ShellCall call = {};
    call.message = message;
    // Copy no more than the caller declared, as the shell reads no more.
    std::memcpy(&call.record, data, std::min<size_t>(data->cbSize, sizeof(call.record)));
    g_calls.push_back(call);
    return message == NIM_ADD ? g_addResult : TRUE;
}

}  // namespace

ShellRecorder::ShellRecorder(BOOL addResult) : savedAddResult_(g_addResult) {
    g_calls.clear();
    g_addResult = addResult;
    g_shellSeam.notifyIcon = RecordNotifyIcon;
}

ShellRecorder::~ShellRecorder() {
    g_addResult = savedAddResult_;
    g_calls.clear();
}

const std::vector<ShellCall>& ShellRecorder::Calls() const { return g_calls; }
void ShellRecorder::Clear() { g_calls.clear(); }

MembershipOverride::MembershipOverride(Check check) { g_sessionSeam.checkTokenMembership = check; }

MembershipOverride::~MembershipOverride() = default;

BOOL WINAPI NotAMember(HANDLE, PSID, PBOOL member) {
    *member = FALSE;
    return TRUE;
}

BOOL WINAPI CheckFailsClaimingMember(HANDLE, PSID, PBOOL member) {
    *member = TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

namespace {

std::vector<RestRequest> g_restRequests;
SYSTEM_POWER_CAPABILITIES g_capabilities = {};
HRESULT g_soundResult = S_OK;
BOOL g_soundMuted = FALSE;
float g_soundVolume = 0.5f;
ULONGLONG g_sleptMs = 0;
ULONGLONG g_passedMs = 0;
ULONGLONG g_suspendSleepsMs = 60000;
void (*g_duringSuspend)() = nullptr;
DWORD g_refusals[4] = {};
int g_batteryPercent = -1;

DWORD Refusal(RestRequest kind) { return g_refusals[static_cast<int>(kind)]; }

BOOLEAN WINAPI RecordSuspend(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeupEventsDisabled) {
    // Kalnix never forces a sleep past the applications, nor keeps wake events from ending it.
    RestRequest kind = force || wakeupEventsDisabled ? RestRequest::Unexpected
                       : hibernate                  ? RestRequest::Hibernate
                                                    : RestRequest::Sleep;
    g_restRequests.push_back(kind);
    if (g_duringSuspend) g_duringSuspend();
    DWORD error = Refusal(kind);
    if (error == 0) g_sleptMs += g_suspendSleepsMs;
    SetLastError(error);
    return error == 0;
}

LRESULT WINAPI RecordDisplayOff(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_SYSCOMMAND || wParam != SC_MONITORPOWER) return DefWindowProcW(window, message, wParam, lParam);
    g_restRequests.push_back(lParam == 2 ? RestRequest::DisplayOff : RestRequest::Unexpected);
    return 0;
}

BOOLEAN WINAPI AnswerCapabilities(PSYSTEM_POWER_CAPABILITIES capabilities) {
    *capabilities = g_capabilities;
    return TRUE;
}

HRESULT WINAPI AnswerSound(BOOL* muted, float* volume) {
    if (SUCCEEDED(g_soundResult)) {
        *muted = g_soundMuted;
        *volume = g_soundVolume;
    }
    return g_soundResult;
}

// Time moves only when the test moves it: every wait is then exact, whatever the load.
constexpr ULONGLONG kClockStart = 1000000000;
ULONGLONG WINAPI SleepingClock() { return kClockStart + g_passedMs + g_sleptMs; }
ULONGLONG WINAPI AwakeClock() { return kClockStart + g_passedMs; }

BOOL WINAPI AnswerBattery(LPSYSTEM_POWER_STATUS status) {
    *status = {};
    status->ACLineStatus = g_batteryPercent < 0 ? 1 : 0;
    status->BatteryLifePercent = g_batteryPercent < 0 ? 255 : static_cast<BYTE>(g_batteryPercent);
    return TRUE;
}

}  // namespace

RestStandin::RestStandin() {
    g_restRequests.clear();
    g_soundResult = S_OK;
    g_soundMuted = FALSE;
    g_soundVolume = 0.5f;
    g_sleptMs = g_passedMs = 0;
    g_suspendSleepsMs = 60000;
    g_duringSuspend = nullptr;
    for (DWORD& error : g_refusals) error = 0;
    g_batteryPercent = -1;
    Machine(true, false, false);
    g_powerSeam.setSuspendState = RecordSuspend;
    g_displaySeam.defWindowProc = RecordDisplayOff;
    g_powerSeam.getPwrCapabilities = AnswerCapabilities;
    g_soundSeam.readSoundOutput = AnswerSound;
    g_clockSeam.tickCount64 = SleepingClock;
    g_clockSeam.awakeTickCount64 = AwakeClock;
    g_powerSeam.getSystemPowerStatus = AnswerBattery;
}

RestStandin::~RestStandin() {
    g_restRequests.clear();
    g_duringSuspend = nullptr;
}

void RestStandin::Machine(bool sleepS3, bool hibernation, bool modernStandby, bool reducedHiberFile) {
    g_capabilities = {};
    g_capabilities.SystemS3 = sleepS3;
    g_capabilities.SystemS4 = hibernation;
    g_capabilities.HiberFilePresent = hibernation;
    BYTE* bytes = reinterpret_cast<BYTE*>(&g_capabilities);
    bytes[kAoAcOffset] = modernStandby;
    bytes[kHiberFileTypeOffset] = reducedHiberFile ? kHiberFileTypeReduced : 2;
}

void RestStandin::Sound(HRESULT result, BOOL muted, float volume) {
    g_soundResult = result;
    g_soundMuted = muted;
    g_soundVolume = volume;
}

void RestStandin::Sleep(ULONGLONG ms) { g_sleptMs += ms; }
void RestStandin::Pass(ULONGLONG ms) { g_passedMs += ms; }
void RestStandin::SuspendSleepsFor(ULONGLONG ms) { g_suspendSleepsMs = ms; }
void RestStandin::DuringSuspend(void (*look)()) { g_duringSuspend = look; }
void RestStandin::Refuse(RestRequest kind, DWORD error) { g_refusals[static_cast<int>(kind)] = error; }
void RestStandin::Battery(int percent) { g_batteryPercent = percent; }
const std::vector<RestRequest>& RestStandin::Requests() const { return g_restRequests; }
void RestStandin::ClearRequests() { g_restRequests.clear(); }

namespace {

DWORD g_consoleSession = 0;
BOOL g_remoteSession = FALSE;
// WM_INPUT carries this handle; the record it names is the last one sent or posted.
HRAWINPUT const kInputHandle = reinterpret_cast<HRAWINPUT>(0x1D01);
RAWINPUT g_record = {};

DWORD WINAPI AnswerConsoleSession() { return g_consoleSession; }
BOOL WINAPI AnswerRemoteSession() { return g_remoteSession; }

// The whole record, as Kalnix asks for it.
UINT WINAPI AnswerRawInput(HRAWINPUT input, UINT command, LPVOID data, PUINT size, UINT headerSize) {
    if (input != kInputHandle || command != RID_INPUT || headerSize != sizeof(RAWINPUTHEADER) || !data || !size ||
        *size < sizeof(g_record))
        return static_cast<UINT>(-1);
    std::memcpy(data, &g_record, sizeof(g_record));
    return sizeof(g_record);
}

RAWINPUTHEADER Header(DWORD type, bool fromDevice) {
    RAWINPUTHEADER header = {};
    header.dwType = type;
    header.dwSize = sizeof(RAWINPUT);
    header.hDevice = fromDevice ? reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(type == RIM_TYPEMOUSE ? 1 : 2)) : nullptr;
    header.wParam = RIM_INPUTSINK;
    return header;
}

void SetMove(bool fromDevice, LONG dx, LONG dy) {
    g_record = {};
    g_record.header = Header(RIM_TYPEMOUSE, fromDevice);
    g_record.data.mouse.usFlags = MOUSE_MOVE_RELATIVE;
    g_record.data.mouse.lLastX = dx;
    g_record.data.mouse.lLastY = dy;
}

void Deliver(HWND window) {
    SendMessageW(window, WM_INPUT, RIM_INPUTSINK, reinterpret_cast<LPARAM>(kInputHandle));
}

}  // namespace

PresenceStandin::PresenceStandin() {
    DWORD mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &mine);
    g_consoleSession = mine;
    g_remoteSession = FALSE;
    g_sessionSeam.activeConsoleSessionId = AnswerConsoleSession;
    g_sessionSeam.isRemoteSession = AnswerRemoteSession;
    g_sessionSeam.getRawInputData = AnswerRawInput;
}

PresenceStandin::~PresenceStandin() = default;

void PresenceStandin::ConsoleSession(DWORD session) { g_consoleSession = session; }

void PresenceStandin::RemoteSession(bool remote) { g_remoteSession = remote; }

void PresenceStandin::Input(HWND window, bool fromDevice) { Move(window, fromDevice, 40, 25); }

void PresenceStandin::Move(HWND window, bool fromDevice, LONG dx, LONG dy) {
    SetMove(fromDevice, dx, dy);
    Deliver(window);
}

void PresenceStandin::Key(HWND window, bool fromDevice, USHORT virtualKey, bool release) {
    g_record = {};
    g_record.header = Header(RIM_TYPEKEYBOARD, fromDevice);
    g_record.data.keyboard.VKey = virtualKey;
    g_record.data.keyboard.MakeCode = static_cast<USHORT>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    g_record.data.keyboard.Flags = release ? RI_KEY_BREAK : RI_KEY_MAKE;
    g_record.data.keyboard.Message = release ? WM_KEYUP : WM_KEYDOWN;
    Deliver(window);
}

void PresenceStandin::PostMove(HWND window, bool fromDevice, LONG dx, LONG dy) {
    SetMove(fromDevice, dx, dy);
    PostMessageW(window, WM_INPUT, RIM_INPUTSINK, reinterpret_cast<LPARAM>(kInputHandle));
}
