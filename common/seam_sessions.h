#pragma once

#include <windows.h>
#include <aclapi.h>

// Stand-ins for who runs Kalnix and who is at the laptop: Wine runs everything as one
// administrator in one session, the console's, which is never a remote one, keeps no owners of
// objects, and delivers no input that programs inject. Tests may swap an entry inside a scope
// (tests/support/platform_scope.h).
struct SessionSeam {
    // The administrator test, which always passes under Wine.
    decltype(&::CheckTokenMembership) checkTokenMembership;
    // The single-instance marker: a test lets a second start create it between Kalnix's look
    // and its create, a race Wine cannot be made to run, and hands in a marker of a named owner.
    decltype(&::OpenEventW) openEvent;
    // The owner of that marker and of the lid-sensor driver's events: Wine keeps none
    // faithfully.
    decltype(&::GetSecurityInfo) getSecurityInfo;
    // The console session and whether this one is remote.
    decltype(&::WTSGetActiveConsoleSessionId) activeConsoleSessionId;
    BOOL(WINAPI* isRemoteSession)();
    // Keyboard and mouse records: Windows delivers injected input with no device, Wine none.
    decltype(&::GetRawInputData) getRawInputData;
    // This process's token: Wine's is always a full administrator's, never a limited one.
    decltype(&::GetTokenInformation) getTokenInformation;
};

extern SessionSeam g_sessionSeam;
