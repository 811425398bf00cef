// The report of what keeps a closed laptop awake: its worker runs the real code with the
// power source, the execution state and the request tool fed through the platform seam (Wine
// has no battery and no powercfg.exe: a real process stands in for the tool), the lid-close
// action from the stand-in power library; the result arrives as a message to a real window,
// the log compared byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "common/seam_power.h"
#include "common/seam_sound.h"
#include "protect/closed_lid_watch.h"
#include "protect/protection_messages.h"
#include "protect/protection_modes.h"
#include "protect/protection_state.h"
#include "protect/wake_report.h"
#include "support/message_pump.h"
#include "support/platform_scope.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

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

std::string g_toolBytes;
std::vector<ToolRun> g_toolRuns;
DWORD g_toolError = 0;
DWORD g_toolExitCode = 0;
bool g_toolKeepsRunning = false;
std::atomic<HANDLE> g_runningTool{nullptr};  // a kept tool, for the test to end
bool g_onBattery = false;
ULONG g_executionState = 0;
std::vector<std::wstring> g_balloons;

struct StandinTool {
    HANDLE process, output;
};

// The tool's life: it writes its output (waiting while the pipe is full), closes it and ends
// with its exit status, or stays for the test to end it.
DWORD WINAPI StandinToolRun(void* parameter) {
    StandinTool* tool = static_cast<StandinTool*>(parameter);
    DWORD written = 0;
    WriteFile(tool->output, g_toolBytes.data(), static_cast<DWORD>(g_toolBytes.size()), &written, nullptr);
    CloseHandle(tool->output);
    if (g_toolKeepsRunning) g_runningTool = tool->process;
    else TerminateProcess(tool->process, g_toolExitCode), CloseHandle(tool->process);
    delete tool;
    return 0;
}

// A suspended command interpreter stands in for the tool: a real process with a real exit
// status, which inherits the output as the tool would; a thread of ours writes for it.
BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION process) {
    ToolRun run;
    run.application = application ? application : L"";
    run.commandLine = commandLine ? commandLine : L"";
    run.flags = flags;
    run.startupFlags = startup->dwFlags;
    run.showWindow = startup->wShowWindow;
    run.inherit = inherit;
    run.outputType = GetFileType(startup->hStdOutput);
    DWORD handleFlags = 0;
    run.outputInheritable =
        GetHandleInformation(startup->hStdOutput, &handleFlags) && (handleFlags & HANDLE_FLAG_INHERIT);
    g_toolRuns.push_back(run);
    if (g_toolError) {
        SetLastError(g_toolError);
        return FALSE;
    }
    wchar_t standin[MAX_PATH];
    GetSystemDirectoryW(standin, MAX_PATH);
    wcscat(standin, L"\\cmd.exe");
    if (!CreateProcessW(standin, nullptr, nullptr, nullptr, inherit, flags | CREATE_SUSPENDED, nullptr, nullptr,
                        startup, process))
        return FALSE;
    StandinTool* tool = new StandinTool{};
    HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, process->hProcess, self, &tool->process, 0, FALSE, DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, startup->hStdOutput, self, &tool->output, 0, FALSE, DUPLICATE_SAME_ACCESS);
    CloseHandle(CreateThread(nullptr, 0, StandinToolRun, tool, 0, nullptr));
    return TRUE;
}

BOOL WINAPI FakePowerStatus(LPSYSTEM_POWER_STATUS status) {
    *status = {};
    status->ACLineStatus = g_onBattery ? 0 : 1;
    return TRUE;
}

LONG WINAPI FakeExecutionState(POWER_INFORMATION_LEVEL level, PVOID, ULONG, PVOID output, ULONG outputSize) {
    if (level != SystemExecutionState || outputSize != sizeof(ULONG)) return static_cast<LONG>(0xC000000DL);
    *static_cast<ULONG*>(output) = g_executionState;
    return 0;
}

void RecordBalloon(const wchar_t* text) { g_balloons.emplace_back(text); }

