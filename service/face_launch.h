#pragma once

#include <windows.h>
#include <wtsapi32.h>

// Starts Kalnix.exe as the face of a signed-in user's session, with that user's own token and
// never elevated: at each log-on, and when the service starts for the sessions already there
// (after an upgrade run by a deployment tool, or a restart after a failure).

// A session with a user in it, active or disconnected, that has no face yet gets one. A start
// that fails is logged and reported (event 1012) with the error.
// `fresh`: the face says once that Kalnix now protects the laptop (the service's own start, after
// an installation or an upgrade).
void StartFaceInSession(DWORD sessionId, bool fresh = false);
void StartFacesInEverySession(bool fresh);

// What Wine cannot show: sessions, users' tokens, elevation, processes started as another user.
struct FaceLaunchCalls {
    decltype(&::WTSEnumerateSessionsW) enumerateSessions;
    decltype(&::WTSFreeMemory) freeMemory;
    decltype(&::WTSQueryUserToken) queryUserToken;
    decltype(&::CreateProcessAsUserW) createProcessAsUser;
    decltype(&::GetTokenInformation) getTokenInformation;
};
extern FaceLaunchCalls g_faceLaunch;
