#pragma once

#include <windows.h>

#include "protect/request_tool.h"

// Why a laptop is still awake with its lid closed: gathered on a worker thread when the lid
// alarm first sounds, so that neither its first tone nor its period waits for the system's
// request tool, and handed to the main thread as kWakeReportMessage to the host window
// (protect/protection_messages.h), which OnWakeReport frees.

constexpr int kWakeReportLines = 16;
constexpr int kWakeReportLineChars = 320;
constexpr int kWakeBalloonChars = 256;

struct WakeReport {
    wchar_t balloon[kWakeBalloonChars];  // the first cause in short; empty when none was found
    int causeCount;
    int failureCount;  // sources that could not answer
    int leftOutCount;  // requests of the alarm's own tone: logged, not causes
    int lineCount;
    wchar_t lines[kWakeReportLines][kWakeReportLineChars];  // for the log, in order
};

// Adds a cause for each "[PROCESS]", "[SERVICE]" and "[DRIVER]" entry of the output of
// "powercfg /requests": first those of its away-mode and execution sections (the third and
// fourth, known by their position since the headings are localized), which can defeat a
// lid-close sleep, then all others in the tool's order. Outside those two sections the audio
// stack's requests, which the alarm's own tone causes, are logged as left out instead. Only
// the tags and the names after them are read.
void AddPowerRequests(const wchar_t* text, WakeReport* report);


// Starts a report for the host window. False when one is still being gathered or no worker
// thread could start.
bool StartWakeReport(HWND window);

// At the end of the program: ends a running tool and waits for the worker, at most 3 s; the
// report it was gathering is dropped.
void StopWakeReport();

// The host window's handling of kWakeReportMessage: logs the lines, shows the balloon through
// the host and frees the report.
void OnWakeReport(LPARAM report);
// The last report's first cause in short (the balloon's text), empty before any report.
const wchar_t* LastWakeCause();
