// The lid alarm's timing on the real tray window and real window timers, observed through
// the seam over Beep (Wine's Beep returns at once and makes no sound to measure); then, with
// RestAfter set, the time from the first and the last tone to the rest, observed through the
// seam over SetSuspendState (Wine neither sleeps nor reports an S3 machine).
//   alarm_bench [AlarmTime seconds] [tones] [RestAfter seconds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "app/app_state.h"
#include "app/tray_window.h"
#include "common/seam_displays.h"
#include "common/seam_power.h"
#include "common/seam_shell.h"
#include "common/seam_sound.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"

namespace {

LARGE_INTEGER g_frequency;
std::vector<double> g_toneMs;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / g_frequency.QuadPart;
}

BOOL WINAPI RecordTone(DWORD, DWORD) {
    g_toneMs.push_back(NowMs());
    return TRUE;
}

BOOL WINAPI AcceptIcon(DWORD, PNOTIFYICONDATAW) { return TRUE; }

double g_restMs = 0;

BOOLEAN WINAPI RecordRest(BOOLEAN, BOOLEAN, BOOLEAN) {
    if (g_restMs == 0) g_restMs = NowMs();
    return TRUE;
}

// An S3 laptop whose sound is on: the alarm is heard, and RestAfter decides.
BOOLEAN WINAPI SleepsInS3(PSYSTEM_POWER_CAPABILITIES capabilities) {
    *capabilities = {};
    capabilities->SystemS3 = TRUE;
    return TRUE;
}

HRESULT WINAPI SoundIsOn(BOOL* muted, float* volume) {
    *muted = FALSE;
    *volume = 0.5f;
    return S_OK;
}

// A laptop with its lid closed and no other display: Wine's one display counts as external,
// which would keep the alarm from ringing at all.
LONG WINAPI NoActiveDisplay(UINT32, UINT32* paths, UINT32* modes) {
    *paths = 0;
    *modes = 0;
    return ERROR_SUCCESS;
}

// With no active path the monitors' records are asked, and Wine publishes none: the panel's.
HRESULT WINAPI PanelOnly(MonitorConnection* records, UINT capacity, UINT* count) {
    *count = 0;
    if (capacity == 0) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
    records[0] = {static_cast<DWORD>(DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL), FALSE};
    *count = 1;
    return S_OK;
}

void PumpUntil(size_t tones, bool rest, double deadlineMs) {
    while ((g_toneMs.size() < tones || (rest && g_restMs == 0)) && NowMs() < deadlineMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

void Row(const wchar_t* figure, double measured, double goal) {
    wprintf(L"%-34ls %10.1f %10.1f %8.3f\n", figure, measured, goal, measured / goal);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int delaySeconds = argc > 1 ? _wtoi(argv[1]) : 5;
    size_t tones = argc > 2 ? static_cast<size_t>(_wtoi(argv[2])) : 11;
    int restAfterSeconds = argc > 3 ? _wtoi(argv[3]) : 0;  // the setting itself is in the registry
    if (tones < 2) tones = 2;
    QueryPerformanceFrequency(&g_frequency);
    g_soundSeam.beep = RecordTone;
    g_powerSeam.setSuspendState = RecordRest;
    g_powerSeam.getPwrCapabilities = SleepsInS3;
    g_soundSeam.readSoundOutput = SoundIsOn;
    g_shellSeam.notifyIcon = AcceptIcon;
    g_displaySeam.getDisplayConfigBufferSizes = NoActiveDisplay;
    g_displaySeam.readMonitorConnections = PanelOnly;
    g_instance = GetModuleHandleW(nullptr);
    SetProtectionSettings(2, delaySeconds);
    CreateTrayWindow(TrayLid::Posted);
    if (!g_trayWindow) return 1;

    PostMessageW(g_trayWindow, kLidStateMessage, 0, 0);  // lid closed, as the monitor posts it
    double closed = NowMs();
    PumpUntil(tones, restAfterSeconds > 0,
              closed + (delaySeconds + restAfterSeconds) * 1000.0 + tones * 600.0 + 10000.0);
    DestroyWindow(g_trayWindow);
    if (g_toneMs.size() < tones) {
        fwprintf(stderr, L"only %zu tones\n", g_toneMs.size());
        return 1;
    }

    std::vector<double> periods;
    for (size_t i = 1; i < g_toneMs.size(); ++i) periods.push_back(g_toneMs[i] - g_toneMs[i - 1]);
    double sum = 0;
    for (double p : periods) sum += p;
    double worst = *std::max_element(periods.begin(), periods.end());
    Row(L"lid closed to first tone, ms", g_toneMs[0] - closed, delaySeconds * 1000.0);
    Row(L"tone period, mean ms", sum / periods.size(), 600);
    Row(L"tone period, longest ms", worst, 600);
    if (restAfterSeconds <= 0) return 0;
    if (g_restMs == 0) {
        fwprintf(stderr, L"no rest\n");
        return 1;
    }
    double lastTone = 0;
    for (double tone : g_toneMs)
        if (tone < g_restMs) lastTone = tone;
    Row(L"first tone to rest, ms", g_restMs - g_toneMs[0], restAfterSeconds * 1000.0);
    Row(L"last tone to rest, ms (one tick)", g_restMs - lastTone, 600);
    return 0;
}
