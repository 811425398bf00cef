// The report of what keeps a closed laptop awake, as logged and told in the balloon: the
// causes in their order, in every language and encoding of the tool's output, the execution
// state among them, and nothing found.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "protect/wake_report.h"
#include "support/power_standin.h"
#include "wake_report_fixture.h"

namespace {

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

TEST_F(WakeReportTest, NothingFoundIsLoggedWithoutABalloon) {
    g_toolBytes = Oem(kNoRequests);
    ASSERT_TRUE(StartWakeReport(window_));
    ASSERT_TRUE(AwaitReport());
    EXPECT_TRUE(g_balloons.empty());
    EXPECT_EQ(Log(), "Still awake with the lid closed\r\nNo cause found\r\n");
}

}  // namespace
