#include "service/face_pipe.h"

#include <sddl.h>

#include <cstring>

#include "common/diagnostic_log.h"
#include "common/protection_service_names.h"
#include "common/scoped_handle.h"

struct FaceConnection {
    HANDLE pipe;
    OVERLAPPED read;
    OVERLAPPED write;
    bool reading;
    bool writing;
    bool closeWhenSent;
    BYTE readBuffer[kLinkMaxMessageBytes];
    LinkMessage queue[kFaceSendQueue];
    int queueStart;
    int queued;
    FaceRecord record;
};

namespace {

constexpr DWORD kPipeBufferBytes = 4096;

FacePipeEvents g_events = {};
FaceConnection* g_connections[kMaxFaceConnections] = {};
// The instance waiting for the next client.
HANDLE g_listening = nullptr;
OVERLAPPED g_connect = {};
bool g_firstInstanceMade = false;

HANDLE CreateInstance() {
    ScopedLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kFacePipeSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        LogFormatted(L"CSSD Failed: %d\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    // The first instance must be the service's own: a pipe of that name made earlier by anyone
    // else makes this fail rather than join it.
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (g_firstInstanceMade ? 0 : FILE_FLAG_FIRST_PIPE_INSTANCE);
    HANDLE pipe = CreateNamedPipeW(kProtectionPipeName, openMode,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, &attributes);
    if (pipe == INVALID_HANDLE_VALUE) {
        LogFormatted(L"CNP Failed: %d\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    g_firstInstanceMade = true;
    return pipe;
}

// Waits for the next client on a fresh instance. A client that came between the instance's
// creation and this call is connected already: the event is set by hand then.
void Listen() {
    g_listening = CreateInstance();
    if (!g_listening) return;
    ResetEvent(g_connect.hEvent);
    if (ConnectNamedPipe(g_listening, &g_connect)) return;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) SetEvent(g_connect.hEvent);
    else if (error != ERROR_IO_PENDING) {
        LogFormatted(L"CNPI Failed: %d\n", static_cast<int>(error));
        CloseHandle(g_listening);
        g_listening = nullptr;
    }
}

void StartRead(FaceConnection* c) {
    ResetEvent(c->read.hEvent);
    c->reading = true;
    if (!ReadFile(c->pipe, c->readBuffer, sizeof(c->readBuffer), nullptr, &c->read)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
            // Broken: the wait sees the event and the result says so.
            SetEvent(c->read.hEvent);
        }
    }
}

void StartWrite(FaceConnection* c) {
    if (c->writing || c->queued == 0) return;
    const LinkMessage& message = c->queue[c->queueStart];
    ResetEvent(c->write.hEvent);
    c->writing = true;
    if (!WriteFile(c->pipe, &message, message.header.size, nullptr, &c->write) && GetLastError() != ERROR_IO_PENDING)
        SetEvent(c->write.hEvent);
}

// Waits for an operation the cancel has ended: its buffer must outlive it.
void Settle(FaceConnection* c, OVERLAPPED* operation, bool pending) {
    if (!pending) return;
    DWORD bytes = 0;
    GetOverlappedResult(c->pipe, operation, &bytes, TRUE);
}

void Release(FaceConnection* c) {
    for (FaceConnection*& slot : g_connections) {
        if (slot == c) slot = nullptr;
    }
    CancelIoEx(c->pipe, nullptr);
    Settle(c, &c->read, c->reading);
    Settle(c, &c->write, c->writing);
    DisconnectNamedPipe(c->pipe);
    CloseHandle(c->pipe);
    CloseHandle(c->read.hEvent);
    CloseHandle(c->write.hEvent);
    HeapFree(GetProcessHeap(), 0, c);
}

void End(FaceConnection* c) {
    if (g_events.ended) g_events.ended(c);
    Release(c);
}

FaceConnection* Adopt(HANDLE pipe) {
    auto* c = static_cast<FaceConnection*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FaceConnection)));
    if (!c) return nullptr;
    c->pipe = pipe;
    c->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    c->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!c->read.hEvent || !c->write.hEvent) {
        if (c->read.hEvent) CloseHandle(c->read.hEvent);
        if (c->write.hEvent) CloseHandle(c->write.hEvent);
        HeapFree(GetProcessHeap(), 0, c);
        return nullptr;
    }
    return c;
}

