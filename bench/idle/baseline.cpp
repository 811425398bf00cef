// The least a tray program can be: one hidden window and a message loop. The idle
// benchmark sets Kalnix.exe against it.
#include <windows.h>

namespace {

LRESULT CALLBACK BaselineWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = BaselineWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"BaselineWndClass";
    RegisterClassExW(&windowClass);
    CreateWindowExW(WS_EX_TOOLWINDOW, L"BaselineWndClass", L"BaselineWnd", WS_POPUP, CW_USEDEFAULT, 0,
                    CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
