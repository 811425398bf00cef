#include "protect/wake_report.h"

#include <cstdarg>
#include <cwchar>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/lid_close_action.h"
#include "common/scoped_handle.h"
#include "common/seam_power.h"
#include "protect/lid_state.h"
#include "protect/protection_messages.h"
#include "protect/protection_settings.h"
#include "protect/protection_state.h"
#include "protect/request_tool.h"
#include "protect/worker_thread.h"

static_assert(kWakeBalloonChars == kWakeCauseChars, "the last cause is the balloon's text");

namespace {

constexpr DWORD kStopWaitMs = 3000;
constexpr ULONG kAwakeStates = ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_AWAYMODE_REQUIRED;

// The main thread's record of the running or last report: its worker, and the event that ends
// the worker's tool early.
WakeReportState& Report() { return g_protection.run.wakeReport; }

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
    ++report->failureCount;
}

const wchar_t* AfterLast(const wchar_t* text, wchar_t separator) {
    const wchar_t* found = wcsrchr(text, separator);
    return found ? found + 1 : text;
}

// The '(' of the parentheses that end `name`, or null.
const wchar_t* FinalParentheses(const wchar_t* name) {
    size_t length = wcslen(name);
    return length > 0 && name[length - 1] == L')' ? wcsrchr(name, L'(') : nullptr;
}