int g_reportsHandled = 0;
LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kWakeReportMessage) {
        OnWakeReport(lParam);
        ++g_reportsHandled;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::string Oem(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_OEMCP, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string Utf16(const wchar_t* text, bool bom) {
    std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
    bytes.append(reinterpret_cast<const char*>(text), wcslen(text) * sizeof(wchar_t));
    return bytes;
}

int LeftoverOutputFiles() {
    wchar_t folder[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(folder) + L"kxr*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 1;
    while (FindNextFileW(search, &found)) ++count;
    FindClose(search);
    return count;
}

class WakeReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
        ClearPowerStandin();
        g_powerSeam.createProcess = FakeCreateProcess;
        g_powerSeam.getSystemPowerStatus = FakePowerStatus;
        g_powerSeam.callNtPowerInformation = FakeExecutionState;
        g_toolBytes = Oem(kEnglishRequests);
        g_toolRuns.clear();
        g_toolError = 0;
        g_toolExitCode = 0;
        g_toolKeepsRunning = false;
        g_onBattery = false;
        g_executionState = 0;
        g_balloons.clear();
        g_reportsHandled = 0;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KalnixWakeReportTestHost";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"KalnixWakeReportTestHost", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        savedHost_ = g_protection.run.host;
        g_protection.run.host.window = window_;
        g_protection.run.host.showBalloon = RecordBalloon;
    }
    void TearDown() override {
        EndRunningTool();
        StopWakeReport();  // no worker outlives its test
        g_protection.run.host = savedHost_;
        DestroyWindow(window_);
        ClearPowerStandin();
        RemoveFile(LogPathBesideExecutable());
    }
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

TEST_F(WakeReportTest, OnBatteryWithDoNothingTheBalloonNamesTheActionAndTheLogListsEveryCause) {
    g_onBattery = true;
    g_executionState = ES_SYSTEM_REQUIRED | ES_CONTINUOUS;
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(g_balloons, std::vector<std::wstring>{L"Lid-close action on battery is Do nothing"});
    EXPECT_EQ(Log(),
              "Still awake with the lid closed\r\n"
              "Lid-close action on battery is Do nothing\r\n"
              "Service \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv) holds a power request\r\n"
              "Left out, the alarm's own tone: Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n"
              "Process \\Device\\HarddiskVolume3\\Program Files\\Player\\player.exe holds a power request\r\n");
}

TEST_F(WakeReportTest, TheSystemsOwnToolRunsHiddenByFullPathWithItsOutputThroughAPipeAndNoFileLeft) {
    int filesBefore = LeftoverOutputFiles();
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    ASSERT_EQ(g_toolRuns.size(), 1u);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring tool = std::wstring(system) + L"\\powercfg.exe";
    EXPECT_EQ(g_toolRuns[0].application, tool);
    EXPECT_EQ(g_toolRuns[0].commandLine, L"\"" + tool + L"\" /requests");
    EXPECT_TRUE(g_toolRuns[0].flags & CREATE_NO_WINDOW);
    EXPECT_TRUE(g_toolRuns[0].startupFlags & STARTF_USESTDHANDLES);
    EXPECT_EQ(g_toolRuns[0].outputType, static_cast<DWORD>(FILE_TYPE_PIPE)) << "never a file";
    EXPECT_TRUE(g_toolRuns[0].outputInheritable);
    EXPECT_TRUE(g_toolRuns[0].inherit) << "the tool must receive the pipe";
    EXPECT_EQ(LeftoverOutputFiles(), filesBefore);
}

// Only the tags and the names after them are read, whatever the language and the encoding.
TEST_F(WakeReportTest, TheFirstRequestNamesTheBalloonInEveryLanguageAndEncoding) {
    const char kEnglishCauses[] =
        "Service \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv) holds a power request\r\n"
        "Left out, the alarm's own tone: Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n"
        "Process \\Device\\HarddiskVolume3\\Program Files\\Player\\player.exe holds a power request\r\n";
    const char kGermanCauses[] =
        "Process \\Device\\HarddiskVolume3\\Programme\\\xDC" "bersetzer\\dolmetscher.exe holds a power request\r\n";
    struct Case {
        const char* shows;
        std::string bytes;
        const wchar_t* balloon;
        const char* causes;
    } cases[] = {
        {"English, OEM code page", Oem(kEnglishRequests),
         L"Service wuauserv holds a power request", kEnglishCauses},
        {"German, OEM code page", Oem(kGermanRequests), L"Process dolmetscher.exe holds a power request",
         kGermanCauses},
        {"German, UTF-16 with byte order mark", Utf16(kGermanRequests, true),
         L"Process dolmetscher.exe holds a power request", kGermanCauses},
        {"English, UTF-16 without byte order mark", Utf16(kEnglishRequests, false),
         L"Service wuauserv holds a power request", kEnglishCauses},
    };
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);  // on mains power: not a cause
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        RemoveFile(LogPathBesideExecutable());
        g_balloons.clear();
        g_toolBytes = c.bytes;
        ASSERT_TRUE(StartWakeReport(window_));
        ASSERT_TRUE(AwaitReport());
        EXPECT_EQ(g_balloons, std::vector<std::wstring>{c.balloon});
        EXPECT_EQ(Log(), std::string("Still awake with the lid closed\r\n") + c.causes);
    }
}

