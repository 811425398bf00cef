#pragma once

#include <windows.h>

#include "common/face_link.h"

// The faces as the service knows them: one per session, the console session's face its ears
// (a person's input, the displays) and its voice (the alarm's tone, the display-off request).
// Reports are trusted only from the console session's face, checked on the connection, never
// taken from a message. A face that sends a bad message is dropped, with one log line.

// What the faces report, for the protection; and the state each face is given when it comes.
struct FaceReports {
    void (*personInput)(LinkInputSource source);
    void (*displays)(LinkDisplays displays);
    void (*displayOffDone)(bool done);
    // The console session's face came or went (a log-on, a user switch, Exit).
    void (*consoleFaceChanged)(bool present);
    LinkState (*state)();
};

bool StartFaceServer(const FaceReports& reports);
void StopFaceServer();
int FaceServerHandles(HANDLE* handles, int room);
bool FaceServerSignalled(HANDLE signalled);

// To every face (the protection's state), or to the console session's only (false when there
// is none).
void SendToEveryFace(const LinkMessage& message);
bool SendToConsoleFace(const LinkMessage& message);
bool ConsoleFacePresent();
// True when a face of `sessionId` is connected.
bool FaceInSession(DWORD sessionId);
// The console session changed: who is the console's face is looked at again.
void OnConsoleSessionChange();

// Where a client is, looked up by its process: Wine has one session for all.
struct FaceSessionCalls {
    decltype(&::ProcessIdToSessionId) processSession;
    decltype(&::WTSGetActiveConsoleSessionId) consoleSession;
};
extern FaceSessionCalls g_faceSessions;
