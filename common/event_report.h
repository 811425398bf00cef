#pragma once

#include <windows.h>

#include <initializer_list>

#include "kalnix_events.h"

// Kalnix's events in the Application log (source "Kalnix"), for fleets that read the log
// rather than a thousand Kalnix.log files; res/kalnix_events.mc holds their messages. Every
// layer reports through here, whatever EnableLogging says. Only the tray program writes them
// (common/event_log.h): in the installer library reporting does nothing.

// Reports the event with its inserts; its type follows the ID's severity. An event whose
// number of inserts is not its message's is logged, not reported.
void ReportKalnixEvent(DWORD id, std::initializer_list<const wchar_t*> inserts = {});

// The number of inserts the event's message takes; -1 for an ID that is no event.
int EventInsertCount(DWORD id);

// The Application log's type for the ID's severity (EVENTLOG_INFORMATION_TYPE, ...).
WORD EventTypeOf(DWORD id);

using EventWriter = void (*)(WORD type, DWORD id, WORD insertCount, const wchar_t** inserts);
// Null stops reporting.
void SetEventWriter(EventWriter writer);
