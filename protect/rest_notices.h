#pragma once

#include <windows.h>

#include "protect/rest_decision.h"

// What Kalnix tells the user once the laptop runs again with its lid open: that it put the
// laptop to rest itself, and how much battery a standby lost. Kept until then; a second rest
// before anyone looks adds to the first instead of replacing it.

// A rest Kalnix makes at this moment, with the wake report's first cause (may be empty); and
// its withdrawal when Windows refused it. After a wake with the lid closed the note says when
// the laptop was woken and, where known, by what ("Kalnix put the laptop back to sleep at
// 03:14: it was woken at 03:12 by ..."); a source Kalnix can keep from waking it again is
// offered to the host as a wake notice (protect/protection_host.h).
void NoteRest(RestKind kind, const wchar_t* firstCause);
void WithdrawLastRest();
// The battery and the time at the start of a standby, unless a standby since the last lid-open
// resume has them already: true when noted now. ForgetSuspend takes back a note of a standby
// that did not happen.
bool NoteSuspend();
void ForgetSuspend();
void NoteResume();
// The laptop runs with its lid open: shows what is pending in one balloon and logs it.
void ShowRestNotices();

// The drain alert for a standby: false when the battery lost no more than alertPerHour
// percent per hour (0: no alert) or the standby was too short to judge; else the balloon's text.
bool StandbyDrainText(int percentBefore, int percentAfter, ULONGLONG elapsedMs, DWORD alertPerHour, wchar_t* text,
                      int chars);
