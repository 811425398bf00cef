#pragma once

#include <windows.h>

#include "protect/closure_record.h"

// The closure record as the More settings dialog lists it: one row per lid closure, newest
// first, in three columns: when the lid closed (in the user's date and time format), what
// happened, and the cause Kalnix found where it put the laptop to rest. The stored lines stay
// as protect/closure_record.cpp writes them ("2025-03-04 10:15  Put to rest by Kalnix (sleep)
// after 75 s: <cause>; the standby used 10% in 1 h 05 min").

// A stored line's three columns. Where the record cut a text at its length limits, the column
// ends in "…" rather than in part of a word without a sign.
struct ClosureColumns {
    wchar_t time[64];
    wchar_t happened[kClosureLineChars + 1];
    wchar_t cause[kClosureLineChars + 1];
};

// A line that does not start with the record's time stamp is shown whole under "What happened".
void SplitClosureLine(const wchar_t* line, ClosureColumns* columns);

// Gives the list view `list` its columns and the record's rows ("No lid closure seen yet."
// when there are none).
void ShowClosureList(HWND list, const ClosureLines& record);
