// The monitor thread and its teardown against events made here (no driver loaded), with a
// recording callback in place of PostLidState; then StartLidMonitor against the simulated
// driver, its messages read from a window of the test, and the events' owners it accepts.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>

#include "handle_count.h"
#include "protect/driver_contract.h"
#include "protect/lid_monitor.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"
#include "support/lid_driver.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

namespace {

// The monitor's record, the run's.
LidMonitor& g_lidMonitor = g_protection.run.lidMonitor;

volatile LONG g_reports = 0;
volatile LONG g_lastState = -1;
volatile LONG g_lastOccasion = -1;

void RecordLidState(DWORD state, LPARAM occasion) {
    InterlockedExchange(&g_lastState, static_cast<LONG>(state));
    InterlockedExchange(&g_lastOccasion, static_cast<LONG>(occasion));
    InterlockedIncrement(&g_reports);
}

class LidMonitorThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_reports = 0;
        g_lastState = -1;
        g_lastOccasion = -1;
        handlesBefore_ = CountProcessHandles(GetCurrentProcessId());
        ASSERT_GT(handlesBefore_, 0) << "the system handle list cannot be read";
    }
    void TearDown() override {
        StopLidMonitor();
        if (changed_) CloseHandle(changed_);
        if (state_) CloseHandle(state_);
    }
    void MakeChangeEvent() { changed_ = CreateEventW(nullptr, FALSE, FALSE, kLidStateChangedEventName); }
    // Unnamed: the thread reads the state event it was given, never one found by name.
    void MakeStateEvent() { state_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    // The record as StartLidMonitor leaves it, without a device: request 3 fails harmlessly.
    void StartThread(DWORD flags = 0) {
        g_lidMonitor.device = nullptr;
        g_lidMonitor.callback = RecordLidState;
        g_lidMonitor.changeEvent = OpenEventW(SYNCHRONIZE, FALSE, kLidStateChangedEventName);
        ASSERT_NE(g_lidMonitor.changeEvent, nullptr);
        g_lidMonitor.stateEvent = nullptr;
        if (state_) {
            ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), state_, GetCurrentProcess(), &g_lidMonitor.stateEvent,
                                        SYNCHRONIZE, FALSE, 0));
        }
        g_lidMonitor.terminateEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_lidMonitor.requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_lidMonitor.thread = CreateThread(nullptr, 0, LidMonitorThread, &g_lidMonitor, flags, nullptr);
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
        EXPECT_EQ(g_lastOccasion, kLidChanged) << "change " << i;
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
}

// A request that comes with the stop is not answered: the process is ending.
TEST_F(LidMonitorThreadTest, StopAndRequestTogetherEndTheThreadWithoutAReport) {
    MakeChangeEvent();
    MakeStateEvent();
    StartThread(CREATE_SUSPENDED);
    SetEvent(g_lidMonitor.requestEvent);
    SetEvent(g_lidMonitor.terminateEvent);
    ResumeThread(g_lidMonitor.thread);
    EXPECT_EQ(WaitForSingleObject(g_lidMonitor.thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(g_reports, 0);
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
    EXPECT_FALSE(RequestLidStateReport());
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

// StartLidMonitor against the simulated driver, with PostLidState posting to a window here.
class StartLidMonitorDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
        ASSERT_TRUE(InstallSimulatedLidDriver());
        ASSERT_TRUE(ResetLidRequestCounts());
        LidMonitor empty = {};
        g_lidMonitor = empty;
        savedHost_ = g_protection.run.host;
        window_ = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        g_protection.run.host.window = window_;
        handlesBefore_ = CountProcessHandles(GetCurrentProcessId());
        ASSERT_GT(handlesBefore_, 0);
    }
    void TearDown() override {
        StopLidMonitor();
        g_protection.run.host = savedHost_;
        DestroyWindow(window_);
        RemoveFile(LogPathBesideExecutable());
    }
    // The next lid-state message, or one with wParam and lParam of ~0 when none comes.
    MSG NextLidMessage(DWORD timeoutMs = 3000) {
        MSG msg = {};
        if (!WaitUntil([&] { return PeekMessageW(&msg, window_, kLidStateMessage, kLidStateMessage, PM_REMOVE); },
                       timeoutMs))
            msg.wParam = msg.lParam = ~0;
        return msg;
    }
    HWND window_ = nullptr;
    ProtectionHost savedHost_ = {};
    long handlesBefore_ = 0;
};

TEST_F(StartLidMonitorDriverTest, TheDriversEventsAreFoundInTheSessionsNamespaceOrElseInTheGlobalOne) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global namespace only" : "session namespace");
        ASSERT_TRUE(InstallSimulatedLidDriver());
        if (global) {
            ASSERT_TRUE(MoveSimulatedEventsToGlobal());
            HANDLE bare = OpenEventW(SYNCHRONIZE, FALSE, kLidStateChangedEventName);
            EXPECT_EQ(bare, nullptr) << "the bare name must not find the global event";
            if (bare) CloseHandle(bare);
        }
        ASSERT_TRUE(ResetLidRequestCounts());
        ASSERT_TRUE(StartLidMonitor());
        for (bool closed : {true, false}) {
            ASSERT_TRUE(SetSimulatedLid(closed));
            MSG msg = NextLidMessage();
            EXPECT_EQ(msg.wParam, closed ? kLidClosed : kLidOpen);
            EXPECT_EQ(msg.lParam, kLidChanged);
        }
        EXPECT_EQ(ReadLidRequestCounts().r3, 2u);
        StopLidMonitor();
        EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), "");
    }
}

