#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "app/app_state.h"
#include "app/tray_window.h"
#include "common/platform.h"
#include "common/settings_store.h"
#include "image/logo_bitmap.h"
#include "protect/lid_monitor.h"
#include "protect/power_notifications.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

// The marker exists only to be found by a second instance. "Global\" makes it
// machine-wide: one instance for all users logged on.
constexpr const wchar_t* kSingleInstanceName = L"Global\\Kalnix";

bool AnotherInstanceRuns() {
    HANDLE existing = g_platform.openEvent(SYNCHRONIZE, FALSE, kSingleInstanceName);
    if (!existing) return false;
    CloseHandle(existing);
    return true;
}

// The look above and this create are two steps: a start at the same moment (the setup
// program's and the log-on task's) can create the marker in between. Only the start that
// really created it runs on; the other lets go of it and ends.
bool CreateSingleInstanceMarker() {
    HANDLE marker = CreateEventW(nullptr, FALSE, TRUE, kSingleInstanceName);
    if (marker && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(marker);
        return false;
    }
    return true;  // held for the life of the process
}

void ReadProtectionSettings() {
    DWORD mode = 0;
    DWORD delay = 0;
    ReadSettingDword(L"Action", &mode, g_settingsKey);
    ReadSettingDword(L"AlarmTime", &delay, g_settingsKey);
    // Stored as unsigned 32-bit values; kept as the same bits in signed form.
    SetProtectionSettings(static_cast<int>(mode), static_cast<int>(delay));
}

void BuildLogoRecord() {
    LogoRecord* record = static_cast<LogoRecord*>(calloc(1, sizeof(LogoRecord)));
    if (!record) return;
    if (PngImage* image = LoadLogoPng(IDR_LOGO)) {
        record->handle = CreateLogoBitmap(image);
        FreePngImage(image);
    }
    if (record->handle) GetObjectW(record->handle, sizeof(record->bitmap), &record->bitmap);
    g_logoRecord = record;  // lives until the process ends
}

int RunMessageLoop() {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

bool IsFreshSwitch(const char* commandTail) {
    return commandTail && _stricmp(commandTail, "-fresh") == 0;
}

int RunTrayApplication(HINSTANCE instance, const char* commandTail) {
    if (AnotherInstanceRuns() || !CreateSingleInstanceMarker()) return 0;

    if (IsFreshSwitch(commandTail)) {
        wcsncpy(g_pendingBalloonText, kFreshStartBalloon, kBalloonTextChars - 1);
        g_pendingBalloonText[kBalloonTextChars - 1] = L'\0';
    }
    ReadProtectionSettings();
    g_instance = instance;
    CreateTrayWindow();
    // Without its window nothing could ever end the program (the setup program finds it by
    // that window), yet it would hold the single-instance marker: leave at once instead.
    if (!g_trayWindow) return 1;
    // Without the driver Windows' own lid notifications stand in for it (no thread needed).
    if (!StartLidMonitor()) StartLidNotifications();
    BuildLogoRecord();
    return RunMessageLoop();
}