// "svchost.exe (wuauserv)" names the service in its last parentheses; a driver's name comes
// before the parentheses that hold its device; a process is named by its file.
void ShortName(const wchar_t* tag, const wchar_t* name, wchar_t* out, int chars) {
    const wchar_t* open = FinalParentheses(name);
    if (wcscmp(tag, L"[SERVICE]") == 0 && open) {
        FormatBounded(out, chars, L"%.*ls", static_cast<int>(wcslen(open + 1) - 1), open + 1);
    } else if (wcscmp(tag, L"[DRIVER]") == 0 && open && open > name && open[-1] == L' ') {
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

// The tool's sections come in a fixed order whatever the language of their headings; these
// two hold the requests that can defeat a lid-close sleep.
constexpr int kAwayModeSection = 2;
constexpr int kExecutionSection = 3;

// How the device instance paths of audio devices begin.
const wchar_t* const kAudioDevices[] = {L"HDAUDIO\\", L"INTELAUDIO\\", L"SWD\\MMDEVAPI\\"};

// The alarm's tone plays through the audio stack, which then holds a request of its own: the
// audio device's driver (known by the device instance path in its last parentheses) or the
// audio engine's process.
bool IsAlarmsOwnTone(const wchar_t* tag, const wchar_t* name) {
    if (wcscmp(tag, L"[PROCESS]") == 0) return _wcsicmp(AfterLast(name, L'\\'), L"audiodg.exe") == 0;
    const wchar_t* open = FinalParentheses(name);
    if (wcscmp(tag, L"[DRIVER]") != 0 || !open) return false;
    for (const wchar_t* audioDevices : kAudioDevices)
        if (_wcsnicmp(open + 1, audioDevices, wcslen(audioDevices)) == 0) return true;
    return false;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

void TrimBlanks(const wchar_t** line, size_t* length) {
    while (*length && IsBlank(**line)) ++*line, --*length;
    while (*length && IsBlank((*line)[*length - 1])) --*length;
}

const RequestTag* RequestTagOf(const wchar_t* line, size_t length) {
    for (const RequestTag& request : kRequestTags) {
        size_t tagLength = wcslen(request.tag);
        if (length >= tagLength && wcsncmp(line, request.tag, tagLength) == 0) return &request;
    }
    return nullptr;
}

// Outside the sections that defeat a sleep, the alarm's own audio is logged but is no cause.
void AddRequest(const RequestTag& request, const wchar_t* line, size_t length, bool defeatsSleep,
                WakeReport* report) {
    size_t tagLength = wcslen(request.tag);
    const wchar_t* start = line + tagLength;
    size_t nameLength = length - tagLength;
    TrimBlanks(&start, &nameLength);
    if (nameLength == 0) return;
    wchar_t name[MAX_PATH], shortName[MAX_PATH];
    FormatBounded(name, MAX_PATH, L"%.*ls", static_cast<int>(nameLength), start);
    if (!defeatsSleep && IsAlarmsOwnTone(request.tag, name)) {
        AddLine(report, L"Left out, the alarm's own tone: %ls", name);
        ++report->leftOutCount;
        return;
    }
    ShortName(request.tag, name, shortName, MAX_PATH);
    AddCause(report, request.cause, name, shortName);
}

// A heading is any other line ending in ':', except the text line that follows each entry.
void AddRequestsOfPass(const wchar_t* text, bool sleepDefeatingPass, WakeReport* report) {
    int section = -1;  // before the first heading
    bool afterEntry = false;
    while (*text) {
        const wchar_t* end = wcschr(text, L'\n');
        size_t length = end ? static_cast<size_t>(end - text) : wcslen(text);
        const wchar_t* line = text;
        TrimBlanks(&line, &length);
        const RequestTag* request = RequestTagOf(line, length);
        if (request) {
            bool defeatsSleep = section == kAwayModeSection || section == kExecutionSection;
            if (defeatsSleep == sleepDefeatingPass) AddRequest(*request, line, length, defeatsSleep, report);
        } else if (!afterEntry && length > 0 && line[length - 1] == L':') {
            ++section;
        }
        afterEntry = request != nullptr;
        if (!end) break;
        text = end + 1;
    }
}

// The tool's output as text, LocalAlloc'd for the caller; null with the failure logged.
HLOCAL ReadRequestTool(HANDLE stop, WakeReport* report) {
    constexpr int kTextChars = kMaxToolOutputBytes + 1;
    ScopedLocal bytes(LocalAlloc(LMEM_FIXED, kMaxToolOutputBytes));
    ScopedLocal text(LocalAlloc(LMEM_FIXED, kTextChars * sizeof(wchar_t)));
    DWORD size = 0, exitCode = 0;
    const wchar_t* failedCall = L"LA";
    DWORD error = !bytes.valid() || !text.valid()
                      ? ERROR_NOT_ENOUGH_MEMORY
                      : RunRequestTool(stop, static_cast<BYTE*>(bytes.get()), &size, &exitCode, &failedCall);
    if (error != ERROR_SUCCESS) {
        AddFailure(report, failedCall, error);
        return nullptr;
    }
    if (exitCode != 0) {
        // Its text is then a complaint, not a list of requests.
        AddLine(report, L"powercfg failed: %lu", static_cast<unsigned long>(exitCode));
        ++report->failureCount;
        return nullptr;
    }
    DecodeToolOutput(static_cast<const BYTE*>(bytes.get()), size, static_cast<wchar_t*>(text.get()), kTextChars);
    return text.release();
}

void AddLidCloseAction(WakeReport* report) {
    SYSTEM_POWER_STATUS status = {};
    bool onBattery = g_powerSeam.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    DWORD action = kLidCloseSleep;
    const wchar_t* failedCall = L"";
    DWORD error = ReadLidCloseAction(onBattery, &action, &failedCall);
    if (error != ERROR_SUCCESS) return AddFailure(report, failedCall, error);
    if (action != kLidCloseDoNothing) return;
    const wchar_t* cause =
        onBattery ? L"Lid-close action on battery is Do nothing" : L"Lid-close action on mains power is Do nothing";
    AddCause(report, L"%ls", cause, cause);
}

bool ReadExecutionState(ULONG* state, WakeReport* report) {
    LONG status = g_powerSeam.callNtPowerInformation(SystemExecutionState, nullptr, 0, state, sizeof(*state));
    if (status != 0) AddFailure(report, L"CNPI", static_cast<DWORD>(status));
    return status == 0;
}

void AddExecutionState(ULONG state, WakeReport* report) {
    wchar_t cause[64];
    FormatBounded(cause, 64, L"Execution state 0x%08lX keeps the system awake", static_cast<unsigned long>(state));
    AddCause(report, L"%ls", cause, cause);
}

// The lid-close action first: it alone explains a laptop that never even tries to sleep. Then
// what can defeat a lid-close sleep (away mode and execution requests, away mode in the
// execution state), then everything else in the tool's order, the rest of the state last.
void GatherWakeReport(HANDLE stop, WakeReport* report) {
    AddLine(report, L"Still awake with the lid closed");
    AddLidCloseAction(report);
    ScopedLocal requests(ReadRequestTool(stop, report));
    const wchar_t* text = requests.valid() ? static_cast<const wchar_t*>(requests.get()) : L"";
    ULONG state = 0;
    bool stateRead = ReadExecutionState(&state, report);
    AddRequestsOfPass(text, true, report);
    bool awayMode = stateRead && (state & ES_AWAYMODE_REQUIRED);
    if (awayMode) AddExecutionState(state, report);
    AddRequestsOfPass(text, false, report);
    // The audio request left out is what sets ES_SYSTEM_REQUIRED then.
    ULONG awakeStates = report->leftOutCount ? kAwakeStates & ~static_cast<ULONG>(ES_SYSTEM_REQUIRED) : kAwakeStates;
    if (stateRead && !awayMode && (state & awakeStates)) AddExecutionState(state, report);
    // A source that could not answer may have held the cause.
    if (report->causeCount == 0 && report->failureCount == 0) AddLine(report, L"No cause found");
}

void WakeReportBody(HWND window, HANDLE stop, void*) {
    auto* report = static_cast<WakeReport*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WakeReport)));
    if (!report) return;
    GatherWakeReport(stop, report);
    PostWorkerResult(window, stop, kWakeReportMessage, report);
}

}  // namespace

