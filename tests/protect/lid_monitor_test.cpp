// The monitor thread and its teardown against events made here under the driver's bare
// names (no driver loaded), with a recording callback in place of PostLidState.
#include <gtest/gtest.h>

#include "handle_count.h"
#include "protect/driver_contract.h"
#include "protect/lid_monitor.h"
#include "support/lid_driver.h"
#include "support/test_support.h"

namespace {

volatile LONG g_reports = 0;
volatile LONG g_lastState = -1;

void RecordLidState(DWORD state) {
    InterlockedExchange(&g_lastState, static_cast<LONG>(state));
    InterlockedIncrement(&g_reports);
}

class LidMonitorThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_reports = 0;
        g_lastState = -1;
        handlesBefore_ = CountProcessHandles(GetCurrentProcessId());
        ASSERT_GT(handlesBefore_, 0) << "the system handle list cannot be read";
    }
    void TearDown() override {
        StopLidMonitor();
        if (changed_) CloseHandle(changed_);
        if (state_) CloseHandle(state_);
    }
    void MakeChangeEvent() { changed_ = CreateEventW(nullptr, FALSE, FALSE, kLidStateChangedEventName); }
    void MakeStateEvent() { state_ = CreateEventW(nullptr, TRUE, FALSE, kLidStateEventName); }
    // The record as StartLidMonitor leaves it, without a device: request 3 fails harmlessly.
    void StartThread() {
        g_lidMonitor.device = nullptr;
        g_lidMonitor.callback = RecordLidState;
        g_lidMonitor.terminateEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_lidMonitor.thread = CreateThread(nullptr, 0, LidMonitorThread, &g_lidMonitor, 0, nullptr);
        ASSERT_NE(g_lidMonitor.thread, nullptr);
    }
    bool WaitForReports(LONG count) { return WaitUntil([&] { return g_reports >= count; }, 3000); }
    long handlesBefore_ = 0;
    HANDLE changed_ = nullptr;
    HANDLE state_ = nullptr;
};

TEST_F(LidMonitorThreadTest, EachChangeReportsTheStateEventAsClosedOrOpen) {
    MakeChangeEvent();
    MakeStateEvent();
    StartThread();
    for (LONG i = 1; i <= 6; ++i) {
        bool closed = i % 2 == 1;
        if (closed) SetEvent(state_); else ResetEvent(state_);
        SetEvent(changed_);
        ASSERT_TRUE(WaitForReports(i));
        EXPECT_EQ(g_lastState, closed ? 0 : 1) << "change " << i;
    }
    Sleep(100);
    EXPECT_EQ(g_reports, 6) << "one report per change";
    // The zero-timeout test must leave the manual-reset state event as it was.
    EXPECT_EQ(WaitForSingleObject(state_, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(LidMonitorThreadTest, ChangeWithoutStateEventIsDroppedAndTheThreadWaitsOn) {
    MakeChangeEvent();
    StartThread();
    SetEvent(changed_);
    Sleep(200);
    EXPECT_EQ(g_reports, 0);
    EXPECT_EQ(WaitForSingleObject(g_lidMonitor.thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    MakeStateEvent();
    SetEvent(state_);
    SetEvent(changed_);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(g_lastState, 0);
}

TEST_F(LidMonitorThreadTest, WithoutChangeEventTheThreadEndsAndTeardownDoesNotWaitOut4000Ms) {
    StartThread();
    EXPECT_EQ(WaitForSingleObject(g_lidMonitor.thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD start = GetTickCount();
    StopLidMonitor();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(g_lidMonitor.thread, nullptr);
    EXPECT_EQ(g_lidMonitor.terminateEvent, nullptr);
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), handlesBefore_);
}

TEST_F(LidMonitorThreadTest, TeardownStopsAWaitingThreadAndEveryHandleIsClosedOnce) {
    MakeChangeEvent();
    MakeStateEvent();
    long withEvents = CountProcessHandles(GetCurrentProcessId());
    StartThread();
    for (LONG i = 1; i <= 200; ++i) {
        if (i % 2) SetEvent(state_); else ResetEvent(state_);
        SetEvent(changed_);
        ASSERT_TRUE(WaitForReports(i));
    }
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_lidMonitor.thread, GetCurrentProcess(), &thread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    DWORD start = GetTickCount();
    StopLidMonitor();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the thread has ended";
    CloseHandle(thread);
    // The thread's own change-event handle and each state-event handle are gone too.
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), withEvents);
}

TEST(LidMonitorTeardownTest, NothingStartedClosesNothing) {
    LidMonitor empty = {};
    g_lidMonitor = empty;
    long before = CountProcessHandles(GetCurrentProcessId());
    ASSERT_GT(before, 0);
    StopLidMonitor();
    StopLidMonitor();
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), before);
}

}  // namespace

namespace {

TEST(StartLidMonitorTest, WithoutTheDriverLogsTheOpenFailureAndStartsNothing) {
    ASSERT_TRUE(RemoveSimulatedLidDriver());
    ResetSettingsKey();
    SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
    LidMonitor empty = {};
    g_lidMonitor = empty;

    EXPECT_FALSE(StartLidMonitor());
    EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), "Can't open handle to driver: 2\r\n\r\n");
    EXPECT_EQ(g_lidMonitor.device, nullptr) << "no handle, not INVALID_HANDLE_VALUE";
    EXPECT_EQ(g_lidMonitor.thread, nullptr);
    EXPECT_EQ(g_lidMonitor.terminateEvent, nullptr);
    EXPECT_EQ(g_lidMonitor.callback, &PostLidState);
    StopLidMonitor();
    RemoveFile(LogPathBesideExecutable());
}

}  // namespace
