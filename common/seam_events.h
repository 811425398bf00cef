#pragma once

#include <windows.h>

// Stand-ins for the event log: Wine's keeps nothing a test could read back, and none of the
// power events of a real laptop. Tests may swap an entry inside a scope
// (tests/support/platform_scope.h).
struct EventSeam {
    // Kalnix's own events (common/event_log.h).
    decltype(&::RegisterEventSourceW) registerEventSource;
    decltype(&::ReportEventW) reportEvent;
    decltype(&::DeregisterEventSource) deregisterEventSource;
    // What woke the laptop, from the System log (common/system_events.h): tests hand in the
    // events of real laptops.
    DWORD(WINAPI* querySystemEvents)(const wchar_t* query, DWORD maxEvents, wchar_t* xml, DWORD chars);
};

extern EventSeam g_eventSeam;
