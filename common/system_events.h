#pragma once

#include <windows.h>

// The System event log, read through the event log API (wevtapi.dll, loaded from System32 at
// the first use: it is no KnownDLL).

// The XML of the System log's events that the XPath `query` selects, newest first: at most
// `maxEvents` of them, one after another, each ended by a NUL and the list by an empty
// string, all within `chars` characters. An event too large for the room left is left out.
// ERROR_SUCCESS, also when nothing matched; else the failed call's error.
DWORD WINAPI QuerySystemEvents(const wchar_t* query, DWORD maxEvents, wchar_t* xml, DWORD chars);
