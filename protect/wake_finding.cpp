#include "protect/wake_finding.h"

#include "common/bounded_format.h"
#include "common/device_wake.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/seam_power.h"
#include "protect/closure_record.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"
#include "protect/wake_choices.h"
#include "protect/wake_source.h"

namespace {

constexpr DWORD kStopWaitMs = 3000;

WakeFindingState& Finding() { return g_protection.run.wakeFinding; }

// The worker's job, on the heap.
struct FindJob {
    FILETIME resumedAt;
};

void FindBody(HWND window, HANDLE stop, void* job) {
    FILETIME resumedAt = static_cast<FindJob*>(job)->resumedAt;
    HeapFree(GetProcessHeap(), 0, job);
    auto* source = static_cast<WakeSource*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WakeSource)));
    if (!source) return;
    FindWakeSource(resumedAt, stop, source);
    PostWorkerResult(window, stop, kWakeSourceMessage, source);
}

const wchar_t* RecordText(WakeRecord record) {
    switch (record) {
    case WakeRecord::ResumeEvent: return L"the System log's resume event";
    case WakeRecord::StandbyExitEvent: return L"the System log's event of leaving Modern Standby";
    case WakeRecord::LastWakeTool: return L"powercfg /lastwake";
    case WakeRecord::None: break;
    }
    return L"no record named it";
}

void TellWake(const WakeSource& source) {
    WakeFindingState& f = Finding();
    LogFormatted(L"Woken at %02u:%02u with the lid closed by %ls (%ls)", f.wokenHour, f.wokenMinute, source.name,
                 RecordText(source.record));
    ReportKalnixEvent(KALNIX_EVENT_WOKEN_CLOSED, {source.name});
    // A wake of an earlier closure names nothing of this one.
    if (f.woken) {
        f.named = true;
        f.preventable = WakePreventable(source);
        FormatBounded(f.name, kWakeNameChars, L"%ls", source.name);
        NameClosureWake(source.name);
    }
    if (f.onBattery && DeviceWakePreventable(source)) NoteWakingDevice(Host().window, source.deviceName);
}

}  // namespace

void StartWakeFinding(HWND window) {
    WakeFindingState& f = Finding();
    if (f.due || WorkerRunning(f.worker)) return;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    GetSystemTimeAsFileTime(&f.resumedAt);
    SYSTEM_POWER_STATUS status = {};
    f.onBattery = g_powerSeam.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
    f.woken = true;
    f.named = false;
    f.preventable = false;
    f.name[0] = L'\0';
    f.wokenHour = now.wHour;
    f.wokenMinute = now.wMinute;
    NoteClosureWake(now.wHour, now.wMinute);
    f.due = true;
    f.recordsDue = ArmedNow(kWakeRecordsDelayMs);
    SetTimer(window, kWakeSourceTimer, kWakeRecordsDelayMs, nullptr);
}

void OnWakeSourceTick(HWND window) {
    WakeFindingState& f = Finding();
    UINT remainingMs = 0;
    if (f.due && CheckTimer(f.recordsDue, &remainingMs) == TimerCheck::Early) {
        SetTimer(window, kWakeSourceTimer, remainingMs, nullptr);
        return;
    }
    KillTimer(window, kWakeSourceTimer);
    // A tick that finds the laptop slept since: the records of the wake are there all the same.
    if (!f.due) return;
    f.due = false;
    auto* job = static_cast<FindJob*>(HeapAlloc(GetProcessHeap(), 0, sizeof(FindJob)));
    if (!job) return LogFormatted(L"HA Failed: %d\n", static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
    job->resumedAt = f.resumedAt;
    if (!StartWorker(&f.worker, FindBody, window, job)) HeapFree(GetProcessHeap(), 0, job);
}

void OnWakeSourceFound(LPARAM parameter) {
    auto* source = reinterpret_cast<WakeSource*>(parameter);
    if (!source) return;
    if (g_protection.run.running) TellWake(*source);
    HeapFree(GetProcessHeap(), 0, source);
}

void ForgetClosureWake() {
    WakeFindingState& f = Finding();
    f.woken = false;
    f.named = false;
    f.preventable = false;
    f.name[0] = L'\0';
}

void StopWakeFinding() {
    Finding().due = false;
    StopWorker(&Finding().worker, kStopWaitMs);
}

bool LastClosedWake(WORD* hour, WORD* minute, const wchar_t** name, bool* preventable) {
    const WakeFindingState& f = Finding();
    if (!f.woken) return false;
    *hour = f.wokenHour;
    *minute = f.wokenMinute;
    *name = f.named ? f.name : L"";
    *preventable = f.named && f.preventable;
    return true;
}

bool DeviceWakePreventable(const WakeSource& source) {
    bool device = source.kind == WakeSourceKind::Device || source.kind == WakeSourceKind::NetworkAdapter;
    return device && !source.builtIn && ToolTakesDeviceName(source.deviceName);
}

bool WakePreventable(const WakeSource& source) {
    return source.kind == WakeSourceKind::WakeTimer || DeviceWakePreventable(source);
}
