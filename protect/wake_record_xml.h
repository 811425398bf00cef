#pragma once

#include <windows.h>

// Reads the few fields Kalnix needs from an event as the event log renders it in XML
// (EvtRenderEventXml): strict about the little it reads, never a general XML parser. The
// record is a NUL-terminated string; nothing is read past its end.

// The text of the record's <Data Name="field"> element (either quote), with the five named
// entities, character references and CDATA sections resolved, into `out` (`chars` characters,
// terminator included). An empty element, written <Data Name="field"/> or with no text, gives
// an empty string. False, with `out` empty, when the field is absent, the record is malformed
// or cut short before the field's end, or the text does not fit.
bool ReadEventData(const wchar_t* xml, const wchar_t* field, wchar_t* out, int chars);

// The same for a field holding an unsigned 32-bit decimal number; false also when it holds
// anything else.
bool ReadEventNumber(const wchar_t* xml, const wchar_t* field, DWORD* value);

// The number in the record's <EventID> element.
bool ReadEventId(const wchar_t* xml, DWORD* id);
