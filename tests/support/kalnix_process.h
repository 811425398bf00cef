#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Kalnix.exe run as its own process, started and ended as a user, the log-on task or the
// setup program would. Whatever a test does, the process is gone when this goes out of
// scope: ended through its tray window if it answers, terminated otherwise.
class KalnixProcess {
public:
    KalnixProcess() = default;
    KalnixProcess(const KalnixProcess&) = delete;
    KalnixProcess& operator=(const KalnixProcess&) = delete;
    ~KalnixProcess();

    // Copies Kalnix.exe into a fresh scratch directory, so that its Kalnix.log lands there.
    // The stand-in power library it uses is the prefix's own (in system32).
    bool Prepare(const wchar_t* scratchName);
    // Starts the prepared copy with the command-line tail (" -fresh") and waits for its
    // tray window.
    bool Start(const wchar_t* tail = L"");
    // Starts `program` (another copy, or a stand-in with the tray window's class), on
    // `desktop` when given, without waiting for a window.
    bool StartProgram(const std::wstring& program, const wchar_t* tail = L"", const wchar_t* desktop = nullptr);
    // Waits until the process shows a tray window ("KalnixWndClass", "KalnixWnd").
    bool WaitForWindow(DWORD timeoutMs);

    // Sends WM_DESTROY to the tray window, as the setup program does, and waits for the
    // exit; the exit code, or -1.
    DWORD End(DWORD* elapsedMs = nullptr);
    // Waits for the process to end; the exit code, or -1 when it runs on.
    DWORD ExitCode(DWORD timeoutMs = 10000) const;
    // Ends the process without its own teardown, as a crash or a forced end would.
    void Kill() const;

    bool Running() const;
    DWORD Pid() const { return process_.dwProcessId; }
    HWND Window() const { return window_; }
    std::wstring Exe() const { return directory_ + L"\\Kalnix.exe"; }
    std::wstring LogPath() const { return directory_ + L"\\Kalnix.log"; }
    std::string Log() const;
    // Waits until Kalnix.log holds `line`. Kalnix opens its log exclusively and a line it
    // writes while a reader holds the file open is lost, so the file is read only when its
    // size has grown and then stayed put for a moment (Kalnix writes its lines in bursts).
    bool WaitForLogLine(const std::string& line, DWORD timeoutMs) const;

private:
    std::wstring directory_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

// Starts `exe` (an installed Kalnix.exe, which the uninstaller or the next test ends) as the
// log-on task would, keeping no handle to it; false when it could not be started.
bool StartKalnixLeftRunning(const std::wstring& exe);

// The tray windows of every running Kalnix (and stand-in) this desktop shows.
std::vector<HWND> KalnixTrayWindows();
// Every running Kalnix.exe, by image name, wherever it was started from.
std::vector<DWORD> KalnixProcessIds();
// Ends every Kalnix.exe without its own teardown; false when one cannot be opened.
bool KillKalnixProcesses();
