#include "wake_report_fixture.h"

#include "common/seam_power.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"
#include "protect/wake_report.h"
#include "support/power_standin.h"

std::string g_toolBytes;
std::vector<ToolRun> g_toolRuns;
DWORD g_toolError = 0;
DWORD g_toolExitCode = 0;
bool g_toolKeepsRunning = false;
std::atomic<HANDLE> g_runningTool{nullptr};  // a kept tool, for the test to end
bool g_onBattery = false;
ULONG g_executionState = 0;
std::vector<std::wstring> g_balloons;
int g_reportsHandled = 0;

namespace {

struct StandinTool {
    HANDLE process, output;
};

// The tool's life: it writes its output (waiting while the pipe is full), closes it and ends
// with its exit status, or stays for the test to end it.
DWORD WINAPI StandinToolRun(void* parameter) {
    StandinTool* tool = static_cast<StandinTool*>(parameter);
    DWORD written = 0;
    WriteFile(tool->output, g_toolBytes.data(), static_cast<DWORD>(g_toolBytes.size()), &written, nullptr);
    CloseHandle(tool->output);
    if (g_toolKeepsRunning) g_runningTool = tool->process;
    else TerminateProcess(tool->process, g_toolExitCode), CloseHandle(tool->process);
    delete tool;
    return 0;
}

// A suspended command interpreter stands in for the tool: a real process with a real exit
// status, which inherits the output as the tool would; a thread of ours writes for it.
BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION process) {
    ToolRun run;
    run.application = application ? application : L"";
    run.commandLine = commandLine ? commandLine : L"";
    run.flags = flags;
    run.startupFlags = startup->dwFlags;
    run.showWindow = startup->wShowWindow;
    run.inherit = inherit;
    run.outputType = GetFileType(startup->hStdOutput);
    DWORD handleFlags = 0;
    run.outputInheritable =
        GetHandleInformation(startup->hStdOutput, &handleFlags) && (handleFlags & HANDLE_FLAG_INHERIT);
    g_toolRuns.push_back(run);
    if (g_toolError) {
        SetLastError(g_toolError);
        return FALSE;
    }
    wchar_t standin[MAX_PATH];
    GetSystemDirectoryW(standin, MAX_PATH);
    wcscat(standin, L"\\cmd.exe");
    if (!CreateProcessW(standin, nullptr, nullptr, nullptr, inherit, flags | CREATE_SUSPENDED, nullptr, nullptr,
                        startup, process))
        return FALSE;
    StandinTool* tool = new StandinTool{};
    HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, process->hProcess, self, &tool->process, 0, FALSE, DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, startup->hStdOutput, self, &tool->output, 0, FALSE, DUPLICATE_SAME_ACCESS);
    CloseHandle(CreateThread(nullptr, 0, StandinToolRun, tool, 0, nullptr));
    return TRUE;
}

BOOL WINAPI FakePowerStatus(LPSYSTEM_POWER_STATUS status) {
    *status = {};
    status->ACLineStatus = g_onBattery ? 0 : 1;
    return TRUE;
}

LONG WINAPI FakeExecutionState(POWER_INFORMATION_LEVEL level, PVOID, ULONG, PVOID output, ULONG outputSize) {
    if (level != SystemExecutionState || outputSize != sizeof(ULONG)) return static_cast<LONG>(0xC000000DL);
    *static_cast<ULONG*>(output) = g_executionState;
    return 0;
}

void RecordBalloon(const wchar_t* text) { g_balloons.emplace_back(text); }

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kWakeReportMessage) {
        OnWakeReport(lParam);
        ++g_reportsHandled;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

std::string Oem(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_OEMCP, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string Utf16(const wchar_t* text, bool bom) {
    std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
    bytes.append(reinterpret_cast<const char*>(text), wcslen(text) * sizeof(wchar_t));
    return bytes;
}

int LeftoverOutputFiles() {
    wchar_t folder[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(folder) + L"kxr*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 1;
    while (FindNextFileW(search, &found)) ++count;
    FindClose(search);
    return count;
}

void WakeReportTest::SetUp() {
    ResetSettingsKey();
    SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
    ClearPowerStandin();
    g_powerSeam.createProcess = FakeCreateProcess;
    g_powerSeam.getSystemPowerStatus = FakePowerStatus;
    g_powerSeam.callNtPowerInformation = FakeExecutionState;
    g_toolBytes = Oem(kEnglishRequests);
    g_toolRuns.clear();
    g_toolError = 0;
    g_toolExitCode = 0;
    g_toolKeepsRunning = false;
    g_onBattery = false;
    g_executionState = 0;
    g_balloons.clear();
    g_reportsHandled = 0;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KalnixWakeReportTestHost";
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(L"KalnixWakeReportTestHost", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    savedHost_ = g_protection.run.host;
    g_protection.run.host.window = window_;
    g_protection.run.host.showBalloon = RecordBalloon;
}

void WakeReportTest::TearDown() {
    EndRunningTool();
    StopWakeReport();  // no worker outlives its test
    g_protection.run.host = savedHost_;
    DestroyWindow(window_);
    ClearPowerStandin();
    RemoveFile(LogPathBesideExecutable());
}
