#include "common/event_report.h"

#include "common/diagnostic_log.h"

namespace {

struct EventSpec {
    DWORD id;
    int insertCount;
};

// One row per message of res/kalnix_events.mc; the deliverables check compares this table
// with the message table in Kalnix.exe.
constexpr EventSpec kEvents[] = {
    {KALNIX_EVENT_STARTED, 5},
    {KALNIX_EVENT_PROTECTION_APPLIED, 0},
    {KALNIX_EVENT_PROTECTION_RELEASED, 0},
    {KALNIX_EVENT_LID_ACTION_CHANGED, 0},
    {KALNIX_EVENT_LID_ACTION_PUT_BACK, 1},
    {KALNIX_EVENT_SERVICE_STARTED, 0},
    {KALNIX_EVENT_SERVICE_STOPPED, 0},
    {KALNIX_EVENT_FACE_NOT_STARTED, 3},
    {KALNIX_EVENT_WAKE_TIMERS_OFF, 0},
    {KALNIX_EVENT_WAKE_TIMERS_PUT_BACK, 1},
    {KALNIX_EVENT_MAINTENANCE_WAKE_OFF, 0},
    {KALNIX_EVENT_MAINTENANCE_WAKE_PUT_BACK, 1},
    {KALNIX_EVENT_DEVICE_WAKE_OFF, 1},
    {KALNIX_EVENT_DEVICE_WAKE_PUT_BACK, 1},
    {KALNIX_EVENT_DEVICE_WAKE_FAILED, 2},
    {KALNIX_EVENT_ALARM_STARTED, 2},
    {KALNIX_EVENT_STILL_AWAKE, 2},
    {KALNIX_EVENT_ALARM_ENDED, 1},
    {KALNIX_EVENT_ALARM_SILENT, 1},
    {KALNIX_EVENT_PUT_TO_REST, 3},
    {KALNIX_EVENT_REST_FAILED, 2},
    {KALNIX_EVENT_NO_WAY_TO_REST, 0},
    {KALNIX_EVENT_STANDBY_DRAIN, 1},
    {KALNIX_EVENT_WOKEN_CLOSED, 1},
    {KALNIX_EVENT_SETTINGS_NOT_RESTORED, 0},
    {KALNIX_EVENT_POLICY_WRITE_FAILED, 1},
    {KALNIX_EVENT_DRIVER_UNREACHABLE, 1},
};

constexpr int kMaxInserts = 8;

EventWriter g_writer = nullptr;

}  // namespace

int EventInsertCount(DWORD id) {
    for (const EventSpec& event : kEvents)
        if (event.id == id) return event.insertCount;
    return -1;
}

WORD EventTypeOf(DWORD id) {
    switch (id >> 30) {
    case STATUS_SEVERITY_ERROR: return EVENTLOG_ERROR_TYPE;
    case STATUS_SEVERITY_WARNING: return EVENTLOG_WARNING_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
    }
}

void SetEventWriter(EventWriter writer) { g_writer = writer; }

void ReportKalnixEvent(DWORD id, std::initializer_list<const wchar_t*> inserts) {
    if (!g_writer) return;
    int count = static_cast<int>(inserts.size());
    if (count > kMaxInserts || EventInsertCount(id) != count) {
        LogFormatted(L"Event %lu: %d inserts do not fit its message\n", static_cast<unsigned long>(id & 0xFFFF), count);
        return;
    }
    const wchar_t* strings[kMaxInserts] = {};
    int i = 0;
    for (const wchar_t* insert : inserts) strings[i++] = insert ? insert : L"";
    g_writer(EventTypeOf(id), id, static_cast<WORD>(count), strings);
}
