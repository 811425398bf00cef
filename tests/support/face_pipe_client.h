#pragma once

#include <windows.h>

#include <functional>

#include "common/face_link.h"
#include "service/face_server.h"

// A test's face on the protection service's pipe: what a Kalnix in a session sends and reads,
// with the pipe's bytes as they are. `serve`, where given, is run while a message is awaited
// (a server in the test's own process); otherwise the wait is bounded only.
class FacePipeClient {
public:
    FacePipeClient();
    ~FacePipeClient();
    FacePipeClient(const FacePipeClient&) = delete;
    FacePipeClient& operator=(const FacePipeClient&) = delete;

    bool Open() const { return pipe_ != INVALID_HANDLE_VALUE; }
    void Close();
    bool Send(const void* bytes, DWORD size);
    bool Send(const LinkMessage& message) { return Send(&message, message.header.size); }
    // The next message, read within `timeoutMs`; false when none came or it was no message.
    bool Receive(LinkMessage* message, DWORD timeoutMs = 5000);
    // The next message of `kind`, skipping others, within `timeoutMs`.
    bool ReceiveKind(LinkKind kind, LinkMessage* message, DWORD timeoutMs = 5000);
    // True once the other end has closed the connection, within `timeoutMs`.
    bool Dropped(DWORD timeoutMs = 5000);
    // Hello, then the Welcome.
    bool Greet(LinkMessage* welcome);

    std::function<void()> serve;

private:
    HANDLE pipe_;
};

// A `serve` for faces whose server runs in the test's own process: hands it every pipe event
// signalled within a short wait. Inline, so that programs without the server need not link it.
inline void ServeFaceServerOnce() {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    int count = FaceServerHandles(handles, MAXIMUM_WAIT_OBJECTS);
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, 20);
    if (result < WAIT_OBJECT_0 + count) FaceServerSignalled(handles[result - WAIT_OBJECT_0]);
}
