#include <windows.h>

#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"
#include "setup/task_file.h"

namespace {

constexpr const wchar_t* kRunKeyPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValueName = L"Kalnix";
constexpr DWORD kCommandLineChars = 260;

// Builds the task tool's full path, "<system directory>\schtasks.exe", into `tool` and
// "<tool> /Create /TN Kalnix /XML "<task file>"" into `line`. Logs and returns false when the
// system directory cannot be read or the line would not fit.
bool ComposeTaskToolCommandLine(const wchar_t* taskFilePath, wchar_t* tool, wchar_t* line) {
    UINT length = GetSystemDirectoryW(line, kCommandLineChars);
    if (length == 0) {
        LogFormatted(L"CA: GetSystemDirectory failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    const wchar_t kTool[] = L"\\schtasks.exe";
    const wchar_t kOptions[] = L" /Create /TN Kalnix /XML \"";
    size_t needed = static_cast<size_t>(length) + wcslen(kTool) + wcslen(kOptions) + wcslen(taskFilePath) + 2;
    if (length >= kCommandLineChars || needed > kCommandLineChars) {
        LogFormatted(L"CA: Task command line too long: %d", static_cast<int>(needed - 1));
        return false;
    }
    wcscat(line, kTool);
    wcscpy(tool, line);
    wcscat(line, kOptions);
    wcscat(line, taskFilePath);
    wcscat(line, L"\"");
    return true;
}

// The tool is also named as the application: the elevated caller must start the system's
// own tool, never one that a split of the command line at a blank or a search would find.
bool StartTaskTool(const wchar_t* tool, wchar_t* commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(tool, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        LogFormatted(L"CA: CreateProcess failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    // The tool registers the task on its own; nothing here waits for it, so both handles close now.
    ScopedHandle toolProcess(process.hProcess);
    ScopedHandle toolThread(process.hThread);
    return true;
}

LONG OpenRunKey(HKEY* key) {
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) LogFormatted(L"CA: RegOpenKeyEx failed: %d", static_cast<int>(status));
    return status;
}

}  // namespace

bool __stdcall InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command) {
    LogMessage(L"CA: Entering InstallKalnixTask");

    // Both limits are checked before the file is touched, so a refusal leaves it as it was.
    size_t commandLength = wcslen(command);
    if (commandLength > kTaskCommandMaxChars) {
        LogFormatted(L"CA: Task command longer than 500 characters: %d", static_cast<int>(commandLength));
        return false;
    }
    wchar_t tool[kCommandLineChars];
    wchar_t commandLine[kCommandLineChars];
    if (!ComposeTaskToolCommandLine(taskFilePath, tool, commandLine)) return false;

    wchar_t tail[kTaskTailChars];
    size_t tailLength = ComposeTaskTail(command, tail, kTaskTailChars);
    int error = AppendToTaskFile(taskFilePath, tail, tailLength);
    if (error != 0) {
        LogFormatted(L"CA: Opening task file failed: %d", error);
        return false;
    }
    return StartTaskTool(tool, commandLine);
}

bool __stdcall SetRunKey(const wchar_t* command) {
    LogMessage(L"CA: Entering SetRunKey");
    ScopedKey key;
    if (OpenRunKey(key.put()) != ERROR_SUCCESS) return false;
    DWORD size = static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t));
    LONG status = RegSetValueExW(key.get(), kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), size);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: RegSetValueEx failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

bool __stdcall DeleteRunKey() {
    LogMessage(L"CA: Entering DeleteRunKey");
    ScopedKey key;
    if (OpenRunKey(key.put()) != ERROR_SUCCESS) return false;
    // A missing value is what the caller wants. A value left behind would start whatever
    // Kalnix.exe stands at its path: the uninstaller must know, and keep the folder.
    LONG status = RegDeleteValueW(key.get(), kRunValueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogFormatted(L"CA: RegDeleteValue failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}
