#include "protect/wake_source.h"

#include <cwchar>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/seam_events.h"
#include "protect/last_wake_output.h"
#include "protect/request_tool.h"
#include "protect/wake_record_xml.h"

namespace {

const wchar_t kResumeProvider[] = L"Microsoft-Windows-Power-Troubleshooter";
constexpr DWORD kResumeEventId = 1;
const wchar_t kStandbyProvider[] = L"Microsoft-Windows-Kernel-Power";
constexpr DWORD kStandbyExitEventId = 507;
// The resume event's WakeSourceType of a device ("Wake Source: Device -<text>").
constexpr DWORD kDeviceWakeSourceType = 5;

constexpr int kQueryChars = 512;
constexpr DWORD kEventsChars = 64 * 1024;
constexpr ULONGLONG kFileTimeUnitsPerMs = 10000;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

void TrimBlanks(wchar_t* text) {
    size_t length = wcslen(text);
    while (length && IsBlank(text[length - 1])) text[--length] = L'\0';
    size_t start = 0;
    while (IsBlank(text[start])) ++start;
    if (start) wmemmove(text, text + start, length - start + 1);
}

bool FormatEventTime(const FILETIME& time, wchar_t* out, int chars) {
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return false;
    FormatBounded(out, chars, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return true;
}

FILETIME Shifted(const FILETIME& time, ULONGLONG ms, bool later) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    ULONGLONG shift = ms * kFileTimeUnitsPerMs;
    if (later) value.QuadPart = value.QuadPart > ~0ull - shift ? ~0ull : value.QuadPart + shift;
    else value.QuadPart = value.QuadPart < shift ? 0 : value.QuadPart - shift;
    return {value.LowPart, value.HighPart};
}

// The output of "powercfg /lastwake" as text, LocalAlloc'd for the caller; null with the failure
// logged.
HLOCAL ReadLastWakeOutput(HANDLE stop) {
    constexpr int kTextChars = kMaxToolOutputBytes + 1;
    ScopedLocal bytes(LocalAlloc(LMEM_FIXED, kMaxToolOutputBytes));
    ScopedLocal text(LocalAlloc(LMEM_FIXED, kTextChars * sizeof(wchar_t)));
    DWORD size = 0, exitCode = 0;
    const wchar_t* failedCall = L"LA";
    DWORD error = !bytes.valid() || !text.valid() ? ERROR_NOT_ENOUGH_MEMORY
                                                  : RunPowerTool(L"/lastwake", stop, static_cast<BYTE*>(bytes.get()),
                                                                 &size, &exitCode, &failedCall);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"%ls Failed: %d\n", failedCall, static_cast<int>(error));
        return nullptr;
    }
    if (exitCode != 0) {
        LogFormatted(L"powercfg failed: %lu\n", static_cast<unsigned long>(exitCode));
        return nullptr;
    }
    DecodeToolOutput(static_cast<const BYTE*>(bytes.get()), size, static_cast<wchar_t*>(text.get()), kTextChars);
    return text.release();
}

bool NameFromLastWake(HANDLE stop, WakeSource* out) {
    ScopedLocal text(ReadLastWakeOutput(stop));
    if (!text.valid() || !NameLastWake(static_cast<const wchar_t*>(text.get()), out)) return false;
    out->record = WakeRecord::LastWakeTool;
    return true;
}

bool IsDeviceKind(WakeSourceKind kind) { return kind != WakeSourceKind::Unknown && kind != WakeSourceKind::WakeTimer; }

// The resume event names a device without its instance path, which a later step needs to keep
// it from waking the laptop: the tool's record of the same wake has it.
void AddInstancePath(HANDLE stop, WakeSource* fromEvent) {
    WakeSource fromTool = {};
    if (!NameFromLastWake(stop, &fromTool) || !fromTool.instancePath[0]) return;
    if (fromTool.kind == fromEvent->kind && wcscmp(fromTool.name, fromEvent->name) == 0) {
        FormatBounded(fromEvent->instancePath, kWakeDetailChars, L"%ls", fromTool.instancePath);
        fromEvent->builtIn = fromTool.builtIn;
    }
}

using EventNamer = bool (*)(const wchar_t* xml, WakeSource* out);

