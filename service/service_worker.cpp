#include "service/service_worker.h"

#include <wtsapi32.h>

#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "protect/protection_run.h"
#include "service/face_launch.h"
#include "service/face_server.h"
#include "service/service_host.h"
#include "service/service_status.h"
#include "service/settings_watch.h"

namespace {

constexpr const wchar_t* kWorkerWindowClass = L"KalnixServiceWindow";
// Room for the stop event, the settings keys and every face's pipe events.
constexpr int kMostWaits = MAXIMUM_WAIT_OBJECTS - 1;
constexpr DWORD kStoppedByError = 1;

HANDLE g_stopRequested = nullptr;
HWND g_window = nullptr;
// The worker's window exists from here on; the control handler's thread reads it.
SRWLOCK g_windowLock = SRWLOCK_INIT;

void SetWorkerWindow(HWND window) {
    AcquireSRWLockExclusive(&g_windowLock);
    g_window = window;
    ReleaseSRWLockExclusive(&g_windowLock);
}

void OnServicePower(HWND window, WPARAM event, LPARAM setting) {
    LRESULT result = 0;
    HandleProtectionMessage(WM_POWERBROADCAST, event, setting, &result);
    if (setting) HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(setting));
    (void)window;
}

void OnServiceSession(WPARAM event, DWORD sessionId) {
    switch (event) {
    // A user signed in: that session gets its face.
    case WTS_SESSION_LOGON: StartFaceInSession(sessionId); break;
    // Another session has the laptop's screen and keyboard now: its face is the ears.
    case WTS_CONSOLE_CONNECT:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_SESSION_LOGOFF: OnConsoleSessionChange(); break;
    }
}

LRESULT CALLBACK ServiceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kServicePowerMessage:   OnServicePower(window, wParam, lParam); return 0;
    case kServiceSessionMessage: OnServiceSession(wParam, static_cast<DWORD>(lParam)); return 0;
    case WM_DESTROY:             EndServiceProtection(); PostQuitMessage(0); return 0;
    }
    LRESULT result = 0;
    if (HandleProtectionMessage(message, wParam, lParam, &result)) return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateWorkerWindow() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = ServiceWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWorkerWindowClass;
    RegisterClassExW(&windowClass);
    // Message-only: nobody's desktop shows it, and no broadcast reaches it.
    return CreateWindowExW(0, kWorkerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Every message waiting; false once the loop is to end.
bool PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return false;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

void OnHandleSignalled(HANDLE signalled) {
    if (SettingsWatchSignalled(signalled)) return OnServiceSettingsChanged();
    FaceServerSignalled(signalled);
}

// The loop of the protection's thread: its messages and timers, the settings keys and the
// faces' pipe, until the stop.
void RunLoop(HWND window) {
    bool stopping = false;
    for (;;) {
        HANDLE waits[kMostWaits + 1];
        int count = 0;
        if (!stopping) waits[count++] = g_stopRequested;
        count += SettingsWatchHandles(waits + count, kMostWaits - count);
        count += FaceServerHandles(waits + count, kMostWaits - count);
        DWORD result = MsgWaitForMultipleObjectsEx(count, waits, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result < WAIT_OBJECT_0 + count) {
            HANDLE signalled = waits[result - WAIT_OBJECT_0];
            if (signalled == g_stopRequested) {
                stopping = true;
                DestroyWindow(window);  // the quit message follows
            } else {
                OnHandleSignalled(signalled);
            }
        } else if (result == WAIT_FAILED) {
            LogFormatted(L"MWFMO Failed: %d\n", static_cast<int>(GetLastError()));
            return;
        }
        if (!PumpMessages()) return;
    }
}

}  // namespace

DWORD RunServiceWorker() {
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stopRequested) return kStoppedByError;
    ScopedHandle stopRequested(g_stopRequested);
    HWND window = CreateWorkerWindow();
    if (!window) {
        LogFormatted(L"CWE Failed: %d\n", static_cast<int>(GetLastError()));
        return kStoppedByError;
    }
    SetWorkerWindow(window);
    StartSettingsWatch();
    StartServiceProtection(window);
    ReportServiceState(SERVICE_RUNNING);
    // After protection is applied: a face that comes finds the state it is to show.
    StartFacesInEverySession(true);
    RunLoop(window);
    SetWorkerWindow(nullptr);
    EndServiceProtection();
    StopSettingsWatch();
    g_stopRequested = nullptr;
    return NO_ERROR;
}

void RequestServiceStop() {
    if (g_stopRequested) SetEvent(g_stopRequested);
}

bool PostToServiceWorker(UINT message, WPARAM wParam, LPARAM lParam) {
    AcquireSRWLockShared(&g_windowLock);
    bool posted = g_window && PostMessageW(g_window, message, wParam, lParam);
    ReleaseSRWLockShared(&g_windowLock);
    return posted;
}
