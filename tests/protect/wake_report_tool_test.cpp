// The power request tool's run: how it is started, off the calling thread and one at a time,
// its failures, an output beyond the pipe, its time-out and the end of the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/seam_power.h"
#include "protect/wake_report.h"
#include "support/power_standin.h"
#include "wake_report_fixture.h"

namespace {

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

}  // namespace
