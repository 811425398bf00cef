#include <windows.h>

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
