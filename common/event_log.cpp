#include "common/event_log.h"

#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/seam_events.h"

namespace {

HANDLE g_source = nullptr;
bool g_registerFailed = false;
bool g_reportFailed = false;

void WriteEvent(WORD type, DWORD id, WORD insertCount, const wchar_t** inserts) {
    if (!g_source && !g_registerFailed) {
        g_source = g_eventSeam.registerEventSource(nullptr, L"Kalnix");
        if (!g_source) {
            g_registerFailed = true;  // no source now, none later: events are off for this run
            LogFormatted(L"RES Failed: %d\n", static_cast<int>(GetLastError()));
        }
    }
    if (!g_source) return;
    if (g_eventSeam.reportEvent(g_source, type, 0, id, nullptr, insertCount, 0, inserts, nullptr) || g_reportFailed)
        return;
    g_reportFailed = true;
    LogFormatted(L"RE Failed: %d\n", static_cast<int>(GetLastError()));
}

}  // namespace

void StartEventLog() {
    g_registerFailed = false;
    g_reportFailed = false;
    SetEventWriter(WriteEvent);
}

void EndEventLog() {
    SetEventWriter(nullptr);
    if (g_source) g_eventSeam.deregisterEventSource(g_source);
    g_source = nullptr;
}
