#include "support/platform_fakes.h"

#include <algorithm>
#include <cstring>

#include "protect/rest_escalation.h"


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
    g_platform.notifyIcon = RecordNotifyIcon;
}

ShellRecorder::~ShellRecorder() {
    g_addResult = savedAddResult_;
    g_calls.clear();
}

const std::vector<ShellCall>& ShellRecorder::Calls() const { return g_calls; }
void ShellRecorder::Clear() { g_calls.clear(); }

MembershipOverride::MembershipOverride(Check check) { g_platform.checkTokenMembership = check; }

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
DWORD g_restError = 0;
int g_batteryPercent = -1;

BOOLEAN WINAPI RecordSuspend(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeupEventsDisabled) {
    // Kalnix never forces a sleep past the applications, nor keeps wake events from ending it.
    if (force || wakeupEventsDisabled) g_restRequests.push_back(RestRequest::UnexpectedBroadcast);
    else g_restRequests.push_back(hibernate ? RestRequest::Hibernate : RestRequest::Sleep);
    SetLastError(g_restError);
    return g_restError == 0;
}

LRESULT WINAPI RecordBroadcast(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                               PDWORD_PTR result) {
    bool displayOff = window == HWND_BROADCAST && message == WM_SYSCOMMAND && wParam == SC_MONITORPOWER &&
                      lParam == 2 && (flags & SMTO_ABORTIFHUNG) && timeout > 0 && timeout <= 5000;
    g_restRequests.push_back(displayOff ? RestRequest::DisplayOff : RestRequest::UnexpectedBroadcast);
    if (result) *result = 0;
    SetLastError(g_restError);
    return g_restError == 0;
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

ULONGLONG WINAPI SleepingClock() { return GetTickCount64() + g_sleptMs; }

BOOL WINAPI AnswerBattery(LPSYSTEM_POWER_STATUS status) {
    *status = {};
    status->ACLineStatus = g_batteryPercent < 0 ? 1 : 0;
    status->BatteryLifePercent = g_batteryPercent < 0 ? 255 : static_cast<BYTE>(g_batteryPercent);
    return TRUE;
}

}  // namespace

RestStandin::RestStandin() {
    g_restRequests.clear();
    g_capabilities = {};
    g_soundResult = S_OK;
    g_soundMuted = FALSE;
    g_soundVolume = 0.5f;
    g_sleptMs = 0;
    g_restError = 0;
    g_batteryPercent = -1;
    Machine(true, false, false);
    g_platform.setSuspendState = RecordSuspend;
    g_platform.sendMessageTimeout = RecordBroadcast;
    g_platform.getPwrCapabilities = AnswerCapabilities;
    g_platform.readSoundOutput = AnswerSound;
    g_platform.tickCount64 = SleepingClock;
    g_platform.getSystemPowerStatus = AnswerBattery;
}

RestStandin::~RestStandin() { g_restRequests.clear(); }

void RestStandin::Machine(bool sleepS3, bool hibernation, bool modernStandby) {
    g_capabilities = {};
    g_capabilities.SystemS3 = sleepS3;
    g_capabilities.SystemS4 = hibernation;
    g_capabilities.HiberFilePresent = hibernation;
    reinterpret_cast<BYTE*>(&g_capabilities)[kAoAcOffset] = modernStandby;
}

void RestStandin::Sound(HRESULT result, BOOL muted, float volume) {
    g_soundResult = result;
    g_soundMuted = muted;
    g_soundVolume = volume;
}

void RestStandin::Sleep(ULONGLONG ms) { g_sleptMs += ms; }
void RestStandin::FailWith(DWORD error) { g_restError = error; }
void RestStandin::Battery(int percent) { g_batteryPercent = percent; }
const std::vector<RestRequest>& RestStandin::Requests() const { return g_restRequests; }
void RestStandin::ClearRequests() { g_restRequests.clear(); }
