#include "support/face_pipe_client.h"

#include "common/protection_service_names.h"

namespace {

constexpr DWORD kStepMs = 20;

}  // namespace

FacePipeClient::FacePipeClient()
    : pipe_(CreateFileW(kProtectionPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (pipe_ != INVALID_HANDLE_VALUE) SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
}

FacePipeClient::~FacePipeClient() { Close(); }

void FacePipeClient::Close() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
}

bool FacePipeClient::Send(const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(pipe_, bytes, size, &written, nullptr) && written == size;
}

bool FacePipeClient::Receive(LinkMessage* message, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += kStepMs) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0) break;
        if (waited >= timeoutMs) return false;
        if (serve) serve();
        else Sleep(kStepMs);
    }
    BYTE bytes[kLinkMaxMessageBytes];
    DWORD read = 0;
    if (!ReadFile(pipe_, bytes, sizeof(bytes), &read, nullptr)) return false;
    const wchar_t* why = nullptr;
    return ReadLinkMessage(bytes, read, LinkSender::Service, message, &why);
}

bool FacePipeClient::ReceiveKind(LinkKind kind, LinkMessage* message, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (!Receive(message, timeoutMs - (GetTickCount() - start))) return false;
        if (message->header.kind == static_cast<UINT16>(kind)) return true;
    }
    return false;
}

bool FacePipeClient::Dropped(DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += kStepMs) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return true;
        if (serve) serve();
        else Sleep(kStepMs);
    }
    return false;
}

bool FacePipeClient::Greet(LinkMessage* welcome) {
    return Send(MakeLinkMessage(LinkKind::Hello)) && Receive(welcome) &&
           welcome->header.kind == static_cast<UINT16>(LinkKind::Welcome);
}
