#include "common/system_events.h"

#include <winevt.h>

#include "common/system_library.h"

namespace {

// A reading never waits longer than this for the log service to hand over the next event.
constexpr DWORD kNextEventWaitMs = 5000;

struct EventLogFunctions {
    decltype(&::EvtQuery) query;
    decltype(&::EvtNext) next;
    decltype(&::EvtRender) render;
    decltype(&::EvtClose) close;
    DWORD missingError;  // why an entry is null
};

template <class Function>
void Resolve(HMODULE library, Function* function, const char* name) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

EventLogFunctions ResolveEventLog() {
    EventLogFunctions table = {};
    HMODULE library = LoadSystemLibrary(L"wevtapi.dll");  // never freed: the table points into it
    if (!library) {
        table.missingError = GetLastError();
        return table;
    }
    Resolve(library, &table.query, "EvtQuery");
    Resolve(library, &table.next, "EvtNext");
    Resolve(library, &table.render, "EvtRender");
    Resolve(library, &table.close, "EvtClose");
    if (!table.query || !table.next || !table.render || !table.close) {
        table = {};
        table.missingError = ERROR_PROC_NOT_FOUND;
    }
    return table;
}

const EventLogFunctions& EventLog() {
    static const EventLogFunctions table = ResolveEventLog();
    return table;
}

// Closes an event log handle when the scope ends.
class ScopedEvt {
public:
    explicit ScopedEvt(EVT_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedEvt() {
        if (handle_) EventLog().close(handle_);
    }
    ScopedEvt(const ScopedEvt&) = delete;
    ScopedEvt& operator=(const ScopedEvt&) = delete;
    EVT_HANDLE get() const { return handle_; }
    EVT_HANDLE* put() { return &handle_; }

private:
    EVT_HANDLE handle_;
};

// Renders one event after the `used` characters already written; the room for the list's end
// stays free. ERROR_SUCCESS with `used` moved past it, ERROR_INSUFFICIENT_BUFFER when it does
// not fit (nothing counted), or the failure.
DWORD RenderEvent(EVT_HANDLE event, wchar_t* xml, DWORD chars, DWORD* used) {
    DWORD room = chars - *used - 1;
    if (room < 2) return ERROR_INSUFFICIENT_BUFFER;
    DWORD bytes = 0, properties = 0;
    if (!EventLog().render(nullptr, event, EvtRenderEventXml, room * sizeof(wchar_t), xml + *used, &bytes,
                           &properties))
        return GetLastError();
    DWORD written = bytes / sizeof(wchar_t);  // its terminator included
    if (written == 0 || written > room) return ERROR_INSUFFICIENT_BUFFER;
    xml[*used + written - 1] = L'\0';
    *used += written;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD WINAPI QuerySystemEvents(const wchar_t* query, DWORD maxEvents, wchar_t* xml, DWORD chars) {
    if (!xml || chars == 0) return ERROR_INSUFFICIENT_BUFFER;
    xml[0] = L'\0';
    const EventLogFunctions& log = EventLog();
    if (!log.query) return log.missingError;
    ScopedEvt results(log.query(nullptr, L"System", query, EvtQueryChannelPath | EvtQueryReverseDirection));
    if (!results.get()) return GetLastError();
    DWORD used = 0;
    for (DWORD n = 0; n < maxEvents; ++n) {
        ScopedEvt event;
        DWORD returned = 0;
        if (!log.next(results.get(), 1, event.put(), kNextEventWaitMs, 0, &returned)) {
            DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) break;
            xml[used] = L'\0';
            return error;
        }
        if (returned != 1) break;
        DWORD error = RenderEvent(event.get(), xml, chars, &used);
        if (error != ERROR_SUCCESS && error != ERROR_INSUFFICIENT_BUFFER) {
            xml[used] = L'\0';
            return error;
        }
    }
    xml[used] = L'\0';
    return ERROR_SUCCESS;
}