void AddPowerRequests(const wchar_t* text, WakeReport* report) {
    AddRequestsOfPass(text, true, report);
    AddRequestsOfPass(text, false, report);
}

bool StartWakeReport(HWND window) {
    WakeReportState& record = Report();
    // One report at a time: the alarm's next lid closure may start the next.
    if (WorkerRunning(record.worker)) return false;
    record.lastCause[0] = L'\0';  // an earlier closure's cause is not this one's
    return StartWorker(&record.worker, WakeReportBody, window, nullptr);
}

void StopWakeReport() {
    StopWorker(&Report().worker, kStopWaitMs);
}

namespace {

// The event of a laptop still awake: every line after the first, what was found and what
// could not be asked, in the report's order.
void ReportStillAwake(const WakeReport* report) {
    constexpr int kCausesChars = 2048;
    wchar_t causes[kCausesChars] = L"";
    int length = 0;
    for (int i = 1; i < report->lineCount && i < kWakeReportLines && length < kCausesChars - 1; ++i) {
        const wchar_t* line = report->lines[i];
        int chars = static_cast<int>(wcscspn(line, L"\r\n"));
        FormatBounded(causes + length, kCausesChars - length, L"%ls%.*ls", length ? L"; " : L"", chars, line);
        length += static_cast<int>(wcslen(causes + length));
    }
    wchar_t seconds[96];
    FormatSecondsSinceLidClosed(seconds, 96);
    DWORD id = ProtectionMode() == kModeLidAlarm ? KALNIX_EVENT_ALARM_STARTED : KALNIX_EVENT_STILL_AWAKE;
    ReportKalnixEvent(id, {seconds, causes});
}

}  // namespace

void OnWakeReport(LPARAM parameter) {
    WakeReport* report = reinterpret_cast<WakeReport*>(parameter);
    if (!report) return;
    ReportStillAwake(report);
    for (int i = 0; i < report->lineCount && i < kWakeReportLines; ++i) LogMessage(report->lines[i]);
    if (report->balloon[0] && Host().showBalloon) Host().showBalloon(report->balloon);
    FormatBounded(Report().lastCause, kWakeCauseChars, L"%ls", report->balloon);
    HeapFree(GetProcessHeap(), 0, report);
}

const wchar_t* LastWakeCause() { return Report().lastCause; }
