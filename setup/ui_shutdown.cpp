#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

namespace {

// The tray window answers WM_DESTROY within a few milliseconds; a window that has not
// answered after this long is treated as hung and its process is ended below.
constexpr UINT kSendTimeoutMs = 5000;
// How long the tray application gets to leave by its own path before it is terminated.
constexpr DWORD kExitWaitMs = 5000;

// Waits for the process to end on its own and terminates it when it does not.
void EndProcessOf(DWORD processId) {
    ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
    if (!process.valid()) return;  // already gone, or not ours to end
    if (WaitForSingleObject(process.get(), kExitWaitMs) == WAIT_TIMEOUT) TerminateProcess(process.get(), 0);
}

bool SamePath(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

const wchar_t* FileNameOf(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// Ends the process when its image is `imagePath`. False only when such a process could not
// be ended; one that cannot be opened is not one this caller could end, and is passed over.
bool EndIfImageIs(DWORD processId, const wchar_t* imagePath) {
    ScopedHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    if (!process.valid()) return true;
    wchar_t image[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &size) || !SamePath(image, imagePath)) return true;
    // A process that is ending already cannot be terminated again.
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return true;
    if (!TerminateProcess(process.get(), 0)) {
        LogFormatted(L"CA: TerminateProcess failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    WaitForSingleObject(process.get(), kExitWaitMs);
    LogFormatted(L"CA: Ended process %d", static_cast<int>(processId));
    return true;
}

}  // namespace

bool __stdcall TerminateUIProcess() {
    HWND window = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
    if (!window) return false;

    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);

    // The application's own WM_DESTROY handling releases the protection and ends its loop.
    // The send is bounded so a window that never answers cannot hang the setup program.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_DESTROY, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);

    if (processId != 0) EndProcessOf(processId);
    return true;
}

bool __stdcall EndInstalledKalnix(const wchar_t* kalnixPath) {
    LogMessage(L"CA: Entering EndInstalledKalnix");
    ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        LogFormatted(L"CA: CreateToolhelp32Snapshot failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    // Only processes of the same file name are opened to read their full image path.
    const wchar_t* name = FileNameOf(kalnixPath);
    bool allEnded = true;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (SamePath(entry.szExeFile, name) && !EndIfImageIs(entry.th32ProcessID, kalnixPath)) allEnded = false;
    }
    return allEnded;
}
