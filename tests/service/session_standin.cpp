#include "session_standin.h"

#include <map>

namespace {

// The service's thread calls the stand-ins while the test's thread reads what they saw.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<SessionRow> g_rows;
DWORD g_console = 1;
std::vector<DWORD> g_clientSessions;
std::vector<DWORD> g_asked;
std::vector<StartedFace> g_started;
int g_listings = 0;
// What each stand-in token is: its session and its kind.
std::map<HANDLE, std::pair<DWORD, Token>> g_tokens;

class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&g_lock); }
    ~Locked() { ReleaseSRWLockExclusive(&g_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

const SessionRow* Row(DWORD id) {
    for (const SessionRow& row : g_rows)
        if (row.id == id) return &row;
    return nullptr;
}

HANDLE NewToken(DWORD session, Token token) {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_tokens[handle] = {session, token};
    return handle;
}

BOOL WINAPI EnumerateSessions(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* sessions, DWORD* count) {
    Locked locked;
    auto* list = new WTS_SESSION_INFOW[g_rows.size() + 1]();
    for (size_t i = 0; i < g_rows.size(); ++i) {
        list[i].SessionId = g_rows[i].id;
        list[i].State = g_rows[i].state;
    }
    *sessions = list;
    *count = static_cast<DWORD>(g_rows.size());
    return TRUE;
}

void WINAPI FreeSessions(void* memory) {
    delete[] static_cast<WTS_SESSION_INFOW*>(memory);
    Locked locked;
    ++g_listings;
}

BOOL WINAPI QueryUserToken(ULONG id, HANDLE* token) {
    Locked locked;
    g_asked.push_back(id);
    const SessionRow* row = Row(id);
    if (!row || row->queryError) {
        SetLastError(row ? row->queryError : ERROR_NO_TOKEN);
        return FALSE;
    }
    *token = NewToken(id, row->token);
    return TRUE;
}

BOOL WINAPI TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* value, DWORD, DWORD* size) {
    Locked locked;
    auto found = g_tokens.find(token);
    if (found == g_tokens.end() || found->second.second == Token::Unreadable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    Token what = found->second.second;
    if (kind == TokenElevation) {
        static_cast<TOKEN_ELEVATION*>(value)->TokenIsElevated = what != Token::Limited;
        *size = sizeof(TOKEN_ELEVATION);
        return TRUE;
    }
    if (kind == TokenLinkedToken && what == Token::ElevatedWithLinked) {
        static_cast<TOKEN_LINKED_TOKEN*>(value)->LinkedToken = NewToken(found->second.first, Token::Limited);
        *size = sizeof(TOKEN_LINKED_TOKEN);
        return TRUE;
    }
    SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return FALSE;
}

BOOL WINAPI CreateAsUser(HANDLE token, LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                         BOOL, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                         LPPROCESS_INFORMATION started) {
    Locked locked;
    auto found = g_tokens.find(token);
    if (found == g_tokens.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SessionRow* row = Row(found->second.first);
    if (row && row->createError) {
        SetLastError(row->createError);
        return FALSE;
    }
    g_started.push_back({found->second.first, found->second.second == Token::Limited, commandLine ? commandLine : L"",
                         startup->lpDesktop ? startup->lpDesktop : L"", flags});
    started->hProcess = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    started->hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return TRUE;
}

BOOL WINAPI ClientSession(DWORD, DWORD* session) {
    Locked locked;
    if (g_clientSessions.empty()) return FALSE;
    *session = g_clientSessions.front();
    g_clientSessions.erase(g_clientSessions.begin());
    return TRUE;
}

DWORD WINAPI Console() {
    Locked locked;
    return g_console;
}

}  // namespace

SessionStandin::SessionStandin() : launch_(g_faceLaunch), sessions_(g_faceSessions) {
    Locked locked;
    g_rows.clear();
    g_console = 1;
    g_clientSessions.clear();
    g_asked.clear();
    g_started.clear();
    g_listings = 0;
    g_tokens.clear();
    g_faceLaunch = {EnumerateSessions, FreeSessions, QueryUserToken, CreateAsUser, TokenInformation};
    g_faceSessions = {ClientSession, Console};
}

SessionStandin::~SessionStandin() {
    g_faceLaunch = launch_;
    g_faceSessions = sessions_;
}

void SessionStandin::Sessions(const std::vector<SessionRow>& rows) {
    Locked locked;
    g_rows = rows;
}

void SessionStandin::ConsoleSession(DWORD session) {
    Locked locked;
    g_console = session;
}

void SessionStandin::NextClientSessions(const std::vector<DWORD>& sessions) {
    Locked locked;
    g_clientSessions = sessions;
}

std::vector<DWORD> SessionStandin::Asked() const {
    Locked locked;
    return g_asked;
}

std::vector<StartedFace> SessionStandin::Started() const {
    Locked locked;
    return g_started;
}

int SessionStandin::Listings() const {
    Locked locked;
    return g_listings;
}
