#include "protect/request_tool.h"

#include <cwchar>

#include "common/bounded_format.h"
#include "common/loaded_function.h"
#include "common/scoped_handle.h"
#include "common/seam_power.h"

namespace {

constexpr DWORD kToolTimeoutMs = 15000;
constexpr UINT kEndedToolExitCode = 1;

// Ends the tool once the stop event is set or the time-out has passed. Its end closes the
// pipe's last write end, so the worker's blocked read returns.
struct ToolWatch {
    HANDLE process;
    LONG ended;  // 1 once the watch has ended the tool
};

VOID CALLBACK EndTool(void* parameter, BOOLEAN) {
    ToolWatch* watch = static_cast<ToolWatch*>(parameter);
    if (WaitForSingleObject(watch->process, 0) == WAIT_TIMEOUT && TerminateProcess(watch->process, kEndedToolExitCode))
        InterlockedExchange(&watch->ended, 1);
}

// Present from Windows Vista on: all three or none.
struct AttributeListCalls {
    decltype(&::InitializeProcThreadAttributeList) initialize;
    decltype(&::UpdateProcThreadAttribute) update;
    decltype(&::DeleteProcThreadAttributeList) deleteList;
};

AttributeListCalls FindAttributeListCalls() {
    AttributeListCalls calls = {
        LoadedFunction<decltype(calls.initialize)>(L"kernel32.dll", "InitializeProcThreadAttributeList"),
        LoadedFunction<decltype(calls.update)>(L"kernel32.dll", "UpdateProcThreadAttribute"),
        LoadedFunction<decltype(calls.deleteList)>(L"kernel32.dll", "DeleteProcThreadAttributeList"),
    };
    if (!calls.initialize || !calls.update || !calls.deleteList) calls = {};
    return calls;
}

// Names the one handle a child may inherit: an inheritable handle another thread holds at
// that moment stays out of it. None where this Windows has no attribute lists.
class InheritedHandleList {
public:
    InheritedHandleList() = default;
    ~InheritedHandleList() {
        if (list_) calls_.deleteList(list_);  // before its memory goes
    }
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;

    // ERROR_SUCCESS with the list built, or with none before Windows Vista; else the failed
    // call's error, named in *failedCall.
    DWORD Build(HANDLE handle, const wchar_t** failedCall) {
        calls_ = FindAttributeListCalls();
        if (!calls_.initialize) return ERROR_SUCCESS;
        SIZE_T size = 0;
        calls_.initialize(nullptr, 1, 0, &size);  // fails, giving the size
        *failedCall = L"IPTAL";
        if (size == 0) return GetLastError();
        memory_.Reset(LocalAlloc(LMEM_FIXED, size));
        if (!memory_.valid()) return GetLastError();
        auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.get());
        if (!calls_.initialize(list, 1, 0, &size)) return GetLastError();
        list_ = list;
        handle_ = handle;
        *failedCall = L"UPTA";
        // The list keeps the address of the value, not a copy: handle_ lives as long as it.
        if (!calls_.update(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof(handle_), nullptr, nullptr))
            return GetLastError();
        return ERROR_SUCCESS;
    }
    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    AttributeListCalls calls_ = {};
    ScopedLocal memory_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    HANDLE handle_ = nullptr;
};

// Starts the tool hidden, its output and errors to `output`. ERROR_SUCCESS with the process,
// or the failed call's error, named in *failedCall.
DWORD StartTool(const wchar_t* tool, wchar_t* commandLine, HANDLE output, PROCESS_INFORMATION* process,
                const wchar_t** failedCall) {
    InheritedHandleList inherited;
    DWORD error = inherited.Build(output, failedCall);
    if (error != ERROR_SUCCESS) return error;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup.StartupInfo);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    DWORD flags = CREATE_NO_WINDOW;
    if (inherited.List()) {
        startup.StartupInfo.cb = sizeof(startup);
        startup.lpAttributeList = inherited.List();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    // By full path as the application too: Kalnix runs elevated and must start the system's
    // own tool, never one found by a search.
    *failedCall = L"CP";
    if (!g_powerSeam.createProcess(tool, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &startup.StartupInfo, process))
        return GetLastError();
    return ERROR_SUCCESS;
}

// Reads while the tool runs, since a full pipe would block it: until the pipe's end (the tool
// has closed its output or ended) or a full buffer.
DWORD ReadPipe(HANDLE pipe, BYTE* bytes, DWORD* size) {
    *size = 0;
    while (*size < kMaxToolOutputBytes) {
        DWORD read = 0;
        if (!ReadFile(pipe, bytes + *size, kMaxToolOutputBytes - *size, &read, nullptr)) {
            DWORD error = GetLastError();
            return error == ERROR_BROKEN_PIPE ? ERROR_SUCCESS : error;
        }
        *size += read;
    }
    return ERROR_SUCCESS;
}

