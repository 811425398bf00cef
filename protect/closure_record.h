#pragma once

#include <windows.h>

#include "common/setting_table.h"
#include "protect/rest_decision.h"

// What Kalnix saw of the last lid closures, so that a user can tell whether it ever had to
// act: one line per closure, newest first, kept in the settings key as the REG_MULTI_SZ value
// "LidClosures". A closure is gathered in memory while the lid is closed and its line written
// once, when the lid opens: an idle laptop costs nothing. Main thread only.

constexpr const wchar_t* kClosureRecordValue = SettingName(SettingId::LidClosures);
constexpr int kClosureRecordLines = 20;
// A line and its terminator; longer causes and wake sources are cut.
constexpr int kClosureLineChars = 256;

struct ClosureLines {
    int count;
    wchar_t lines[kClosureRecordLines][kClosureLineChars];
};

// A closing seen: a closure starts afresh, stamped with the local time. A run that ends with
// the lid closed writes nothing of it.
void BeginClosureRecord();
// What happened while the lid was closed; each is ignored outside a closure.
// The first sleep, with the awake seconds since the closing.
void NoteClosureSleep();
// The alarm began or stopped sounding: its sounding time adds up over the closure.
void NoteAlarmRinging(bool ringing);
// Someone heard the ringing alarm: the lid opened, or a person used the keyboard or mouse.
void NoteAlarmHeard();
// The laptop woke with the lid closed at this local time; and, once known, what woke it. The
// line tells the last wake and how many came.
void NoteClosureWake(WORD hour, WORD minute);
void NameClosureWake(const wchar_t* source);
// Kalnix put the laptop to rest, with the wake report's first cause (may be empty).
void NoteClosureRest(RestKind kind, const wchar_t* cause);
// A standby long enough to judge, and the battery it used.
void NoteStandbyDrain(int percentUsed, ULONGLONG standbyMs);
// The lid opened: the closure's line goes first into the record, which keeps the newest
// kClosureRecordLines. A failed write is logged.
void EndClosureRecord();

// The record as stored, newest first; empty when there is none or it cannot be read.
void ReadClosureRecord(ClosureLines* record);
