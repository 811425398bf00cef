// The least a tray program can be: one hidden window and a message loop. The idle
// benchmark sets Kalnix.exe against it. Built a second time with Kalnix's manifest and
// system imports (BENCH_WITH_IMPORTS), to tell what the platform costs from what Kalnix adds.
// A number on the command line starts that many more threads, each waiting for ever: what Wine
// charges for a thread.
#include <windows.h>

#include <cstdlib>
#if defined(BENCH_WITH_IMPORTS)
#include <shellapi.h>
#include <powrprof.h>
#endif

#if defined(BENCH_WITH_IMPORTS)
#define BENCH_CLASS L"ImportsWndClass"
#define BENCH_NAME L"ImportsWnd"
#else
#define BENCH_CLASS L"BaselineWndClass"
#define BENCH_NAME L"BaselineWnd"
#endif

namespace {

LRESULT CALLBACK BaselineWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

DWORD WINAPI Park(void*) {
    Sleep(INFINITE);
    return 0;
}

}  // namespace

#if defined(BENCH_WITH_IMPORTS)
// Referenced, never called: only the loading of the libraries is wanted.
extern const void* const g_benchImports[];
const void* const g_benchImports[] = {
    reinterpret_cast<const void*>(&Shell_NotifyIconW), reinterpret_cast<const void*>(&AlphaBlend),
    reinterpret_cast<const void*>(&ReadGlobalPwrPolicy), reinterpret_cast<const void*>(&CheckTokenMembership)};
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    for (int i = atoi(commandTail); i > 0; --i) {
        HANDLE thread = CreateThread(nullptr, 0, Park, nullptr, 0, nullptr);
        if (thread) CloseHandle(thread);
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = BaselineWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = BENCH_CLASS;
    RegisterClassExW(&windowClass);
    CreateWindowExW(WS_EX_TOOLWINDOW, BENCH_CLASS, BENCH_NAME, WS_POPUP, CW_USEDEFAULT, 0,
                    CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
