#pragma once

// What the wake report's tests share: the report's worker runs the real code with the power
// source, the execution state and the request tool fed through the platform seam (Wine has no
// battery and no powercfg.exe: a real process stands in for the tool), the lid-close action
// from the stand-in power library; the result arrives as a message to a real window, the log
// compared byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "protect/protection_host.h"
#include "support/message_pump.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

const wchar_t kEnglishRequests[] =
    L"DISPLAY:\r\nNone.\r\n\r\nSYSTEM:\r\n"
    L"[DRIVER] Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n"
    L"An audio stream is currently in use.\r\n"
    L"[PROCESS] \\Device\\HarddiskVolume3\\Program Files\\Player\\player.exe\r\nVideo Wake Lock\r\n\r\n"
    L"AWAYMODE:\r\nNone.\r\n\r\nEXECUTION:\r\n"
    L"[SERVICE] \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv)\r\n\r\n"
    L"PERFBOOST:\r\nNone.\r\n";
// Headings and descriptions translated, tags not; a name outside ASCII.
const wchar_t kGermanRequests[] =
    L"ANZEIGE:\r\nKeine.\r\n\r\nSYSTEM:\r\n"
    L"  [PROCESS]   \\Device\\HarddiskVolume3\\Programme\\\u00dcbersetzer\\dolmetscher.exe  \r\n"
    L"Audiowiedergabe wird ausgef\u00fchrt.\r\n\r\nAUSF\u00dcHRUNG:\r\nKeine.\r\n";
const wchar_t kNoRequests[] = L"DISPLAY:\r\nNone.\r\n\r\nSYSTEM:\r\nNone.\r\n";
// What the alarm's own tone alone makes the audio stack hold.
const wchar_t kAlarmToneOnly[] =
    L"DISPLAY:\r\nNone.\r\n\r\nSYSTEM:\r\n"
    L"[DRIVER] Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n"
    L"An audio stream is currently in use.\r\n\r\nAWAYMODE:\r\nNone.\r\n\r\nEXECUTION:\r\nNone.\r\n";

struct ToolRun {
    std::wstring application, commandLine;
    DWORD flags = 0, startupFlags = 0;
    WORD showWindow = 0;
    BOOL inherit = FALSE;
    DWORD outputType = FILE_TYPE_UNKNOWN;
    bool outputInheritable = false;
};

extern std::string g_toolBytes;
extern std::vector<ToolRun> g_toolRuns;
extern DWORD g_toolError;
extern DWORD g_toolExitCode;
extern bool g_toolKeepsRunning;
extern std::atomic<HANDLE> g_runningTool;  // a kept tool, for the test to end
extern bool g_onBattery;
extern ULONG g_executionState;
extern std::vector<std::wstring> g_balloons;
extern int g_reportsHandled;

// The request tool's output in the OEM code page, or as UTF-16 with or without its byte order
// mark.
std::string Oem(const wchar_t* text);
std::string Utf16(const wchar_t* text, bool bom);

// The temporary files a tool's output could have been left in.
int LeftoverOutputFiles();

class WakeReportTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Handles the window's messages until a report has been handled, at most `timeoutMs`.
    bool AwaitReport(DWORD timeoutMs = 5000) {
        int before = g_reportsHandled;
        return WaitUntil(
            [&] {
                PumpMessages();
                return g_reportsHandled > before;
            },
            timeoutMs);
    }
    static void EndRunningTool() {
        HANDLE tool = g_runningTool.exchange(nullptr);
        if (!tool) return;
        TerminateProcess(tool, 0);
        CloseHandle(tool);
    }
    static std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }

    HWND window_ = nullptr;
    ProtectionHost savedHost_ = {};
    PlatformScope platform_;
};
