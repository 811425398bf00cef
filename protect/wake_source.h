#pragma once

#include <windows.h>

#include "protect/wake_naming.h"

// Finds what woke the laptop from Windows' own records, in this order: the System log's
// event of the resume (Microsoft-Windows-Power-Troubleshooter 1), on Modern Standby laptops
// the event of leaving standby (Microsoft-Windows-Kernel-Power 507), then "powercfg
// /lastwake". Each is read by its structure, never by translated text. Run it on a worker
// thread: the tool may take seconds.

// Records of a resume are looked for in this window around the moment it was seen: Windows
// writes them as the laptop resumes, a few seconds before or after programs hear of it.
constexpr ULONGLONG kWakeRecordsBeforeMs = 2 * 60 * 1000;
constexpr ULONGLONG kWakeRecordsAfterMs = 10 * 60 * 1000;
constexpr DWORD kWakeEventsAsked = 4;

// What woke the laptop around `resumedAround` (UTC). True when a record named a source; false
// with `out` naming it unknown, or keeping the text an event gave without saying what it is.
// Ask once Windows has written its records, a few seconds after the resume. A set `stop` ends
// the tool early.
bool FindWakeSource(const FILETIME& resumedAround, HANDLE stop, WakeSource* out);

// The XPath query of the System log's events of `provider` and `eventId` written between
// `from` and `to` (UTC), into `query`; false when it does not fit.
bool FormatWakeEventQuery(const wchar_t* provider, DWORD eventId, const FILETIME& from, const FILETIME& to,
                          wchar_t* query, int chars);

// The resume event (Power-Troubleshooter 1) as XML: a wake timer by its owner and context, a
// device (wake source type 5) by its text. False when it names nothing definite.
bool NameResumeEvent(const wchar_t* xml, WakeSource* out);

// The event of leaving Modern Standby (Kernel-Power 507) as XML, by its reason.
bool NameStandbyExitEvent(const wchar_t* xml, WakeSource* out);
