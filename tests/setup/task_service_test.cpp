// Starting Kalnix through the log-on task, through the Task Scheduler's own interface (whether
// the task is gone shows in the uninstaller's tests). Wine's service stores and finds tasks but runs none (RunEx answers
// E_NOTIMPL): the run itself goes through the library's call (g_taskService), to see what
// Windows is asked.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ca_library.h"
#include "setup/exports.h"
#include "setup/task_service.h"
#include "support/test_support.h"

namespace {

struct AskedRun {
    int calls = 0;
    std::wstring argument;
    LONG flags = 0;
    LONG session = -1;
    bool user = true;
};
AskedRun g_asked;
HRESULT g_runAnswer = S_OK;
// A scheduler that does not answer: the run waits for the test to let it return.
bool g_runHangs = false;
HANDLE g_letRunReturn = nullptr;
LONG g_runsReturned = 0;

HRESULT RecordingRunEx(IRegisteredTask*, VARIANT arguments, LONG flags, LONG session, BSTR user, IRunningTask**) {
    ++g_asked.calls;
    g_asked.argument = arguments.vt == VT_BSTR ? arguments.bstrVal : L"<not a string>";
    g_asked.flags = flags;
    g_asked.session = session;
    g_asked.user = user != nullptr;
    if (g_runHangs) WaitForSingleObject(g_letRunReturn, INFINITE);
    InterlockedIncrement(&g_runsReturned);
    return g_runAnswer;
}

std::wstring SystemDirectory() {
    wchar_t directory[MAX_PATH];
    GetSystemDirectoryW(directory, MAX_PATH);
    return directory;
}

// The task "Kalnix" as the setup program registers it, through the task tool and the library.
void RegisterKalnixTask() {
    CaLibrary library(L"standard");
    std::wstring file = MakeScratchDirectory(L"taskservice") + L"\\KalnixTask.xml";
    ASSERT_EQ(library.WriteTaskHead(file.c_str()), 1);
    ASSERT_EQ(library.InstallKalnixTask(file.c_str(), L"C:\\Program Files\\Kalnix\\Kalnix.exe"), 1);
    ASSERT_TRUE(WaitUntil([] { return TaskIsAbsent() == false; }, 30000));
}

void DeleteKalnixTask() {
    RunAndWait(L"\"" + SystemDirectory() + L"\\schtasks.exe\" /Delete /TN Kalnix /F", 30000);
}

TEST(TaskServiceTest, RunsTheTaskAsTheUserOfThisSessionWithTheBalloon) {
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    struct Case {
        const char* name;
        bool registered;
        HRESULT answer;
        bool hangs;
        bool result;
        int runs;
        std::string lines;
    };
    const std::string entering = "CA: Entering RunKalnixTask\r\n";
    const Case cases[] = {
        {"no task", false, S_OK, false, false, 0, entering + "CA: No task Kalnix\r\n"},
        {"the scheduler takes the run", true, S_OK, false, true, 1, entering},
        {"the scheduler refuses", true, E_ACCESSDENIED, false, false, 1,
         entering + "CA: IRegisteredTask::RunEx failed: -2147024891\r\n"},
        // Not waited for beyond the limit (1 s here): the call returns, and says so.
        {"the scheduler does not answer", true, S_OK, true, false, -1,
         entering + "CA: The Task Scheduler did not answer within 1 s\r\n"},
    };
    const TaskServiceCalls real = g_taskService;
    g_letRunReturn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteKalnixTask();
        if (c.registered) RegisterKalnixTask();
        OpenLogGateFor(L"standard");
        g_taskService = {&RecordingRunEx, c.hangs ? 1000u : real.answerLimitMs};
        g_asked = {};
        g_runAnswer = c.answer;
        g_runHangs = c.hangs;
        InterlockedExchange(&g_runsReturned, 0);
        EXPECT_EQ(RunKalnixTask(), c.result);
        if (c.hangs) {
            // The abandoned run ends once let go; only then may the next case swap the call back.
            SetEvent(g_letRunReturn);
            EXPECT_TRUE(WaitUntil([] { return InterlockedCompareExchange(&g_runsReturned, 0, 0) == 1; }, 60000));
        }
        if (c.runs >= 0) {
            EXPECT_EQ(g_asked.calls, c.runs);
        }
        if (c.runs > 0) {
            EXPECT_EQ(g_asked.argument, L"-fresh");
            EXPECT_EQ(g_asked.flags, kTaskRunInSession);
            EXPECT_EQ(g_asked.session, static_cast<LONG>(session));
            EXPECT_FALSE(g_asked.user) << "the scheduler picks the session's own user";
        }
        EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), c.lines);
    }
    g_taskService = real;
    CloseHandle(g_letRunReturn);
    DeleteKalnixTask();
    RemoveFile(LogPathBesideExecutable());
}

}  // namespace
