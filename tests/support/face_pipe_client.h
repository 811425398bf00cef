#pragma once

#include <windows.h>

#include <functional>

#include "common/face_link.h"

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
