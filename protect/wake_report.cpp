#include "protect/wake_report.h"

#include <cstdarg>
#include <cwchar>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/lid_close_action.h"
#include "common/platform.h"
#include "common/scoped_handle.h"
#include "protect/protection_host.h"

namespace {

constexpr DWORD kToolTimeoutMs = 15000;
constexpr DWORD kMaxToolOutputBytes = 256 * 1024;
constexpr ULONG kAwakeStates = ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_AWAYMODE_REQUIRED;

// One report at a time: the alarm's next lid closure may start the next.
LONG g_reportRunning = 0;

// A file that is deleted when the scope ends (the tool's output, once read).
class TempFile {
public:
    TempFile() { path_[0] = L'\0'; }
    ~TempFile() {
        if (path_[0]) DeleteFileW(path_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    // A fresh, empty file in the user's temporary folder; 0 or the failed call's error.
    DWORD Create() {
        wchar_t folder[MAX_PATH + 1];
        DWORD length = GetTempPathW(MAX_PATH + 1, folder);
        if (length == 0 || length > MAX_PATH) return length ? ERROR_BUFFER_OVERFLOW : GetLastError();
        if (!GetTempFileNameW(folder, L"kxr", 0, path_)) {
            path_[0] = L'\0';
            return GetLastError();
        }
        return ERROR_SUCCESS;
    }
    const wchar_t* Path() const { return path_; }

private:
    wchar_t path_[MAX_PATH];
};

// The log is 8-bit text, where a wider character would end the line: such names show '?'.
void AddLine(WakeReport* report, const wchar_t* format, ...) {
    if (report->lineCount >= kWakeReportLines) return;
    wchar_t* line = report->lines[report->lineCount++];
    va_list args;
    va_start(args, format);
    FormatBoundedV(line, kWakeReportLineChars, format, args);
    va_end(args);
    for (wchar_t* c = line; *c; ++c)
        if (*c > 0xFF) *c = L'?';
}

// The full text goes to the log, the short one to the balloon of the first cause.
void AddCause(WakeReport* report, const wchar_t* format, const wchar_t* fullName, const wchar_t* shortName) {
    AddLine(report, format, fullName);
    if (report->causeCount++ == 0) FormatBounded(report->balloon, kWakeBalloonChars, format, shortName);
}

void AddFailure(WakeReport* report, const wchar_t* call, DWORD error) {
    AddLine(report, L"%ls Failed: %d\n", call, static_cast<int>(error));
}

const wchar_t* AfterLast(const wchar_t* text, wchar_t separator) {
    const wchar_t* found = wcsrchr(text, separator);
    return found ? found + 1 : text;
}

// "svchost.exe (wuauserv)" names the service in its last parentheses; a driver's name comes
// before the parentheses that hold its device; a process is named by its file.
void ShortName(const wchar_t* tag, const wchar_t* name, wchar_t* out, int chars) {
    size_t length = wcslen(name);
    const wchar_t* open = wcsrchr(name, L'(');
    bool parenthesized = length > 0 && name[length - 1] == L')' && open;
    if (wcscmp(tag, L"[SERVICE]") == 0 && parenthesized) {
        FormatBounded(out, chars, L"%.*ls", static_cast<int>(name + length - 1 - (open + 1)), open + 1);
    } else if (wcscmp(tag, L"[DRIVER]") == 0 && parenthesized && open > name && open[-1] == L' ') {
        FormatBounded(out, chars, L"%.*ls", static_cast<int>(open - 1 - name), name);
    } else if (wcscmp(tag, L"[DRIVER]") == 0) {
        FormatBounded(out, chars, L"%ls", name);
    } else {
        FormatBounded(out, chars, L"%ls", AfterLast(name, L'\\'));
    }
}

struct RequestTag {
    const wchar_t* tag;
    const wchar_t* cause;
};
const RequestTag kRequestTags[] = {
    {L"[PROCESS]", L"Process %ls holds a power request"},
    {L"[SERVICE]", L"Service %ls holds a power request"},
    {L"[DRIVER]", L"Driver %ls holds a power request"},
};

void AddRequestLine(const wchar_t* line, size_t length, WakeReport* report) {
    while (length && (*line == L' ' || *line == L'\t')) ++line, --length;
    while (length && (line[length - 1] == L' ' || line[length - 1] == L'\t' || line[length - 1] == L'\r')) --length;
    for (const RequestTag& request : kRequestTags) {
        size_t tagLength = wcslen(request.tag);
        if (length <= tagLength || wcsncmp(line, request.tag, tagLength) != 0) continue;
        wchar_t name[MAX_PATH], shortName[MAX_PATH];
        const wchar_t* start = line + tagLength;
        size_t nameLength = length - tagLength;
        while (nameLength && (*start == L' ' || *start == L'\t')) ++start, --nameLength;
        if (nameLength == 0) return;
        FormatBounded(name, MAX_PATH, L"%.*ls", static_cast<int>(nameLength), start);
        ShortName(request.tag, name, shortName, MAX_PATH);
        AddCause(report, request.cause, name, shortName);
        return;
    }
}

// ERROR_SUCCESS with the tool's output in `output`, or the failed call's error.
DWORD RunRequestTool(HANDLE output, const wchar_t** failedCall) {
    wchar_t tool[MAX_PATH], commandLine[MAX_PATH + 16];
    const wchar_t kTool[] = L"\\powercfg.exe";
    *failedCall = L"GSD";
    UINT length = GetSystemDirectoryW(tool, MAX_PATH);
    if (length == 0) return GetLastError();
    if (length + wcslen(kTool) >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    wcscat(tool, kTool);
    FormatBounded(commandLine, MAX_PATH + 16, L"\"%ls\" /requests", tool);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    // By full path as the application too: Kalnix runs elevated and must start the system's
    // own tool, never one found by a search.
    *failedCall = L"CP";
    if (!g_platform.createProcess(tool, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process))
        return GetLastError();
    ScopedHandle processHandle(process.hProcess);
    ScopedHandle threadHandle(process.hThread);
    *failedCall = L"WFSO";
    DWORD waited = WaitForSingleObject(processHandle.get(), kToolTimeoutMs);
    if (waited == WAIT_OBJECT_0) return ERROR_SUCCESS;
    if (waited == WAIT_TIMEOUT) TerminateProcess(processHandle.get(), 1);
    return waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError();
}

// Reads at most kMaxToolOutputBytes of the file into `text`.
DWORD ReadToolOutput(const wchar_t* path, wchar_t* text, int chars, const wchar_t** failedCall) {
    *failedCall = L"CF";
    ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return GetLastError();
    BYTE* bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kMaxToolOutputBytes));
    *failedCall = L"HA";
    if (!bytes) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD size = 0;
    *failedCall = L"RF";
    DWORD error = ReadFile(file.get(), bytes, kMaxToolOutputBytes, &size, nullptr) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS) DecodeToolOutput(bytes, size, text, chars);
    HeapFree(GetProcessHeap(), 0, bytes);
    return error;
}

void AddRequestTool(WakeReport* report) {
    TempFile outputFile;
    DWORD error = outputFile.Create();
    if (error != ERROR_SUCCESS) return AddFailure(report, L"GTFN", error);
    const wchar_t* failedCall = L"CF";
    {
        // Inherited by the tool as its standard output; ours is closed before the file is read.
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        ScopedFile output(CreateFileW(outputFile.Path(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (output.get() == INVALID_HANDLE_VALUE) return AddFailure(report, failedCall, GetLastError());
        error = RunRequestTool(output.get(), &failedCall);
        if (error != ERROR_SUCCESS) return AddFailure(report, failedCall, error);
    }
    constexpr int kTextChars = kMaxToolOutputBytes + 1;
    wchar_t* text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kTextChars * sizeof(wchar_t)));
    if (!text) return AddFailure(report, L"HA", ERROR_NOT_ENOUGH_MEMORY);
    error = ReadToolOutput(outputFile.Path(), text, kTextChars, &failedCall);
    if (error == ERROR_SUCCESS) AddPowerRequests(text, report);
    else AddFailure(report, failedCall, error);
    HeapFree(GetProcessHeap(), 0, text);
}

void AddLidCloseAction(WakeReport* report) {
    SYSTEM_POWER_STATUS status = {};
    bool onBattery = g_platform.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    DWORD action = kLidCloseSleep;
    const wchar_t* failedCall = L"";
    DWORD error = ReadLidCloseAction(onBattery, &action, &failedCall);
    if (error != ERROR_SUCCESS) return AddFailure(report, failedCall, error);
    if (action != kLidCloseDoNothing) return;
    const wchar_t* cause =
        onBattery ? L"Lid-close action on battery is Do nothing" : L"Lid-close action on mains power is Do nothing";
    AddCause(report, L"%ls", cause, cause);
}

void AddExecutionState(WakeReport* report) {
    ULONG state = 0;
    LONG status = g_platform.callNtPowerInformation(SystemExecutionState, nullptr, 0, &state, sizeof(state));
    if (status != 0) return AddFailure(report, L"CNPI", static_cast<DWORD>(status));
    if ((state & kAwakeStates) == 0) return;
    wchar_t cause[64];
    FormatBounded(cause, 64, L"Execution state 0x%08lX keeps the system awake", static_cast<unsigned long>(state));
    AddCause(report, L"%ls", cause, cause);
}

// The lid-close action first: it alone explains a laptop that never even tries to sleep.
void GatherWakeReport(WakeReport* report) {
    AddLine(report, L"Still awake with the lid closed");
    AddLidCloseAction(report);
    AddRequestTool(report);
    AddExecutionState(report);
    if (report->causeCount == 0) AddLine(report, L"No cause found");
}

DWORD WINAPI WakeReportThread(void* parameter) {
    HWND window = static_cast<HWND>(parameter);
    WakeReport* report = static_cast<WakeReport*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WakeReport)));
    if (report) {
        GatherWakeReport(report);
        if (!PostMessageW(window, kWakeReportMessage, 0, reinterpret_cast<LPARAM>(report)))
            HeapFree(GetProcessHeap(), 0, report);
    }
    InterlockedExchange(&g_reportRunning, 0);
    return 0;
}

}  // namespace

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

