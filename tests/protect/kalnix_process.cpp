#include "kalnix_process.h"

#include <vector>

#include "support/power_standin.h"
#include "support/test_support.h"

KalnixProcess::~KalnixProcess() {
    if (!process_.hProcess) return;
    if (running()) TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

bool KalnixProcess::Prepare(const wchar_t* scratchName) {
    directory_ = MakeScratchDirectory(scratchName);
    return CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", directory_ + L"\\Kalnix.exe") &&
           CopyPowerStandinTo(directory_);
}

bool KalnixProcess::Start() {
    std::wstring command = L"\"" + directory_ + L"\\Kalnix.exe\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory_.c_str(), &startup,
                        &process_)) {
        return false;
    }
    return WaitUntil(
        [&] {
            HWND found = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
            DWORD owner = 0;
            if (found) GetWindowThreadProcessId(found, &owner);
            if (owner != process_.dwProcessId) return false;
            window_ = found;
            return true;
        },
        10000);
}

DWORD KalnixProcess::End(DWORD* elapsedMs) {
    DWORD start = GetTickCount();
    SendMessageTimeoutW(window_, WM_DESTROY, 0, 0, SMTO_NORMAL, 10000, nullptr);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(process_.hProcess, &code);
    if (elapsedMs) *elapsedMs = GetTickCount() - start;
    return code;
}

bool KalnixProcess::running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::string KalnixProcess::Log() const {
    return ReadFileBytes(directory_ + L"\\Kalnix.log");
}

bool ExportsName(const std::wstring& path, const char* name) {
    // Mapped only, never run: enough for the export table.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) return false;
    bool found = GetProcAddress(module, name) != nullptr;
    FreeLibrary(module);
    return found;
}
