#pragma once

#include <windows.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "service/face_launch.h"
#include "service/face_server.h"

// The sessions of a laptop and their users' tokens, for the service's start of its faces and its
// look at who is at the console (g_faceLaunch, g_faceSessions): Wine names no session, hands out
// no token but a full administrator's, and puts every program in session 1. The tokens are
// events that stand for them; what each is comes from the stand-in's answers about it. A face
// the service starts is recorded, not run. For the life of the scope.
enum class Token { Limited, ElevatedWithLinked, ElevatedAlone, Unreadable };

struct SessionRow {
    DWORD id;
    WTS_CONNECTSTATE_CLASS state;
    Token token;
    DWORD queryError;   // WTSQueryUserToken fails with it (0: the user's token)
    DWORD createError;  // CreateProcessAsUser fails with it (0: started)
};

struct StartedFace {
    DWORD session;
    bool limited;  // the token it was given holds no administrator's rights
    std::wstring commandLine, desktop;
    DWORD flags;
};

class SessionStandin {
public:
    SessionStandin();
    ~SessionStandin();
    SessionStandin(const SessionStandin&) = delete;
    SessionStandin& operator=(const SessionStandin&) = delete;
    // The sessions as WTSEnumerateSessionsW lists them (a later call sees a change).
    void Sessions(const std::vector<SessionRow>& rows);
    void ConsoleSession(DWORD session);
    // The session of each pipe client the service looks up next, in the order they connect.
    void NextClientSessions(const std::vector<DWORD>& sessions);
    // Sessions whose user's token was asked for, and the faces started, in order; the number of
    // complete session listings. The service's thread writes them: read once it is done.
    std::vector<DWORD> Asked() const;
    std::vector<StartedFace> Started() const;
    int Listings() const;

private:
    FaceLaunchCalls launch_;
    FaceSessionCalls sessions_;
};
