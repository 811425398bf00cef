// Windows-side half of run-idle-bench.sh and run-service-bench.sh.
//   bench_launch start EXE CLASS NAME [ARGS]  starts EXE, prints the ms until its window exists
//   bench_launch end CLASS NAME               sends WM_DESTROY to the window, waits for the exit
//   bench_launch icon EXE FILE                starts Kalnix.exe EXE, appends to FILE the ms until
//                                             its notification-area icon exists, then ends it
// (FindWindow sees only this desktop: run `icon` in the desktop whose notification area counts.)
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HWND FindOwnedWindow(const wchar_t* windowClass, const wchar_t* name, DWORD pid) {
    HWND found = FindWindowW(windowClass, name);
    DWORD owner = 0;
    if (found) GetWindowThreadProcessId(found, &owner);
    return found && (pid == 0 || owner == pid) ? found : nullptr;
}

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

bool Launch(const wchar_t* exe, const wchar_t* args, PROCESS_INFORMATION* process) {
    std::wstring line = std::wstring(L"\"") + exe + L"\"" + (args ? std::wstring(L" ") + args : L"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process)) return true;
    fwprintf(stderr, L"cannot start %ls: %lu\n", exe, GetLastError());
    return false;
}

// A modification that changes nothing succeeds only for an icon that exists (Kalnix's is id 1).
bool IconShown(HWND window) {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = NOTIFYICONDATAW_V2_SIZE;
    probe.hWnd = window;
    probe.uID = 1;
    return window && Shell_NotifyIconW(NIM_MODIFY, &probe);
}

// The ms from the start until `ready` holds for the program's window; -1 after 20 s.
template <class Ready>
double TimeUntil(const wchar_t* exe, const wchar_t* args, const wchar_t* windowClass, const wchar_t* name,
                 Ready ready, PROCESS_INFORMATION* process) {
    double begin = NowMs();
    if (!Launch(exe, args, process)) return -1;
    for (;;) {
        double ms = NowMs() - begin;
        if (ready(FindOwnedWindow(windowClass, name, process->dwProcessId))) return ms;
        if (ms > 20000) return -1;
        Sleep(1);
    }
}

int Start(const wchar_t* exe, const wchar_t* windowClass, const wchar_t* name, const wchar_t* args) {
    PROCESS_INFORMATION process = {};
    double ms = TimeUntil(exe, args, windowClass, name, [](HWND window) { return window != nullptr; }, &process);
    if (ms >= 0) wprintf(L"%.1f\n", ms);
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    return ms >= 0 ? 0 : 1;
}

int End(const wchar_t* windowClass, const wchar_t* name) {
    HWND window = FindOwnedWindow(windowClass, name, 0);
    if (!window) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    SendMessageTimeoutW(window, WM_DESTROY, 0, 0, SMTO_NORMAL, 10000, nullptr);
    DWORD waited = process ? WaitForSingleObject(process, 10000) : WAIT_FAILED;
    if (process) CloseHandle(process);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

int Icon(const wchar_t* exe, const wchar_t* file) {
    PROCESS_INFORMATION process = {};
    double ms = TimeUntil(exe, nullptr, L"KalnixWndClass", L"KalnixWnd", IconShown, &process);
    FILE* out = _wfopen(file, L"a");
    if (out) {
        fwprintf(out, L"%.1f\n", ms);
        fclose(out);
    }
    int ended = End(L"KalnixWndClass", L"KalnixWnd");
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    return ms >= 0 && out && ended == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if ((argc == 5 || argc == 6) && !wcscmp(argv[1], L"start"))
        return Start(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    if (argc == 4 && !wcscmp(argv[1], L"end")) return End(argv[2], argv[3]);
    if (argc == 4 && !wcscmp(argv[1], L"icon")) return Icon(argv[2], argv[3]);
    fwprintf(stderr, L"usage: bench_launch start EXE CLASS NAME [ARGS] | end CLASS NAME | icon EXE FILE\n");
    return 2;
}
