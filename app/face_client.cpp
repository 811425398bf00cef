#include "app/face_client.h"

#include "common/diagnostic_log.h"
#include "common/protection_service_names.h"
#include "common/scoped_handle.h"

namespace {

constexpr DWORD kConnectWaitMs = 2000;
constexpr DWORD kWriteWaitMs = 2000;
constexpr DWORD kReaderStopWaitMs = 2000;
constexpr SIZE_T kReaderStackBytes = 64 * 1024;

struct ClientLink {
    HANDLE pipe;
    HANDLE stopReader;  // manual-reset
    HANDLE reader;
    HWND window;
};
ClientLink g_link = {};

// Reads until the pipe breaks or the stop is asked; each good message goes to the window.
DWORD WINAPI ReadFromService(void*) {
    ScopedHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readDone.valid()) return 1;
    BYTE buffer[kLinkMaxMessageBytes];
    for (;;) {
        OVERLAPPED read = {};
        read.hEvent = readDone.get();
        ResetEvent(readDone.get());
        DWORD bytes = 0;
        if (!ReadFile(g_link.pipe, buffer, sizeof(buffer), nullptr, &read) && GetLastError() != ERROR_IO_PENDING)
            break;
        HANDLE waits[2] = {readDone.get(), g_link.stopReader};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(g_link.pipe, &read);
            GetOverlappedResult(g_link.pipe, &read, &bytes, TRUE);
            return 0;
        }
        if (!GetOverlappedResult(g_link.pipe, &read, &bytes, FALSE)) break;
        LinkMessage message;
        const wchar_t* why = nullptr;
        if (!ReadLinkMessage(buffer, bytes, LinkSender::Service, &message, &why)) {
            LogFormatted(L"The protection service sent a message Kalnix does not understand (%ls)\n", why);
            break;
        }
        auto* copy = static_cast<LinkMessage*>(HeapAlloc(GetProcessHeap(), 0, sizeof(LinkMessage)));
        if (!copy) continue;
        *copy = message;
        if (!PostMessageW(g_link.window, kFaceLinkMessage, 0, reinterpret_cast<LPARAM>(copy)))
            HeapFree(GetProcessHeap(), 0, copy);
    }
    PostMessageW(g_link.window, kFaceLinkLost, 0, 0);
    return 0;
}

// A pipe of the service's name that another process made first would hear the face's reports
// and could tell it anything: the server must be the service itself.
bool ServedByService(HANDLE pipe) {
    ULONG serverProcessId = 0;
    if (!GetNamedPipeServerProcessId(pipe, &serverProcessId)) return false;
    DWORD serviceProcessId = ProtectionServiceProcessId();
    return serviceProcessId != 0 && serverProcessId == serviceProcessId;
}

HANDLE OpenServicePipe() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE pipe = CreateFileW(kProtectionPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(kProtectionPipeName, kConnectWaitMs)) break;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteMessage(HANDLE pipe, const LinkMessage& message) {
    ScopedHandle written(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!written.valid()) return false;
    OVERLAPPED write = {};
    write.hEvent = written.get();
    DWORD bytes = 0;
    if (!WriteFile(pipe, &message, message.header.size, nullptr, &write)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(written.get(), kWriteWaitMs) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &write);
            GetOverlappedResult(pipe, &write, &bytes, TRUE);
            return false;
        }
    }
    return GetOverlappedResult(pipe, &write, &bytes, FALSE) && bytes == message.header.size;
}

}  // namespace

DWORD ProtectionServiceProcessId() {
    ScopedService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) return 0;
    ScopedService service(OpenServiceW(manager.get(), kProtectionServiceName, SERVICE_QUERY_STATUS));
    if (!service.valid()) return 0;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

bool ConnectToService(HWND window) {
    if (g_link.pipe) return true;
    ScopedFile pipe(OpenServicePipe());
    if (!pipe.valid()) return false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
        LogFormatted(L"SNPHS Failed: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    if (!ServedByService(pipe.get())) {
        LogMessage(L"The pipe KalnixProtection is not the protection service's: Kalnix does not use it\n");
        return false;
    }
    if (!WriteMessage(pipe.get(), MakeLinkMessage(LinkKind::Hello))) return false;
    ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop.valid()) return false;
    g_link.window = window;
    g_link.pipe = pipe.release();
    g_link.stopReader = stop.release();
    g_link.reader = CreateThread(nullptr, kReaderStackBytes, ReadFromService, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!g_link.reader) {
        DisconnectFromService();
        return false;
    }
    return true;
}

void DisconnectFromService() {
    if (g_link.reader) {
        SetEvent(g_link.stopReader);
        WaitForSingleObject(g_link.reader, kReaderStopWaitMs);
    }
    // Declared so that the reader's handle closes before the pipe it reads.
    ScopedFile pipe(g_link.pipe ? g_link.pipe : INVALID_HANDLE_VALUE);
    ScopedHandle stop(g_link.stopReader);
    ScopedHandle reader(g_link.reader);
    g_link = {};
}

bool ConnectedToService() { return g_link.pipe != nullptr; }

bool SendToService(const LinkMessage& message) { return g_link.pipe && WriteMessage(g_link.pipe, message); }

void FreeFaceMessage(LPARAM message) {
    if (message) HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(message));
}