void OnClientConnected() {
    HANDLE pipe = g_listening;
    g_listening = nullptr;
    DWORD bytes = 0;
    bool connected = GetOverlappedResult(pipe, &g_connect, &bytes, FALSE) || GetLastError() == ERROR_PIPE_CONNECTED;
    Listen();
    int free = -1;
    for (int i = 0; i < kMaxFaceConnections; ++i) {
        if (!g_connections[i]) {
            free = i;
            break;
        }
    }
    ULONG clientProcessId = 0;
    FaceConnection* c = connected && free >= 0 ? Adopt(pipe) : nullptr;
    if (!c) {
        if (connected && free < 0) LogMessage(L"A face could not connect: too many are connected\n");
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
        return;
    }
    g_connections[free] = c;
    GetNamedPipeClientProcessId(pipe, &clientProcessId);
    if (g_events.connected) g_events.connected(c, clientProcessId);
    // The server may have closed it at once (an unknown client).
    if (FaceConnected(c)) StartRead(c);
}

void OnReadDone(FaceConnection* c) {
    c->reading = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(c->pipe, &c->read, &bytes, FALSE)) {
        DWORD error = GetLastError();
        // More than the largest message: a bad one, which ends the connection like any other.
        if (error == ERROR_MORE_DATA && g_events.oversized) g_events.oversized(c);
        return End(c);
    }
    // After its refusal a face is no longer heard; only its closing is waited for.
    if (g_events.received && !c->closeWhenSent) g_events.received(c, c->readBuffer, bytes);
    if (FaceConnected(c)) StartRead(c);
}

void OnWriteDone(FaceConnection* c) {
    c->writing = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(c->pipe, &c->write, &bytes, FALSE)) return End(c);
    c->queueStart = (c->queueStart + 1) % kFaceSendQueue;
    --c->queued;
    // A refused face's last word stays in the pipe until it has read it: disconnecting now
    // would discard it. The face closes its end, which ends the read.
    StartWrite(c);
}

}  // namespace

bool StartFacePipe(const FacePipeEvents& events) {
    g_events = events;
    g_firstInstanceMade = false;
    g_connect = {};
    g_connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_connect.hEvent) return false;
    Listen();
    return g_listening != nullptr;
}

void StopFacePipe() {
    for (FaceConnection* c : g_connections) {
        if (c) End(c);
    }
    if (g_listening) {
        CancelIoEx(g_listening, &g_connect);
        DWORD bytes = 0;
        GetOverlappedResult(g_listening, &g_connect, &bytes, TRUE);
        CloseHandle(g_listening);
        g_listening = nullptr;
    }
    if (g_connect.hEvent) CloseHandle(g_connect.hEvent);
    g_connect = {};
}

int FacePipeHandles(HANDLE* handles, int room) {
    int count = 0;
    if (g_listening && count < room) handles[count++] = g_connect.hEvent;
    for (FaceConnection* c : g_connections) {
        if (!c) continue;
        if (c->reading && count < room) handles[count++] = c->read.hEvent;
        if (c->writing && count < room) handles[count++] = c->write.hEvent;
    }
    return count;
}

bool FacePipeSignalled(HANDLE signalled) {
    if (g_listening && signalled == g_connect.hEvent) {
        OnClientConnected();
        return true;
    }
    for (FaceConnection* c : g_connections) {
        if (!c) continue;
        if (c->reading && signalled == c->read.hEvent) {
            OnReadDone(c);
            return true;
        }
        if (c->writing && signalled == c->write.hEvent) {
            OnWriteDone(c);
            return true;
        }
    }
    return false;
}

bool SendOnFaceConnection(FaceConnection* c, const LinkMessage& message) {
    if (c->closeWhenSent) return false;
    if (c->queued == kFaceSendQueue) {
        LogFormatted(L"A face in session %u does not read its messages: its connection is closed\n",
                     static_cast<unsigned>(c->record.sessionId));
        End(c);
        return false;
    }
    c->queue[(c->queueStart + c->queued) % kFaceSendQueue] = message;
    ++c->queued;
    StartWrite(c);
    return true;
}

void CloseFaceConnectionAfterSend(FaceConnection* c) { c->closeWhenSent = true; }

void CloseFaceConnection(FaceConnection* c) { End(c); }

FaceRecord* RecordOf(FaceConnection* c) { return &c->record; }

int FaceConnections(FaceConnection** connections) {
    int count = 0;
    for (FaceConnection* c : g_connections) {
        if (c) connections[count++] = c;
    }
    return count;
}

bool FaceConnected(const FaceConnection* connection) {
    for (const FaceConnection* c : g_connections) {
        if (c && c == connection) return true;
    }
    return false;
}
