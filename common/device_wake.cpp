#include "common/device_wake.h"

#include <cwchar>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"

namespace {

constexpr DWORD kToolTimeoutMs = 15000;
constexpr UINT kEndedToolExitCode = 1;

// Waits for the tool; one that does not end in time is ended and counts as a timeout.
DWORD WaitForTool(HANDLE process, DWORD* exitCode, const wchar_t** failedCall) {
    *failedCall = L"WFSO";
    DWORD waited = WaitForSingleObject(process, kToolTimeoutMs);
    if (waited == WAIT_FAILED) return GetLastError();
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process, kEndedToolExitCode);
        return WAIT_TIMEOUT;
    }
    *failedCall = L"GECP";
    return GetExitCodeProcess(process, exitCode) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

bool ToolTakesDeviceName(const wchar_t* device) {
    if (!FitsList(device)) return false;
    for (const wchar_t* c = device; *c; ++c)
        if (*c == L'"' || *c < L' ') return false;
    return true;
}

DWORD SwitchDeviceWake(const wchar_t* device, bool allowed, ToolStarter start, const wchar_t** failedCall) {
    *failedCall = L"";
    if (!ToolTakesDeviceName(device)) return ERROR_INVALID_NAME;
    wchar_t tool[MAX_PATH];
    const wchar_t kTool[] = L"\\powercfg.exe";
    *failedCall = L"GSD";
    UINT length = GetSystemDirectoryW(tool, MAX_PATH);
    if (length == 0) return GetLastError();
    if (length + wcslen(kTool) >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    wcscat(tool, kTool);
    // The name is one argument in quotes, which it cannot end.
    constexpr int kCommandChars = MAX_PATH + kSettingListNameChars + 32;
    wchar_t commandLine[kCommandChars];
    FormatBounded(commandLine, kCommandChars, L"\"%ls\" %ls \"%ls\"", tool,
                  allowed ? L"/deviceenablewake" : L"/devicedisablewake", device);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    // By full path as the application too: Kalnix runs elevated and must start the system's
    // own tool, never one found by a search. It inherits nothing of ours.
    *failedCall = L"CP";
    if (!start(tool, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
        return GetLastError();
    ScopedHandle processHandle(process.hProcess);
    ScopedHandle threadHandle(process.hThread);
    DWORD exitCode = 0;
    DWORD error = WaitForTool(processHandle.get(), &exitCode, failedCall);
    if (error != ERROR_SUCCESS) return error;
    *failedCall = L"powercfg";
    return exitCode == 0 ? ERROR_SUCCESS : ERROR_BAD_COMMAND;
}

bool RestoreDeviceWake(ToolStarter start) {
    ScopedKey key(OpenSettingsKeyQuietly());
    SettingList disarmed;
    if (!ReadSettingList(key.get(), kDisarmedWakeDevicesValue, &disarmed)) {
        // Unreadable, or nothing to read for want of the key: nothing of this kind is known.
        return !key.valid();
    }
    if (disarmed.count == 0) return true;
    SettingList left = disarmed;
    for (int i = 0; i < disarmed.count; ++i) {
        const wchar_t* device = disarmed.names[i];
        const wchar_t* failedCall = L"";
        DWORD error = SwitchDeviceWake(device, true, start, &failedCall);
        if (error != ERROR_SUCCESS) {
            LogFormatted(L"%ls Failed: %d (%ls may not wake the laptop yet)\n", failedCall, static_cast<int>(error),
                         device);
            continue;
        }
        LogFormatted(L"%ls may wake the laptop again", device);
        ReportKalnixEvent(KALNIX_EVENT_DEVICE_WAKE_PUT_BACK, {device});
        RemoveFromList(&left, device);
    }
    LONG status = WriteSettingList(key.get(), kDisarmedWakeDevicesValue, left);
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    return left.count == 0 && status == ERROR_SUCCESS;
}
