#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ca_library.h"
#include "support/kalnix_process.h"
#include "support/lid_driver.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kExitWaitMs = 5000;

HWND TrayWindow() { return FindWindowW(L"KalnixWndClass", L"KalnixWnd"); }

const std::wstring kStandIn = std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\stand_in_tray.exe";

class UiShutdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenLogGateFor(L"diagnostic");
        ASSERT_TRUE(library_.Loaded());
        ASSERT_EQ(TrayWindow(), nullptr) << "a tray window is left from elsewhere";
    }
    void TearDown() override { RemoveFile(LogPathBesideExecutable()); }

    // Calls the export and returns its result and how long it took.
    int TimedTerminate(DWORD* elapsedMs) {
        DWORD start = GetTickCount();
        int result = library_.TerminateUIProcess();
        *elapsedMs = GetTickCount() - start;
        return result;
    }

    CaLibrary library_{L"diagnostic"};
};

TEST_F(UiShutdownTest, NoTrayWindowGivesFalseAndWritesNothing) {
    DWORD elapsed = 0;
    EXPECT_EQ(TimedTerminate(&elapsed), 0);
    EXPECT_FALSE(FileExists(LogPathBesideExecutable()));
}

// Kalnix.exe leaves through its own WM_DESTROY handling: the flags are restored (its log
// shows it), the driver gets control request 2, and the process ends with 0 before the
// library's wait runs out.
TEST_F(UiShutdownTest, RunningKalnixLeavesByItsOwnDestroyPath) {
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"ui-shutdown"));
    SetSettingDword(L"EnableLogging", 1);  // Kalnix.exe's own log, in the scratch folder
    SetSettingDword(L"Action", 2);
    SetSettingDword(L"PowerSettings1", 3);
    SetSettingDword(L"PowerSettings2", 7);
    ClearPowerStandin();
    PresetPowerPolicy(PatternedPowerPolicy(0x80000004, 0x80000004));

    ASSERT_TRUE(InstallSimulatedLidDriver((std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\lidsim.sys").c_str()));
    ASSERT_TRUE(ResetLidRequestCounts());

    ASSERT_TRUE(kalnix.Start());
    ASSERT_TRUE(WaitForLidDeviceOpen(1, 10000));
    DWORD elapsed = 0;
    EXPECT_EQ(TimedTerminate(&elapsed), 1);
    EXPECT_EQ(kalnix.ExitCode(), 0u);
    EXPECT_LT(elapsed, kExitWaitMs - 500) << "the library waited its full time: the process was terminated";
    GLOBAL_POWER_POLICY policy = ReadStandinPolicy();
    EXPECT_EQ(policy.user.LidCloseAc.Flags, 3u) << "the saved flags were not restored";
    EXPECT_EQ(policy.user.LidCloseDc.Flags, 7u);
    EXPECT_NE(kalnix.Log().find("Entering RestorePowerSettings\r\n"), std::string::npos);
    EXPECT_EQ(ReadLidRequestCounts().r2, 1u) << "the driver was not released";
    EXPECT_EQ(TrayWindow(), nullptr);
    EXPECT_FALSE(FileExists(LogPathBesideExecutable()));
    EXPECT_TRUE(RemoveSimulatedLidDriver());
    ClearPowerStandin();
}

TEST_F(UiShutdownTest, WindowThatStaysIsTerminatedWithZeroAfterTheWait) {
    HANDLE destroyed = CreateEventW(nullptr, TRUE, FALSE, L"KalnixStandInDestroyed");
    KalnixProcess standIn;
    ASSERT_TRUE(standIn.StartProgram(kStandIn, L" --stays"));
    ASSERT_TRUE(standIn.WaitForWindow(10000));
    DWORD elapsed = 0;
    EXPECT_EQ(TimedTerminate(&elapsed), 1);
    EXPECT_EQ(WaitForSingleObject(destroyed, 0), WAIT_OBJECT_0) << "WM_DESTROY did not reach the window";
    EXPECT_EQ(standIn.ExitCode(0), 0u);
    EXPECT_GE(elapsed, kExitWaitMs - 100);
    CloseHandle(destroyed);
}

struct TerminateCall {
    const CaLibrary* library;
    int result;
};

DWORD WINAPI CallTerminate(void* parameter) {
    auto call = static_cast<TerminateCall*>(parameter);
    call->result = call->library->TerminateUIProcess();
    return 0;
}

// The send is bounded: a window whose thread never answers cannot hold the setup program.
TEST_F(UiShutdownTest, WindowThatNeverAnswersDoesNotHangTheCaller) {
    KalnixProcess standIn;
    ASSERT_TRUE(standIn.StartProgram(kStandIn, L" --hung"));
    ASSERT_TRUE(standIn.WaitForWindow(10000));
    TerminateCall call = {&library_, -1};
    HANDLE thread = CreateThread(nullptr, 0, CallTerminate, &call, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    bool returned = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
    EXPECT_TRUE(returned);
    if (!returned) {
        // Free the blocked call by ending its target, so the test program can finish.
        standIn.Kill();
        WaitForSingleObject(thread, 30000);
    }
    CloseHandle(thread);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(standIn.ExitCode(0), 0u);
}

std::wstring Uppercase(std::wstring text) {
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Run as SYSTEM the setup program cannot see the user's tray window: it ends the installed
// Kalnix.exe by its image, any case, and no Kalnix.exe of another folder.
TEST_F(UiShutdownTest, EndInstalledKalnixEndsEveryProcessOfThatImageAndNoOther) {
    std::wstring installed = MakeScratchDirectory(L"end-installed") + L"\\Kalnix.exe";
    std::wstring elsewhere = MakeScratchDirectory(L"end-elsewhere") + L"\\Kalnix.exe";
    ASSERT_TRUE(CopyFileTo(kStandIn, installed));
    ASSERT_TRUE(CopyFileTo(kStandIn, elsewhere));
    KalnixProcess first, second, other;
    ASSERT_TRUE(first.StartProgram(installed, L" --stays"));
    ASSERT_TRUE(second.StartProgram(installed, L" --stays"));
    ASSERT_TRUE(other.StartProgram(elsewhere, L" --stays"));
    for (KalnixProcess* process : {&first, &second, &other}) ASSERT_TRUE(process->WaitForWindow(10000));

    EXPECT_EQ(library_.EndInstalledKalnix(Uppercase(installed).c_str()), 1);
    EXPECT_EQ(first.ExitCode(0), 0u) << "ended, and waited for, before the export returned";
    EXPECT_EQ(second.ExitCode(0), 0u);
    EXPECT_TRUE(other.Running());
    std::string log = TestLog();
    EXPECT_EQ(log.find("CA: Entering EndInstalledKalnix\r\n"), 0u) << log;
    for (const KalnixProcess* ended : {&first, &second}) {
        std::string line = "CA: Ended process " + std::to_string(ended->Pid()) + "\r\n";
        EXPECT_NE(log.find(line), std::string::npos) << log;
    }

    // Nothing of that image is left: nothing more to end.
    RemoveFile(LogPathBesideExecutable());
    EXPECT_EQ(library_.EndInstalledKalnix(installed.c_str()), 1);
    EXPECT_EQ(TestLog(), "CA: Entering EndInstalledKalnix\r\n");
    EXPECT_TRUE(other.Running());
}

}  // namespace
