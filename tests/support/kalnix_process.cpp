#include "support/kalnix_process.h"

#include <tlhelp32.h>

#include "support/test_support.h"

KalnixProcess::~KalnixProcess() {
    if (!process_.hProcess) return;
    // An orderly end releases the protection, so the next test starts from a clean policy.
    if (Running() && window_) SendMessageTimeoutW(window_, WM_DESTROY, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) Kill();
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

bool KalnixProcess::Prepare(const wchar_t* scratchName) {
    directory_ = MakeScratchDirectory(scratchName);
    return CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", Exe());
}

bool KalnixProcess::Start(const wchar_t* tail) {
    return StartProgram(Exe(), tail) && WaitForWindow(15000);
}

bool KalnixProcess::StartProgram(const std::wstring& program, const wchar_t* tail, const wchar_t* desktop) {
    if (process_.hProcess) return false;  // one process per helper
    std::wstring command = L"\"" + program + L"\"" + tail;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    std::wstring desktopName = desktop ? desktop : L"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (desktop) startup.lpDesktop = &desktopName[0];
    const wchar_t* folder = directory_.empty() ? nullptr : directory_.c_str();
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process_) !=
           FALSE;
}

bool KalnixProcess::WaitForWindow(DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            for (HWND window : KalnixTrayWindows()) {
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner == process_.dwProcessId) {
                    window_ = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

DWORD KalnixProcess::End(DWORD* elapsedMs) {
    DWORD start = GetTickCount();
    SendMessageTimeoutW(window_, WM_DESTROY, 0, 0, SMTO_NORMAL, 10000, nullptr);
    DWORD code = ExitCode();
    if (elapsedMs) *elapsedMs = GetTickCount() - start;
    return code;
}

DWORD KalnixProcess::ExitCode(DWORD timeoutMs) const {
    DWORD code = static_cast<DWORD>(-1);
    if (process_.hProcess && WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void KalnixProcess::Kill() const {
    if (!Running()) return;
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
}

bool KalnixProcess::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::string KalnixProcess::Log() const {
    return ReadFileBytes(LogPath());
}

bool KalnixProcess::WaitForLogLine(const std::string& line, DWORD timeoutMs) const {
    constexpr DWORD kQuietMs = 200;
    DWORD lastSize = 0, readSize = 0, changedAt = GetTickCount();
    return WaitUntil([&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        DWORD size = GetFileAttributesExW(LogPath().c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
        if (size != lastSize) {
            lastSize = size;
            changedAt = GetTickCount();
            return false;
        }
        if (size == readSize || GetTickCount() - changedAt < kQuietMs) return false;
        readSize = size;
        return Log().find(line) != std::string::npos;
    }, timeoutMs);
}

std::vector<HWND> KalnixTrayWindows() {
    std::vector<HWND> windows;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"KalnixWndClass", L"KalnixWnd")) != nullptr;)
        windows.push_back(w);
    return windows;
}

std::vector<DWORD> KalnixProcessIds() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, L"Kalnix.exe") == 0) ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

bool KillKalnixProcesses() {
    for (DWORD id : KalnixProcessIds()) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process) return false;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    return true;
}

bool StartKalnixLeftRunning(const std::wstring& exe) {
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}
