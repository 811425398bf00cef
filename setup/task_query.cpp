#include "setup/task_query.h"

#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

namespace {

// Long enough for a busy task service; a tool that hangs longer does not stall the setup program.
constexpr DWORD kTaskToolWaitMs = 30000;

bool RunsOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Wine's task scheduler keeps each registered task as a file named after it.
bool TaskFileStored() {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const wchar_t kTaskFile[] = L"\\Tasks\\Kalnix";
    if (length == 0 || length + wcslen(kTaskFile) >= MAX_PATH) return false;
    wcscat(path, kTaskFile);
    // The 32-bit library would otherwise look in SysWOW64, where the task tool keeps nothing.
    void* redirection = nullptr;
    BOOL redirectionOff = Wow64DisableWow64FsRedirection(&redirection);
    bool stored = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    if (redirectionOff) Wow64RevertWow64FsRedirection(redirection);
    return stored;
}

bool TaskToolFindsTask() {
    wchar_t tool[MAX_PATH];
    UINT length = GetSystemDirectoryW(tool, MAX_PATH);
    const wchar_t kToolName[] = L"\\schtasks.exe";
    if (length == 0 || length + wcslen(kToolName) >= MAX_PATH) return false;
    wcscat(tool, kToolName);
    // CreateProcessW may write into the command line.
    wchar_t commandLine[MAX_PATH + 32];
    swprintf(commandLine, sizeof(commandLine) / sizeof(commandLine[0]), L"\"%ls\" /Query /TN Kalnix", tool);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!g_taskQuery.createProcess(tool, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &started)) {
        LogFormatted(L"CA: CreateProcess failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    if (WaitForSingleObject(process.get(), kTaskToolWaitMs) != WAIT_OBJECT_0) {
        LogMessage(L"CA: schtasks did not finish within 30 s");
        TerminateProcess(process.get(), 1);
        return false;
    }
    DWORD exitCode = 1;
    return GetExitCodeProcess(process.get(), &exitCode) && exitCode == 0;
}

}  // namespace

TaskQueryCalls g_taskQuery = {&RunsOnWine, &::CreateProcessW};

bool __stdcall TaskIsRegistered() {
    LogMessage(L"CA: Entering TaskIsRegistered");
    return g_taskQuery.runsOnWine() ? TaskFileStored() : TaskToolFindsTask();
}
