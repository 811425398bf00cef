#pragma once

#include <windows.h>

// A worker thread that the main thread starts for a slow job (the power tool, the event log)
// and may stop at the run's end: the main thread keeps the thread and a stop event; the worker
// holds its own copy of the event, so the record may go at any time. The job's results come
// back as a posted message, which the worker frees when the program ends first.

struct WorkerRecord {
    HANDLE thread;
    HANDLE stop;
};

// The job's body, on the worker thread: it owns `job` (heap memory) and frees it.
using WorkerBody = void (*)(HWND window, HANDLE stop, void* job);

// True while the record's worker runs.
bool WorkerRunning(const WorkerRecord& record);
// Starts `body` with `job`; a record of an ended worker is closed first. False, with the
// failure logged and `job` still the caller's, when it could not start.
bool StartWorker(WorkerRecord* record, WorkerBody body, HWND window, void* job);
// Sets the stop event and waits for the worker at most `waitMs`; the record is closed.
void StopWorker(WorkerRecord* record, DWORD waitMs);
// True once the stop event is set: the program ends, and nobody reads a result.
bool WorkerStopped(HANDLE stop);
// Posts `message` with `result` (heap memory) unless the program ends; false, with the
// result freed, when it was not posted.
bool PostWorkerResult(HWND window, HANDLE stop, UINT message, void* result);
