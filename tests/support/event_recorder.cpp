#include "support/event_recorder.h"

#include "common/event_report.h"

namespace {

std::vector<RecordedEvent> g_events;
int g_registrations = 0;
int g_deregistrations = 0;
HANDLE const kSource = reinterpret_cast<HANDLE>(0x4B4C);

void Record(WORD type, DWORD id, WORD count, const wchar_t** inserts) {
    RecordedEvent event = {type, id, {}};
    for (WORD i = 0; i < count; ++i) event.inserts.push_back(inserts[i] ? inserts[i] : L"<null>");
    g_events.push_back(event);
}

HANDLE WINAPI RegisterSource(LPCWSTR server, LPCWSTR source) {
    ++g_registrations;
    // Only the local log, by the name the setup program registers.
    return !server && source && lstrcmpW(source, L"Kalnix") == 0 ? kSource : nullptr;
}

BOOL WINAPI ReportThroughSeam(HANDLE source, WORD type, WORD, DWORD id, PSID, WORD count, DWORD, LPCWSTR* inserts,
                              LPVOID) {
    if (source != kSource) return FALSE;
    Record(type, id, count, inserts);
    return TRUE;
}

BOOL WINAPI DeregisterSource(HANDLE source) {
    g_deregistrations += source == kSource;
    return TRUE;
}

}  // namespace

EventRecorder::EventRecorder() {
    Clear();
    g_registrations = g_deregistrations = 0;
    g_eventSeam.registerEventSource = RegisterSource;
    g_eventSeam.reportEvent = ReportThroughSeam;
    g_eventSeam.deregisterEventSource = DeregisterSource;
    SetEventWriter(Record);
}

EventRecorder::~EventRecorder() {
    SetEventWriter(nullptr);
    Clear();
}

const std::vector<RecordedEvent>& EventRecorder::Events() const { return g_events; }

std::vector<RecordedEvent> EventRecorder::WithId(DWORD number) const {
    std::vector<RecordedEvent> found;
    for (const RecordedEvent& event : g_events) {
        // A bare number, or a type other than its severity's, is not the message table's event.
        bool inTable = EventInsertCount(event.id) >= 0 && EventTypeOf(event.id) == event.type;
        if ((event.id & 0xFFFF) == number && inTable) found.push_back(event);
    }
    return found;
}

void EventRecorder::Clear() { g_events.clear(); }
int EventRecorder::Registrations() const { return g_registrations; }
int EventRecorder::Deregistrations() const { return g_deregistrations; }