TEST_F(WakeReportTest, ShortNamesOfServicesDriversAndProcesses) {
    struct Case {
        const wchar_t* line;
        const wchar_t* balloon;
    } cases[] = {
        {L"[SERVICE] \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv)",
         L"Service wuauserv holds a power request"},
        {L"[SERVICE] SomeService", L"Service SomeService holds a power request"},
        {L"[DRIVER] Legacy Kernel Caller", L"Driver Legacy Kernel Caller holds a power request"},
        {L"[PROCESS] player.exe", L"Process player.exe holds a power request"},
        {L"\t[PROCESS]\tC:\\Tools\\keep awake.exe\r", L"Process keep awake.exe holds a power request"},
    };
    for (const Case& c : cases) {
        WakeReport report = {};
        AddPowerRequests(c.line, &report);
        EXPECT_STREQ(report.balloon, c.balloon);
        EXPECT_EQ(report.causeCount, 1);
    }
    struct Ignored {
        const wchar_t* line;
        const char* shows;
    } ignored[] = {
        {L"[PROCESS]", "a tag without a name"},
        {L"[PROCESS]   ", "a tag with blanks only"},
        {L"[CALLER] someone", "another tag"},
        {L"[process] player.exe", "tags are upper case"},
        {L"Video [PROCESS] player.exe", "a tag inside a description"},
        {L"", "an empty text"},
    };
    for (const Ignored& i : ignored) {
        WakeReport report = {};
        AddPowerRequests(i.line, &report);
        EXPECT_EQ(report.causeCount, 0) << i.shows;
        EXPECT_STREQ(report.balloon, L"") << i.shows;
    }
}