// Asks the System log for the events of one kind in the window, newest first. True when one
// names a source; an event's unknown text is kept in *kept for want of better.
bool NameFromEvents(const wchar_t* provider, DWORD eventId, const FILETIME& from, const FILETIME& to,
                    EventNamer name, WakeRecord record, wchar_t* events, WakeSource* out, WakeSource* kept) {
    wchar_t query[kQueryChars];
    if (!FormatWakeEventQuery(provider, eventId, from, to, query, kQueryChars)) return false;
    events[0] = events[1] = L'\0';
    DWORD error = g_eventSeam.querySystemEvents(query, kWakeEventsAsked, events, kEventsChars);
    if (error != ERROR_SUCCESS) {
        LogFormatted(L"QSE Failed: %d\n", static_cast<int>(error));
        return false;
    }
    events[kEventsChars - 2] = events[kEventsChars - 1] = L'\0';  // the list ends, whatever came back
    for (const wchar_t* xml = events; *xml; xml += wcslen(xml) + 1) {
        WakeSource named = {};
        bool definite = name(xml, &named);
        named.record = record;
        if (definite) {
            *out = named;
            return true;
        }
        if (kept->record == WakeRecord::None && named.name[0] && wcscmp(named.name, L"unknown") != 0) *kept = named;
    }
    return false;
}

}  // namespace

bool FormatWakeEventQuery(const wchar_t* provider, DWORD eventId, const FILETIME& from, const FILETIME& to,
                          wchar_t* query, int chars) {
    wchar_t start[32], end[32];
    if (!FormatEventTime(from, start, 32) || !FormatEventTime(to, end, 32)) return false;
    const wchar_t kFormat[] = L"*[System[Provider[@Name='%ls'] and EventID=%lu and "
                              L"TimeCreated[@SystemTime>='%ls' and @SystemTime<='%ls']]]";
    // A query cut short would select other events.
    int needed = _scwprintf(kFormat, provider, static_cast<unsigned long>(eventId), start, end);
    if (needed < 0 || needed >= chars) return false;
    FormatBounded(query, chars, kFormat, provider, static_cast<unsigned long>(eventId), start, end);
    return true;
}

bool NameResumeEvent(const wchar_t* xml, WakeSource* out) {
    NameUnknown(nullptr, out);
    DWORD id = 0;
    if (!ReadEventId(xml, &id) || id != kResumeEventId) return false;
    wchar_t owner[kWakeDetailChars], context[kWakeDetailChars], text[kWakeDetailChars];
    if (!ReadEventData(xml, L"WakeTimerOwner", owner, kWakeDetailChars)) owner[0] = L'\0';
    if (!ReadEventData(xml, L"WakeTimerContext", context, kWakeDetailChars)) context[0] = L'\0';
    if (!ReadEventData(xml, L"WakeSourceText", text, kWakeDetailChars)) text[0] = L'\0';
    TrimBlanks(owner);
    TrimBlanks(context);
    TrimBlanks(text);
    if (owner[0]) {
        NameWakeTimer(owner, context, out);
        return true;
    }
    DWORD type = 0;
    if (ReadEventNumber(xml, L"WakeSourceType", &type) && type == kDeviceWakeSourceType && text[0]) {
        NameDevice(L"", text, out);
        return true;
    }
    NameUnknown(text, out);
    return false;
}

bool NameStandbyExitEvent(const wchar_t* xml, WakeSource* out) {
    NameUnknown(nullptr, out);
    DWORD id = 0, reason = 0;
    if (!ReadEventId(xml, &id) || id != kStandbyExitEventId || !ReadEventNumber(xml, L"Reason", &reason)) return false;
    return NameStandbyExitReason(reason, out);
}

bool FindWakeSource(const FILETIME& resumedAround, HANDLE stop, WakeSource* out) {
    NameUnknown(nullptr, out);
    WakeSource kept = {};
    FILETIME from = Shifted(resumedAround, kWakeRecordsBeforeMs, false);
    FILETIME to = Shifted(resumedAround, kWakeRecordsAfterMs, true);
    wchar_t* events = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kEventsChars * sizeof(wchar_t)));
    bool found = false;
    if (events) {
        found = NameFromEvents(kResumeProvider, kResumeEventId, from, to, NameResumeEvent, WakeRecord::ResumeEvent,
                               events, out, &kept);
        if (found && IsDeviceKind(out->kind) && !out->instancePath[0]) AddInstancePath(stop, out);
        if (!found)
            found = NameFromEvents(kStandbyProvider, kStandbyExitEventId, from, to, NameStandbyExitEvent,
                                   WakeRecord::StandbyExitEvent, events, out, &kept);
        HeapFree(GetProcessHeap(), 0, events);
    }
    if (!found) found = NameFromLastWake(stop, out);
    if (!found && kept.record != WakeRecord::None) *out = kept;
    return found;
}
