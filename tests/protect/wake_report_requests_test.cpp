// Reading the power request tool's output: the short names of the balloon, the order of the
// sections, the alarm's own tone left out, the bounds of the log lines and of the decoded text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protect/request_tool.h"
#include "protect/wake_report.h"
#include "wake_report_fixture.h"

namespace {

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
