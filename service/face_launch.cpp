#include "service/face_launch.h"

#include <wtsapi32.h>
#include <userenv.h>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "common/system_library.h"
#include "service/face_server.h"

namespace {

// ERROR_ELEVATION_REQUIRED, which the toolchain's headers may lack.
constexpr DWORD kElevationRequired = 740;

// Neither library is a KnownDLL: both come from System32 at the first use, never by a search.
template <class Function>
Function SystemFunction(const wchar_t* library, const char* name) {
    HMODULE module = LoadSystemLibrary(library);
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

BOOL WINAPI EnumerateSessions(HANDLE server, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions,
                              DWORD* count) {
    static auto real = SystemFunction<decltype(&::WTSEnumerateSessionsW)>(L"wtsapi32.dll", "WTSEnumerateSessionsW");
    if (!real) return FALSE;
    return real(server, reserved, version, sessions, count);
}

void WINAPI FreeMemory(void* memory) {
    static auto real = SystemFunction<decltype(&::WTSFreeMemory)>(L"wtsapi32.dll", "WTSFreeMemory");
    if (real) real(memory);
}

BOOL WINAPI QueryUserToken(ULONG sessionId, HANDLE* token) {
    static auto real = SystemFunction<decltype(&::WTSQueryUserToken)>(L"wtsapi32.dll", "WTSQueryUserToken");
    if (!real) return FALSE;
    return real(sessionId, token);
}

// The face's environment is its user's, not the service's.
void* UserEnvironment(HANDLE token) {
    static auto create =
        SystemFunction<decltype(&::CreateEnvironmentBlock)>(L"userenv.dll", "CreateEnvironmentBlock");
    void* environment = nullptr;
    if (!create || !create(&environment, token, FALSE)) return nullptr;
    return environment;
}

void FreeEnvironment(void* environment) {
    static auto destroy =
        SystemFunction<decltype(&::DestroyEnvironmentBlock)>(L"userenv.dll", "DestroyEnvironmentBlock");
    if (environment && destroy) destroy(environment);
}

void ReportFailure(DWORD sessionId, const wchar_t* step, DWORD error) {
    LogFormatted(L"Can't start Kalnix in session %u: %ls failed: %d\n", static_cast<unsigned>(sessionId), step,
                 static_cast<int>(error));
    wchar_t session[16];
    wchar_t code[16];
    FormatBounded(session, 16, L"%u", static_cast<unsigned>(sessionId));
    FormatBounded(code, 16, L"%d", static_cast<int>(error));
    ReportKalnixEvent(KALNIX_EVENT_FACE_NOT_STARTED, {session, step, code});
}

bool IsElevated(HANDLE token) {
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    // Unreadable counts as elevated: such a token is not used.
    if (!g_faceLaunch.getTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) return true;
    return elevation.TokenIsElevated != 0;
}

// The user's token as Windows gives it to the user's own programs. With User Account Control on
// that is the limited token already; an elevated one (an administrator with UAC off, or a token
// Windows hands out whole) is exchanged for its linked limited token, and without one the face
// is not started: a face never runs elevated.
HANDLE FaceToken(DWORD sessionId) {
    ScopedHandle token;
    if (!g_faceLaunch.queryUserToken(sessionId, token.put())) {
        DWORD error = GetLastError();
        // No user signed in to that session (the sign-in screen): nobody to give a face.
        if (error != ERROR_NO_TOKEN) ReportFailure(sessionId, L"WTSQueryUserToken", error);
        return nullptr;
    }
    if (!IsElevated(token.get())) return token.release();
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (g_faceLaunch.getTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &size) &&
        linked.LinkedToken) {
        ScopedHandle limited(linked.LinkedToken);
        if (!IsElevated(limited.get())) return limited.release();
    }
    ReportFailure(sessionId, L"A token without administrator rights", kElevationRequired);
    return nullptr;
}

bool KalnixPath(wchar_t* path, DWORD chars) {
    DWORD length = GetModuleFileNameW(nullptr, path, chars);
    return length > 0 && length < chars;
}

}  // namespace

FaceLaunchCalls g_faceLaunch = {EnumerateSessions, FreeMemory, QueryUserToken, CreateProcessAsUserW,
                                GetTokenInformation};

void StartFaceInSession(DWORD sessionId, bool fresh) {
    // Session 0 holds services only, never a person.
    if (sessionId == 0 || FaceInSession(sessionId)) return;
    ScopedHandle token(FaceToken(sessionId));
    if (!token.valid()) return;
    wchar_t kalnix[MAX_PATH];
    if (!KalnixPath(kalnix, MAX_PATH)) return ReportFailure(sessionId, L"GetModuleFileName", GetLastError());
    wchar_t commandLine[MAX_PATH + 12];
    FormatBounded(commandLine, MAX_PATH + 12, fresh ? L"\"%ls\" -fresh" : L"\"%ls\"", kalnix);
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started = {};
    void* environment = UserEnvironment(token.get());
    BOOL created = g_faceLaunch.createProcessAsUser(token.get(), kalnix, commandLine, nullptr, nullptr, FALSE,
                                                    CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP,
                                                    environment, nullptr, &startup, &started);
    DWORD error = GetLastError();
    FreeEnvironment(environment);
    if (!created) return ReportFailure(sessionId, L"CreateProcessAsUser", error);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    LogFormatted(L"Started Kalnix in session %u\n", static_cast<unsigned>(sessionId));
}

void StartFacesInEverySession(bool fresh) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!g_faceLaunch.enumerateSessions(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        LogFormatted(L"WTSES Failed: %d\n", static_cast<int>(GetLastError()));
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (sessions[i].State == WTSActive || sessions[i].State == WTSDisconnected)
            StartFaceInSession(sessions[i].SessionId, fresh);
    }
    g_faceLaunch.freeMemory(sessions);
}
