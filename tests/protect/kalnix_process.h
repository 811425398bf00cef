#pragma once

#include <windows.h>

#include <string>

// Kalnix.exe copied into a scratch directory (so its Kalnix.log lands there), started and
// ended as a user or the setup program would: through its tray window.
class KalnixProcess {
public:
    KalnixProcess() = default;
    KalnixProcess(const KalnixProcess&) = delete;
    KalnixProcess& operator=(const KalnixProcess&) = delete;
    ~KalnixProcess();

    // Copies Kalnix.exe and the stand-in powrprof.dll into a fresh scratch directory.
    bool Prepare(const wchar_t* scratchName);
    // Starts the copy and waits for its tray window.
    bool Start();
    // Sends WM_DESTROY to the tray window and waits for the exit; the exit code, or -1.
    DWORD End(DWORD* elapsedMs = nullptr);

    DWORD pid() const { return process_.dwProcessId; }
    HWND window() const { return window_; }
    bool running() const;
    std::string Log() const;

private:
    std::wstring directory_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

// True when the module file exports `name`.
bool ExportsName(const std::wstring& path, const char* name);
