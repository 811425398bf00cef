// Stands in for a tray application that does not leave when asked: its window has the
// tray window's class and name.
//   --stays  handles WM_DESTROY (signals "KalnixStandInDestroyed") and keeps running
//   --hung   creates the window and blocks its thread, so a sent message is never answered
#include <windows.h>

#include <cwchar>

namespace {

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        HANDLE destroyed = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KalnixStandInDestroyed");
        if (destroyed) {
            SetEvent(destroyed);
            CloseHandle(destroyed);
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = StandInProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KalnixWndClass";
    if (!RegisterClassW(&windowClass)) return 2;
    if (!CreateWindowW(L"KalnixWndClass", L"KalnixWnd", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       windowClass.hInstance, nullptr))
        return 3;
    if (argc > 1 && wcscmp(argv[1], L"--hung") == 0) Sleep(INFINITE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 1;
}