// Waits for the tool to end (the watch bounds the wait) and stops the watch. ERROR_SUCCESS
// with the tool's exit code, or the failed call's error; a tool the watch ended counts as a
// wait that timed out.
DWORD FinishTool(HANDLE process, HANDLE wait, const ToolWatch* watch, DWORD* exitCode, const wchar_t** failedCall) {
    DWORD waited = WaitForSingleObject(process, kToolTimeoutMs);
    DWORD waitError = waited == WAIT_FAILED ? GetLastError() : waited;
    if (waited != WAIT_OBJECT_0) TerminateProcess(process, kEndedToolExitCode);
    // Returns only once a running EndTool has finished: the watch's record is final after it.
    UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
    *failedCall = L"WFSO";
    if (watch->ended) return WAIT_TIMEOUT;
    if (waited != WAIT_OBJECT_0) return waitError;
    *failedCall = L"GECP";
    return GetExitCodeProcess(process, exitCode) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

DWORD RunRequestTool(HANDLE stop, BYTE* bytes, DWORD* size, DWORD* exitCode, const wchar_t** failedCall) {
    return RunPowerTool(L"/requests", stop, bytes, size, exitCode, failedCall);
}

DWORD RunPowerTool(const wchar_t* option, HANDLE stop, BYTE* bytes, DWORD* size, DWORD* exitCode,
                   const wchar_t** failedCall) {
    wchar_t tool[MAX_PATH], commandLine[MAX_PATH + 16];
    const wchar_t kTool[] = L"\\powercfg.exe";
    *failedCall = L"GSD";
    UINT length = GetSystemDirectoryW(tool, MAX_PATH);
    if (length == 0) return GetLastError();
    if (length + wcslen(kTool) >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    wcscat(tool, kTool);
    FormatBounded(commandLine, MAX_PATH + 16, L"\"%ls\" %ls", tool, option);

    // A pipe, never a file: nothing another user could prepare or read is opened by name. Its
    // write end is the only handle of ours the tool inherits, and inheritable only until the
    // tool has started.
    ScopedHandle readEnd, writeEnd;
    *failedCall = L"CPI";
    if (!CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0)) return GetLastError();
    *failedCall = L"SHI";
    if (!SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return GetLastError();
    PROCESS_INFORMATION process = {};
    DWORD started = StartTool(tool, commandLine, writeEnd.get(), &process, failedCall);
    if (started != ERROR_SUCCESS) return started;
    ScopedHandle processHandle(process.hProcess);
    ScopedHandle threadHandle(process.hThread);
    // The tool holds its own copy: with ours closed, its end is the end of the pipe.
    writeEnd.Reset();

    ToolWatch watch = {processHandle.get(), 0};
    HANDLE wait = nullptr;
    *failedCall = L"RWFSO";
    if (!RegisterWaitForSingleObject(&wait, stop, EndTool, &watch, kToolTimeoutMs, WT_EXECUTEONLYONCE)) {
        DWORD error = GetLastError();
        TerminateProcess(processHandle.get(), kEndedToolExitCode);
        return error;
    }
    DWORD readError = ReadPipe(readEnd.get(), bytes, size);
    // A tool still writing beyond our buffer now fails at once instead of waiting for a reader.
    readEnd.Reset();
    DWORD error = FinishTool(processHandle.get(), wait, &watch, exitCode, failedCall);
    if (error != ERROR_SUCCESS) return error;
    *failedCall = L"RF";
    return readError;
}


int DecodeToolOutput(const BYTE* bytes, DWORD size, wchar_t* text, int chars) {
    if (chars <= 0) return 0;
    int written = 0;
    bool bom = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (bom || (size >= 2 && bytes[1] == 0)) {
        DWORD start = bom ? 2 : 0;
        for (DWORD i = start; i + 1 < size && written < chars - 1; i += 2)
            text[written++] = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    } else if (size > 0 && chars > 1) {
        // A byte never gives more than one character, so this much always fits.
        int length = size < static_cast<DWORD>(chars - 1) ? static_cast<int>(size) : chars - 1;
        written = MultiByteToWideChar(CP_OEMCP, 0, reinterpret_cast<const char*>(bytes), length, text, chars - 1);
    }
    text[written] = L'\0';
    return written;
}