void AddPowerRequests(const wchar_t* text, WakeReport* report) {
    while (*text) {
        const wchar_t* end = wcschr(text, L'\n');
        size_t length = end ? static_cast<size_t>(end - text) : wcslen(text);
        AddRequestLine(text, length, report);
        if (!end) break;
        text = end + 1;
    }
}

bool StartWakeReport(HWND window) {
    if (InterlockedCompareExchange(&g_reportRunning, 1, 0) != 0) return false;
    HANDLE thread = CreateThread(nullptr, 0, WakeReportThread, window, 0, nullptr);
    if (!thread) {
        LogFormatted(L"CT Failed: %d\n", static_cast<int>(GetLastError()));
        InterlockedExchange(&g_reportRunning, 0);
        return false;
    }
    // The worker posts its result and ends on its own; nothing waits for it.
    CloseHandle(thread);
    return true;
}

void OnWakeReport(LPARAM parameter) {
    WakeReport* report = reinterpret_cast<WakeReport*>(parameter);
    if (!report) return;
    for (int i = 0; i < report->lineCount && i < kWakeReportLines; ++i) LogMessage(report->lines[i]);
    if (report->balloon[0] && g_protectionHost.showBalloon) g_protectionHost.showBalloon(report->balloon);
    HeapFree(GetProcessHeap(), 0, report);
}
