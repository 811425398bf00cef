#pragma once

#include <string>

// What a deferred action of the packages finds before it changes anything, for the rollback
// action scheduled before it: a rollback action reads only the data the planning action wrote
// before the installation began, and the state it must put back is the one the deferred action
// saw, as SYSTEM, at that moment. Each record belongs to one run (the planning action's token),
// so that a record left by an earlier run is never taken for this one's. They are kept in a
// volatile key under HKLM\SOFTWARE, which only administrators and SYSTEM can write and which
// Windows drops at the next restart.

// True when the record was stored.
bool SaveRollbackRecord(const std::wstring& run, const wchar_t* name, const std::wstring& text);

// The record's text; false when this run stored none.
bool ReadRollbackRecord(const std::wstring& run, const wchar_t* name, std::wstring* text);

// The run's records, all of them (after its rollback used them).
void DropRollbackRecords(const std::wstring& run);

// A token no other run has: the process, the time and the tick count.
std::wstring NewRunToken();
