// Windows-side half of run-idle-bench.sh.
//   bench_launch start EXE CLASS NAME   starts EXE, prints the ms until its window exists
//   bench_launch end CLASS NAME         sends WM_DESTROY to the window, waits for the exit
#include <windows.h>

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

int Start(const wchar_t* exe, const wchar_t* windowClass, const wchar_t* name) {
    std::wstring line = std::wstring(L"\"") + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"cannot start %ls: %lu\n", exe, GetLastError());
        return 1;
    }
    int result = 1;
    for (;;) {
        QueryPerformanceCounter(&now);
        double ms = (now.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
        if (FindOwnedWindow(windowClass, name, process.dwProcessId)) {
            wprintf(L"%.1f\n", ms);
            result = 0;
            break;
        }
        if (ms > 20000) break;
        Sleep(1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && !wcscmp(argv[1], L"start")) return Start(argv[2], argv[3], argv[4]);
    if (argc == 4 && !wcscmp(argv[1], L"end")) return End(argv[2], argv[3]);
    fwprintf(stderr, L"usage: bench_launch start EXE CLASS NAME | end CLASS NAME\n");
    return 2;
}
