#include "protect/worker_thread.h"

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

namespace {

// What the thread is handed, on the heap: it reads it and frees it.
struct WorkerStart {
    WorkerBody body;
    HWND window;
    HANDLE stop;  // the worker's own copy
    void* job;
};

DWORD WINAPI WorkerThread(void* parameter) {
    WorkerStart start = *static_cast<WorkerStart*>(parameter);
    HeapFree(GetProcessHeap(), 0, parameter);
    ScopedHandle stop(start.stop);
    start.body(start.window, stop.get(), start.job);
    return 0;
}

void CloseRecord(WorkerRecord* record) {
    if (record->thread) CloseHandle(record->thread);
    if (record->stop) CloseHandle(record->stop);
    *record = {};
}

DWORD Start(WorkerRecord* record, WorkerBody body, HWND window, void* job, const wchar_t** failedCall) {
    *failedCall = L"CE";
    record->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!record->stop) return GetLastError();
    ScopedHandle workerStop;
    *failedCall = L"DH";
    if (!DuplicateHandle(GetCurrentProcess(), record->stop, GetCurrentProcess(), workerStop.put(), 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return GetLastError();
    *failedCall = L"HA";
    auto* start = static_cast<WorkerStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WorkerStart)));
    if (!start) return ERROR_NOT_ENOUGH_MEMORY;
    *start = {body, window, workerStop.get(), job};
    *failedCall = L"CT";
    record->thread = CreateThread(nullptr, 0, WorkerThread, start, 0, nullptr);
    if (!record->thread) {
        DWORD error = GetLastError();
        HeapFree(GetProcessHeap(), 0, start);
        return error;
    }
    workerStop.release();  // the worker closes it
    return ERROR_SUCCESS;
}

}  // namespace

bool WorkerRunning(const WorkerRecord& record) {
    return record.thread && WaitForSingleObject(record.thread, 0) == WAIT_TIMEOUT;
}

bool StartWorker(WorkerRecord* record, WorkerBody body, HWND window, void* job) {
    if (WorkerRunning(*record)) return false;
    CloseRecord(record);
    const wchar_t* failedCall = L"";
    DWORD error = Start(record, body, window, job, &failedCall);
    if (error == ERROR_SUCCESS) return true;
    LogFormatted(L"%ls Failed: %d\n", failedCall, static_cast<int>(error));
    CloseRecord(record);
    return false;
}

void StopWorker(WorkerRecord* record, DWORD waitMs) {
    if (record->stop) SetEvent(record->stop);
    if (record->thread) WaitForSingleObject(record->thread, waitMs);
    CloseRecord(record);
}

bool WorkerStopped(HANDLE stop) { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }

bool PostWorkerResult(HWND window, HANDLE stop, UINT message, void* result) {
    if (!WorkerStopped(stop) && PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(result))) return true;
    HeapFree(GetProcessHeap(), 0, result);
    return false;
}