// What can defeat a lid-close sleep (the third and fourth sections, whatever their headings
// say) comes first; elsewhere the audio stack's requests are the alarm's own tone.
TEST(PowerRequestOrderTest, SleepDefeatingSectionsFirstAndTheAlarmsOwnToneLeftOutElsewhere) {
    struct Case {
        const char* shows;
        const wchar_t* text;
        const wchar_t* lines;
        const wchar_t* balloon;
        int leftOut;
    } cases[] = {
        {"an execution process outranks an earlier system service; the system's audio driver is left out; an "
         "entry's text ending in ':' is no heading",
         L"DISPLAY:\r\nNone.\r\n\r\nSYSTEM:\r\n"
         L"[DRIVER] Realtek High Definition Audio(SST) (INTELAUDIO\\FUNC_01&VEN_10EC&DEV_0236&SUBSYS_10280A20)\r\n"
         L"An audio stream is currently in use.\r\n"
         L"[SERVICE] \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv)\r\nUpdating:\r\n\r\n"
         L"AWAYMODE:\r\nNone.\r\n\r\nEXECUTION:\r\n[PROCESS] \\Device\\HarddiskVolume3\\Tools\\render.exe\r\n"
         L"Rendering\r\n\r\nPERFBOOST:\r\nNone.\r\n\r\nACTIVELOCKSCREEN:\r\nNone.\r\n",
         L"Process \\Device\\HarddiskVolume3\\Tools\\render.exe holds a power request\n"
         L"Left out, the alarm's own tone: Realtek High Definition Audio(SST) "
         L"(INTELAUDIO\\FUNC_01&VEN_10EC&DEV_0236&SUBSYS_10280A20)\n"
         L"Service \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv) holds a power request\n",
         L"Process render.exe holds a power request", 1},
        {"German headings: audio kept in away mode and execution, left out in any letter case elsewhere, a "
         "device merely containing HDAUDIO\\ kept",
         L"ANZEIGE:\r\n[PROCESS] C:\\Windows\\System32\\AudioDG.EXE\r\nAudio\r\n\r\n"
         L"SYSTEM:\r\n[DRIVER] Lautsprecher (swd\\mmdevapi\\{0.0.0.00000000}.{1a2b})\r\nAudio\r\n\r\n"
         L"ABWESENHEITSMODUS:\r\n[PROCESS] C:\\Windows\\System32\\audiodg.exe\r\nAudio\r\n\r\n"
         L"AUSF\u00dcHRUNG:\r\n[DRIVER] Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n"
         L"Audio\r\n\r\nLEISTUNG:\r\n[DRIVER] Kamera (USB\\VID_0BDA\\HDAUDIO\\1)\r\nKamera\r\n",
         L"Process C:\\Windows\\System32\\audiodg.exe holds a power request\n"
         L"Driver Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269) holds a power request\n"
         L"Left out, the alarm's own tone: C:\\Windows\\System32\\AudioDG.EXE\n"
         L"Left out, the alarm's own tone: Lautsprecher (swd\\mmdevapi\\{0.0.0.00000000}.{1a2b})\n"
         L"Driver Kamera (USB\\VID_0BDA\\HDAUDIO\\1) holds a power request\n",
         L"Process audiodg.exe holds a power request", 2},
        {"nothing but the alarm's tone", kAlarmToneOnly,
         L"Left out, the alarm's own tone: Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\n",
         L"", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        WakeReport report = {};
        AddPowerRequests(c.text, &report);
        std::wstring lines;
        for (int i = 0; i < report.lineCount; ++i) lines += std::wstring(report.lines[i]) + L"\n";
        EXPECT_EQ(lines, c.lines);
        EXPECT_STREQ(report.balloon, c.balloon);
        EXPECT_EQ(report.leftOutCount, c.leftOut);
        EXPECT_EQ(report.causeCount, report.lineCount - c.leftOut);
    }
}

// Away mode in the execution state ranks with the requests that defeat a sleep; the rest of
// the state comes last, and ES_SYSTEM_REQUIRED alone is the alarm's own audio once that was
// left out.
TEST_F(WakeReportTest, TheExecutionStateRanksByItsFlagsAndTheAlarmsAudioExplainsSystemRequired) {
    const char kService[] =
        "Service \\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe (wuauserv) holds a power request\r\n";
    const char kLeftOut[] =
        "Left out, the alarm's own tone: Realtek High Definition Audio (HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269)\r\n";
    const char kProcess[] = "Process \\Device\\HarddiskVolume3\\Program Files\\Player\\player.exe holds a power request\r\n";
    struct Case {
        const char* shows;
        const wchar_t* requests;
        ULONG state;
        const wchar_t* balloon;
        std::string causes;
    } cases[] = {
        {"the tone alone is no cause", kAlarmToneOnly, 0x80000001, nullptr, std::string(kLeftOut) + "No cause found\r\n"},
        {"without the tone, system required is one", kNoRequests, 0x80000001, L"Execution state 0x80000001 keeps the system awake",
         "Execution state 0x80000001 keeps the system awake\r\n"},
        {"away mode right after the execution requests", kEnglishRequests, 0x80000041, L"Service wuauserv holds a power request",
         std::string(kService) + "Execution state 0x80000041 keeps the system awake\r\n" + kLeftOut + kProcess},
        {"display required after all requests", kEnglishRequests, 0x80000003, L"Service wuauserv holds a power request",
         std::string(kService) + kLeftOut + kProcess + "Execution state 0x80000003 keeps the system awake\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        RemoveFile(LogPathBesideExecutable());
        g_balloons.clear();
        g_toolBytes = Oem(c.requests);
        g_executionState = c.state;
        ASSERT_TRUE(StartWakeReport(window_));
        ASSERT_TRUE(AwaitReport());
        EXPECT_EQ(g_balloons, c.balloon ? std::vector<std::wstring>{c.balloon} : std::vector<std::wstring>{});
        EXPECT_EQ(Log(), "Still awake with the lid closed\r\n" + c.causes);
    }
}

TEST_F(WakeReportTest, ManyRequestsFillTheLogLinesWithoutOverrunAndAWideNameIsLoggedAsQuestionMarks) {
    std::wstring text;
    for (int i = 0; i < 40; ++i) text += L"[PROCESS] C:\\p\\" + std::to_wstring(i) + L"\u4e2d.exe\r\n";
    text += L"[PROCESS] " + std::wstring(2000, L'x') + L"\r\n";
    WakeReport report = {};
    AddPowerRequests(text.c_str(), &report);
    EXPECT_EQ(report.lineCount, kWakeReportLines);
    EXPECT_STREQ(report.balloon, L"Process 0\u4e2d.exe holds a power request") << "the balloon keeps the name";
    EXPECT_STREQ(report.lines[0], L"Process C:\\p\\0?.exe holds a power request");
}

TEST_F(WakeReportTest, NothingFoundIsLoggedWithoutABalloon) {
    g_toolBytes = Oem(kNoRequests);
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    EXPECT_TRUE(g_balloons.empty());
    EXPECT_EQ(Log(), "Still awake with the lid closed\r\nNo cause found\r\n");
}

TEST_F(WakeReportTest, FailedSourcesAreLoggedAndTheOthersStillReport) {
    g_toolError = ERROR_FILE_NOT_FOUND;
    g_executionState = ES_AWAYMODE_REQUIRED;
    FailPowerCall(L"PowerGetActiveScheme", ERROR_INVALID_FUNCTION);
    int filesBefore = LeftoverOutputFiles();
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(g_balloons, std::vector<std::wstring>{L"Execution state 0x00000040 keeps the system awake"});
    EXPECT_EQ(Log(),
              "Still awake with the lid closed\r\nPGAS Failed: 1\r\n\r\nCP Failed: 2\r\n\r\n"
              "Execution state 0x00000040 keeps the system awake\r\n");
    EXPECT_EQ(LeftoverOutputFiles(), filesBefore) << "nothing left also when the tool cannot start";
}

// The alarm's main thread must not wait for the tool: the start returns at once, a second
// start while the first runs is refused, and the result comes as a message when it ends.
TEST_F(WakeReportTest, TheToolRunsOffTheCallingThreadOneReportAtATime) {
    g_toolKeepsRunning = true;
    // Returns while the tool it started runs on, and runs until the test ends it.
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(WaitUntil([] { return g_runningTool != nullptr; }, 5000));
    EXPECT_EQ(WaitForSingleObject(g_runningTool, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(StartWakeReport(window_));
    PumpMessages();
    EXPECT_EQ(g_reportsHandled, 0) << "no report before the tool has ended";
    EndRunningTool();
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(g_toolRuns.size(), 1u);
    g_toolKeepsRunning = false;
    ASSERT_TRUE(WaitUntil([&] { return StartWakeReport(window_); }, 2000)) << "free for the next closure";
    ASSERT_TRUE(AwaitReport());
}

// A failed tool's text is a complaint: its exit status is reported, and "No cause found" is
// not claimed while a source could not answer.
TEST_F(WakeReportTest, AFailedToolIsReportedByItsExitStatusNotByItsText) {
    struct Case {
        DWORD exitCode;
        const char* log;
    } cases[] = {
        {1, "Still awake with the lid closed\r\npowercfg failed: 1\r\n"},
        {0xC0000005, "Still awake with the lid closed\r\npowercfg failed: 3221225477\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        RemoveFile(LogPathBesideExecutable());
        g_toolExitCode = c.exitCode;
        ASSERT_TRUE(StartWakeReport(window_));
        ASSERT_TRUE(AwaitReport());
        EXPECT_TRUE(g_balloons.empty());
        EXPECT_EQ(Log(), c.log);
    }
}

// More than the pipe holds and more than is kept: the tool is read while it writes, so it
// ends, and what lies beyond the bound is not read as a cause.
TEST_F(WakeReportTest, AnOutputBeyondThePipeAndTheBoundIsReadWhileTheToolRuns) {
    std::string filler(80, 'x');
    filler += "\r\n";
    g_toolBytes = "[PROCESS] first.exe\r\n";
    while (g_toolBytes.size() < 300 * 1024) g_toolBytes += filler;
    g_toolBytes += "[PROCESS] late.exe\r\n";
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(Log(), "Still awake with the lid closed\r\nProcess first.exe holds a power request\r\n");
}

// A tool that never ends is ended after its time-out (15 s): the failure is reported, and
// neither the tool nor a file is left behind.
TEST_F(WakeReportTest, AToolThatNeverEndsIsEndedAfterItsTimeOutAndLeavesNothingBehind) {
    g_toolKeepsRunning = true;
    int filesBefore = LeftoverOutputFiles();
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport(30000));
    EXPECT_EQ(Log(), "Still awake with the lid closed\r\nWFSO Failed: 258\r\n\r\n");
    ASSERT_NE(g_runningTool.load(), nullptr);
    EXPECT_EQ(WaitForSingleObject(g_runningTool, 0), WAIT_OBJECT_0) << "the tool is left running";
    EXPECT_EQ(LeftoverOutputFiles(), filesBefore);
    g_toolKeepsRunning = false;
    ASSERT_TRUE(StartWakeReport(window_)) << "free for the next closure";
    ASSERT_TRUE(AwaitReport());
}

// When the program ends, a tool still running is ended with the worker, and nothing reported.
TEST_F(WakeReportTest, TheEndOfTheProgramEndsARunningToolAndDropsItsReport) {
    g_toolKeepsRunning = true;
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(WaitUntil([] { return g_runningTool != nullptr; }, 5000));
    StopWakeReport();
    EXPECT_EQ(WaitForSingleObject(g_runningTool, 0), WAIT_OBJECT_0) << "the tool is left running";
    PumpMessages();  // the worker has ended: whatever it posted is queued
    EXPECT_EQ(g_reportsHandled, 0);
    g_toolKeepsRunning = false;
    ASSERT_TRUE(StartWakeReport(window_)) << "the worker has ended";
    ASSERT_TRUE(AwaitReport());
}

BOOL WINAPI SilentBeep(DWORD, DWORD) { return TRUE; }

// The alarm's first tone starts the report; the following tones do not, a new closure does.
TEST_F(WakeReportTest, TheFirstToneOfEachAlarmStartsOneReport) {
    g_soundSeam.beep = SilentBeep;
    ArmLidAlarm(window_, 0);
    OnAlarmTick(window_);
    ASSERT_TRUE(AwaitReport());
    OnAlarmTick(window_);
    OnAlarmTick(window_);
    Sleep(200);
    PumpMessages();
    EXPECT_EQ(g_toolRuns.size(), 1u);
    ArmLidAlarm(window_, 0);
    OnAlarmTick(window_);
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(g_toolRuns.size(), 2u);
    StopLidAlarm(window_);
}

// Automatic protection forces the flags as before and, on today's systems, the action.
TEST_F(WakeReportTest, AutomaticProtectionTurnsDoNothingOnBatteryIntoSleep) {
    PresetPowerPolicy(PatternedPowerPolicy(3, 3));
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    PresetLidCloseAction(kBalancedScheme, false, kLidCloseDoNothing);
    ApplyAutoProtection();
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseDc.Flags, 0x80000004u);
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseSleep);
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, false, 99), kLidCloseDoNothing);
    ReleaseAutoProtection();
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseDoNothing);
}