TEST_F(StartLidMonitorDriverTest, ARequestedReportCarriesTheStateAsItIsNow) {
    ASSERT_TRUE(StartLidMonitor());
    // The driver stops signalling changes: only a request can tell of the lid now.
    ASSERT_TRUE(SetSimulatedChangeEvent(false));
    for (bool closed : {true, false}) {
        ASSERT_TRUE(SetSimulatedLid(closed));
        ASSERT_TRUE(RequestLidStateReport());
        MSG msg = NextLidMessage();
        EXPECT_EQ(msg.wParam, closed ? kLidClosed : kLidOpen);
        EXPECT_EQ(msg.lParam, kLidStateOnRequest);
    }
    EXPECT_EQ(ReadLidRequestCounts().r3, 2u) << "request 3 at each report";
    EXPECT_EQ(NextLidMessage(200).wParam, static_cast<WPARAM>(~0)) << "one message per request";
}

// The owner the seam shows for every kernel object: Wine keeps none.
const wchar_t* g_eventOwner = nullptr;

DWORD WINAPI ShownEventOwner(HANDLE, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID*, PACL*, PACL*,
                             PSECURITY_DESCRIPTOR* descriptor) {
    if (type != SE_KERNEL_OBJECT || what != OWNER_SECURITY_INFORMATION) return ERROR_INVALID_PARAMETER;
    return OwnerOnlyDescriptor(g_eventOwner, owner, descriptor);
}

// Any user can make events of the driver's names first; only SYSTEM's or Administrators' tell
// the lid, and a user's leaves the lid to the caller with the device kept for requests 1 and 2.
TEST_F(StartLidMonitorDriverTest, OnlyEventsOwnedBySystemOrAdministratorsAreTheDrivers) {
    PlatformScope platform;
    g_sessionSeam.getSecurityInfo = ShownEventOwner;
    const struct {
        const wchar_t* owner;
        bool used;
    } rows[] = {{L"S-1-5-18", true}, {L"S-1-5-32-544", true}, {L"S-1-5-21-1-2-3-1001", false}, {L"S-1-5-32-545", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.owner);
        g_eventOwner = row.owner;
        RemoveFile(LogPathBesideExecutable());
        EXPECT_EQ(row.used, StartLidMonitor());
        EXPECT_NE(g_lidMonitor.device, nullptr);
        EXPECT_EQ(row.used, g_lidMonitor.thread != nullptr);
        if (row.used) {
            ASSERT_TRUE(SetSimulatedLid(true));
            EXPECT_EQ(NextLidMessage().wParam, kLidClosed);
            ASSERT_TRUE(SetSimulatedLid(false));
            EXPECT_EQ(NextLidMessage().wParam, kLidOpen);
            EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()), "");
        } else {
            EXPECT_EQ(ReadFileBytes(LogPathBesideExecutable()),
                      "Lid events KalnixLidStateChangedEvent are not owned by SYSTEM or Administrators: ignored\r\n\r\n"
                      "Can't open driver's lid events: 5\r\n\r\n");
        }
        StopLidMonitor();
    }
}

// The entry then takes the lid from Windows' notifications (tests/protect/lid_program_test.cpp).
TEST_F(StartLidMonitorDriverTest, WithoutTheChangeEventOnlyTheDeviceIsKeptAndNoThreadRuns) {
    ASSERT_TRUE(SetSimulatedChangeEvent(false));
    EXPECT_FALSE(StartLidMonitor());
    EXPECT_NE(g_lidMonitor.device, nullptr);
    EXPECT_EQ(g_lidMonitor.thread, nullptr);
    EXPECT_FALSE(RequestLidStateReport());
    SendLidControlRequest(kRequestProtectionApplied);
    SendLidControlRequest(kRequestProtectionReleased);
    LidRequestCounts counts = ReadLidRequestCounts();
    EXPECT_EQ(counts.r1, 1u);
    EXPECT_EQ(counts.r2, 1u);
    StopLidMonitor();
    EXPECT_EQ(ReadLidRequestCounts().opened, 0u);
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), handlesBefore_) << "the events tried are closed";
}

}  // namespace
