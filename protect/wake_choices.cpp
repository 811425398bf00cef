#include "protect/wake_choices.h"

#include <cwchar>

#include "common/applied_setting.h"
#include "common/bounded_format.h"
#include "common/device_wake.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/maintenance_wake.h"
#include "common/scoped_handle.h"
#include "common/seam_power.h"
#include "common/settings_store.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"

namespace {

constexpr DWORD kStopWaitMs = 3000;

WakeChoicesState& Choices() { return g_protection.run.wakeChoices; }

struct DeviceWakeResult {
    DeviceWakeChange change;
    DWORD error;
    const wchar_t* failedCall;  // a literal
};
struct DeviceWakeResults {
    int count;
    DeviceWakeResult results[2 * kSettingListNames];
};

bool SettingOn(SettingId setting) {
    DWORD value = 0;
    return ReadAppliedSettingDword(setting, &value, LocalRead::Quiet) && value == 1;
}

void AddChange(DeviceWakePlan* plan, const wchar_t* device, bool allowed) {
    DeviceWakeChange& change = plan->changes[plan->count++];
    FormatBounded(change.device, kSettingListNameChars, L"%ls", device);
    change.allowed = allowed;
}

// The record of what Kalnix kept from waking the laptop follows each switch at once: a run
// that ends in the middle loses none of it.
void RecordSwitch(const DeviceWakeChange& change) {
    ScopedKey key(OpenSettingsKeyQuietly());
    SettingList disarmed;
    ReadSettingList(key.get(), kDisarmedWakeDevicesValue, &disarmed);
    if (change.allowed) RemoveFromList(&disarmed, change.device);
    else AddToList(&disarmed, change.device);
    WriteSettingList(key.get(), kDisarmedWakeDevicesValue, disarmed);
}

void SwitchBody(HWND window, HANDLE stop, void* job) {
    auto* plan = static_cast<DeviceWakePlan*>(job);
    auto* results = static_cast<DeviceWakeResults*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeviceWakeResults)));
    if (results) {
        for (int i = 0; i < plan->count && !WorkerStopped(stop); ++i) {
            DeviceWakeResult& result = results->results[results->count++];
            result.change = plan->changes[i];
            result.error = SwitchDeviceWake(result.change.device, result.change.allowed, g_powerSeam.createProcess,
                                            &result.failedCall);
            if (result.error == ERROR_SUCCESS) RecordSwitch(result.change);
        }
        PostWorkerResult(window, stop, kDeviceWakeMessage, results);
    }
    HeapFree(GetProcessHeap(), 0, plan);
}

void TellResult(const DeviceWakeResult& result) {
    const DeviceWakeChange& change = result.change;
    if (result.error == ERROR_SUCCESS) {
        LogFormatted(change.allowed ? L"%ls may wake the laptop again" : L"%ls may no longer wake the laptop",
                     change.device);
        ReportKalnixEvent(change.allowed ? KALNIX_EVENT_DEVICE_WAKE_PUT_BACK : KALNIX_EVENT_DEVICE_WAKE_OFF,
                          {change.device});
        return;
    }
    LogFormatted(L"%ls Failed: %d (%ls)\n", result.failedCall, static_cast<int>(result.error), change.device);
    wchar_t why[64];
    FormatBounded(why, 64, L"%ls failed with error %d", result.failedCall, static_cast<int>(result.error));
    ReportKalnixEvent(KALNIX_EVENT_DEVICE_WAKE_FAILED, {change.device, why});
    AddToList(&Choices().failed, change.device);
}

void ApplyMaintenanceChoice() {
    if (SettingOn(SettingId::MaintenanceWakeOff)) EnforceMaintenanceWakeOff();
    else if (!RestoreMaintenanceWake()) LogMessage(L"Automatic maintenance's wake not put back: it stays saved");
}

}  // namespace

void PlanDeviceWake(const SettingList& seen, const SettingList& chosen, bool everySeen, const SettingList& disarmed,
                    const SettingList& failed, DeviceWakePlan* plan) {
    plan->count = 0;
    // What Kalnix kept from waking the laptop was seen waking it once, though the record of
    // those seen may have let it go since.
    auto wanted = [&](const wchar_t* device) {
        bool known = ListHas(seen, device) || ListHas(disarmed, device);
        return known && (everySeen || ListHas(chosen, device));
    };
    for (int i = 0; i < disarmed.count; ++i)
        if (!wanted(disarmed.names[i]) && !ListHas(failed, disarmed.names[i])) AddChange(plan, disarmed.names[i], true);
    // The record of those Kalnix switched must keep every one of them, or one could never be put
    // back: no more are switched than it holds.
    int recorded = disarmed.count;
    for (int i = 0; i < seen.count && recorded < kSettingListNames; ++i)
        if (wanted(seen.names[i]) && !ListHas(disarmed, seen.names[i]) && !ListHas(failed, seen.names[i])) {
            AddChange(plan, seen.names[i], false);
            ++recorded;
        }
}

void NoteWakingDevice(HWND window, const wchar_t* device) {
    if (!Host().changesPowerPolicy) return;
    ScopedKey key(OpenSettingsKeyQuietly());
    SettingList seen;
    ReadSettingList(key.get(), kWakeDevicesValue, &seen);
    if (!ListHas(seen, device)) {
        AddToList(&seen, device);
        LONG status = WriteSettingList(key.get(), kWakeDevicesValue, seen);
        if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    }
    ApplyWakeChoices(window);
}

void ApplyWakeChoices(HWND window) {
    if (!g_protection.run.running || !Host().changesPowerPolicy) return;
    ApplyMaintenanceChoice();
    WakeChoicesState& c = Choices();
    if (WorkerRunning(c.worker)) {
        c.again = true;
        return;
    }
    ScopedKey key(OpenSettingsKeyQuietly());
    SettingList seen, chosen, disarmed;
    ReadSettingList(key.get(), kWakeDevicesValue, &seen);
    ReadSettingList(key.get(), kWakeDevicesOffValue, &chosen);
    ReadSettingList(key.get(), kDisarmedWakeDevicesValue, &disarmed);
    auto* plan = static_cast<DeviceWakePlan*>(HeapAlloc(GetProcessHeap(), 0, sizeof(DeviceWakePlan)));
    if (!plan) return;
    PlanDeviceWake(seen, chosen, SettingOn(SettingId::WakingDevicesOff), disarmed, c.failed, plan);
    if (plan->count == 0 || !StartWorker(&c.worker, SwitchBody, window, plan)) HeapFree(GetProcessHeap(), 0, plan);
}

void OnDeviceWakeResults(HWND window, LPARAM parameter) {
    auto* results = reinterpret_cast<DeviceWakeResults*>(parameter);
    if (!results) return;
    if (g_protection.run.running) {
        for (int i = 0; i < results->count && i < 2 * kSettingListNames; ++i) TellResult(results->results[i]);
        if (Choices().again) {
            Choices().again = false;
            ApplyWakeChoices(window);
        }
    }
    HeapFree(GetProcessHeap(), 0, results);
}

void StopWakeChoices() {
    Choices().again = false;
    StopWorker(&Choices().worker, kStopWaitMs);
}