// A run in mode 1 that ended without its teardown left our Sleep and the saved original; a
// start in the lid alarm or in neither mode puts the original back at its first tick.
TEST_F(WakeReportTest, AStartOutsideAutomaticProtectionPutsASavedActionBackAtTheFirstTick) {
    for (int mode : {kModeLidAlarm, 0}) {
        SCOPED_TRACE(mode);
        PresetLidCloseAction(kBalancedScheme, true, kLidCloseSleep);
        SetSettingRaw(kSavedLidCloseScheme, REG_BINARY, &kBalancedScheme, sizeof(kBalancedScheme));
        SetSettingDword(kSavedLidCloseAction, kLidCloseDoNothing);
        SetProtectionSettings(mode, 10);
        OnProtectionTick(window_);
        EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseDoNothing);
        EXPECT_FALSE(SettingExists(kSavedLidCloseScheme));
        EXPECT_FALSE(SettingExists(kSavedLidCloseAction));
    }
    SetProtectionSettings(0, 0);
}

TEST(DecodeToolOutputTest, EdgesOfTheBuffer) {
    wchar_t text[4];
    const BYTE ascii[] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(DecodeToolOutput(ascii, sizeof(ascii), text, 4), 3);
    EXPECT_STREQ(text, L"abc");
    const BYTE wide[] = {0xFF, 0xFE, 'x', 0, 'y', 0, 'z'};  // an odd last byte is dropped
    EXPECT_EQ(DecodeToolOutput(wide, sizeof(wide), text, 4), 2);
    EXPECT_STREQ(text, L"xy");
    EXPECT_EQ(DecodeToolOutput(ascii, 0, text, 4), 0);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(DecodeToolOutput(ascii, sizeof(ascii), text, 1), 0);
    EXPECT_STREQ(text, L"");
}

}  // namespace
