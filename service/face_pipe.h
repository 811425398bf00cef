#pragma once

#include <windows.h>

#include "common/face_link.h"

// The service's end of the faces' pipe: one listening instance and up to kMaxFaceConnections
// connected ones, all overlapped, waited on by the worker beside its messages. Whatever a
// client may send is read into a buffer of the largest message's size: more is a bad message.

constexpr int kMaxFaceConnections = 16;
// What a face that does not read may have waiting before it is dropped.
constexpr int kFaceSendQueue = 8;

// The pipe's permissions: SYSTEM may do anything, interactive users may connect, read and write,
// and nothing more (no new instance of the pipe: nobody can stand in for the service).
constexpr const wchar_t* kFacePipeSddl = L"D:P(A;;GA;;;SY)(A;;0x12018b;;;IU)";

struct FaceConnection;

// What arrives, handed to the server: a connection, a message read on one, or a connection ended
// (closed by the client, broken, or closed here).
struct FacePipeEvents {
    void (*connected)(FaceConnection* connection, DWORD clientProcessId);
    void (*received)(FaceConnection* connection, const BYTE* bytes, DWORD size);
    // A message longer than any there is.
    void (*oversized)(FaceConnection* connection);
    void (*ended)(FaceConnection* connection);
};

bool StartFacePipe(const FacePipeEvents& events);
// Ends every connection (each told `ended`) and the listening instance.
void StopFacePipe();
int FacePipeHandles(HANDLE* handles, int room);
bool FacePipeSignalled(HANDLE signalled);

// Queues a message; false, with the connection ended, when its queue is full.
bool SendOnFaceConnection(FaceConnection* connection, const LinkMessage& message);
// Sends nothing more and hears nothing more on the connection, which ends when the client
// closes it, once it has read what was queued (a refusal's last word).
void CloseFaceConnectionAfterSend(FaceConnection* connection);
void CloseFaceConnection(FaceConnection* connection);

// The server's own record of a connection, kept with it.
struct FaceRecord {
    bool greeted;      // Hello came
    bool accepted;     // a face of its session, welcome
    bool distrustLogged;
    DWORD sessionId;
    DWORD processId;
};
FaceRecord* RecordOf(FaceConnection* connection);
// The connections now, into room for kMaxFaceConnections; their count. Sending may end one:
// ask FaceConnected before each use of the list.
int FaceConnections(FaceConnection** connections);
bool FaceConnected(const FaceConnection* connection);
