// Kalnix.exe under Wine against the simulated lid-sensor driver, installed and started
// through the service manager.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include "handle_count.h"
#include "res/resource.h"
#include "support/arch_facts.h"
#include "support/kalnix_process.h"
#include "support/lid_driver.h"
#include "support/pe_image.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

// Saved by the setup program before Kalnix ran; the policy starts with other flags, so a
// restore shows.
constexpr DWORD kSavedAc = 0x00000003;
constexpr DWORD kSavedDc = 0x20000001;
constexpr DWORD kStartAc = 0x40000003;
constexpr DWORD kStartDc = 0x00000002;

DWORD PolicyAc() { return ReadStandinPolicy().user.LidCloseAc.Flags; }
DWORD PolicyDc() { return ReadStandinPolicy().user.LidCloseDc.Flags; }

// Threads the process `pid` runs right now; 0 or less when they cannot be counted.
long CountProcessThreads(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// A visible dialog of another process with this caption and owner, waiting up to 5 s.
HWND WaitForDialog(const wchar_t* caption, HWND owner) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", caption)) != nullptr;)
                if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner) found = w;
            return found != nullptr;
        },
        5000);
    return found;
}

class LidProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        SetSettingDword(L"HideTrayIcon", 1);
        SetSettingDword(L"PowerSettings1", kSavedAc);
        SetSettingDword(L"PowerSettings2", kSavedDc);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(kStartAc, kStartDc));
        ASSERT_TRUE(InstallSimulatedLidDriver());
        ASSERT_TRUE(ResetLidRequestCounts());
        ASSERT_TRUE(kalnix_.Prepare(L"lid-program"));
    }
    void StartInMode(DWORD mode) {
        SetSettingDword(L"Action", mode);
        SetSettingDword(L"AlarmTime", 60);
        ASSERT_TRUE(kalnix_.Start());
        ASSERT_TRUE(WaitForLidDeviceOpen(1, 5000)) << "Kalnix holds \\\\.\\KALNIX";
    }
    // Moves the lid and waits until Kalnix has acknowledged the change with request 3.
    bool MoveLidAndWait(bool closed, DWORD expectedR3) {
        return SetSimulatedLid(closed) && WaitForLidRequestCount(3, expectedR3, 5000);
    }
    KalnixProcess kalnix_;
};

TEST_F(LidProgramTest, EveryLidChangeGivesExactlyOneRequest3) {
    StartInMode(2);
    for (DWORD i = 1; i <= 20; ++i) ASSERT_TRUE(MoveLidAndWait(i % 2 == 1, i)) << "change " << i;
    Sleep(300);
    EXPECT_EQ(ReadLidRequestCounts().r3, 20u);
    EXPECT_EQ(kalnix_.End(), 0u);
}

TEST_F(LidProgramTest, EndingThroughWmDestroySendsRequest2AndRestoresTheSavedFlagsInEveryMode) {
    for (DWORD mode : {0u, 1u, 2u, 7u}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(ResetLidRequestCounts());
        PresetPowerPolicy(PatternedPowerPolicy(kStartAc, kStartDc));
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare(L"lid-program-modes"));
        SetSettingDword(L"Action", mode);
        ASSERT_TRUE(kalnix.Start());
        ASSERT_TRUE(WaitForLidDeviceOpen(1, 5000));
        if (mode == 1) {
            EXPECT_TRUE(WaitForLidRequestCount(1, 1, 5000)) << "request 1 right after start";
            EXPECT_EQ(PolicyAc(), 0xC0000004u) << "forced before request 1";
            EXPECT_EQ(PolicyDc(), 0x80000004u);
        } else {
            Sleep(300);
            EXPECT_EQ(PolicyAc(), kStartAc) << "only mode 1 touches the policy while running";
        }
        EXPECT_EQ(ReadLidRequestCounts().r2, 0u);
        DWORD elapsed = 0;
        EXPECT_EQ(kalnix.End(&elapsed), 0u);
        LidRequestCounts counts = ReadLidRequestCounts();
        EXPECT_EQ(counts.r1, mode == 1 ? 1u : 0u);
        EXPECT_EQ(counts.r2, 1u);
        EXPECT_EQ(counts.opened, 0u) << "the device handle is closed at exit";
        EXPECT_EQ(PolicyAc(), kSavedAc);
        EXPECT_EQ(PolicyDc(), kSavedDc);
        // The monitor thread is stopped through its terminate event, not by the 4000 ms bound.
        EXPECT_LT(elapsed, 4000u);
    }
}

// An update ends Kalnix while the user has one of its dialogs open.
TEST_F(LidProgramTest, EndingWhileADialogIsOpenStillReleasesAndExitsWithZero) {
    enum Open { kStatus, kSettings, kRangeMessage };
    for (Open open : {kStatus, kSettings, kRangeMessage}) {
        SCOPED_TRACE(open);
        SetSettingDword(L"Action", 2);
        SetSettingDword(L"AlarmTime", 99);  // shown as stored; OK refuses it with the message
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare(L"lid-program-dialogs"));
        ASSERT_TRUE(kalnix.Start());
        ASSERT_TRUE(WaitForLidDeviceOpen(1, 5000));
        PostMessageW(kalnix.Window(), WM_USER + 1, 1, WM_LBUTTONDBLCLK);
        HWND dialog = WaitForDialog(L"Kalnix", kalnix.Window());
        ASSERT_NE(dialog, nullptr);
        if (open != kStatus) {
            HWND link = GetDlgItem(dialog, IDC_CONFIGURE_LINK);
            PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
            PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
            dialog = WaitForDialog(L"Settings", dialog);
            ASSERT_NE(dialog, nullptr);
        }
        if (open == kRangeMessage) {
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            ASSERT_NE(WaitForDialog(L"Kalnix", dialog), nullptr);
        }
        ASSERT_TRUE(ResetLidRequestCounts());  // OK in mode 2 has sent request 2 already
        EXPECT_EQ(kalnix.End(), 0u);
        EXPECT_EQ(ReadLidRequestCounts().r2, 1u);
    }
}

TEST_F(LidProgramTest, FailedPolicyWritesAreLoggedAndTheRequestsAreSentRegardless) {
    FailPowerCall(L"WriteGlobalPwrPolicy", 5);
    StartInMode(1);
    EXPECT_TRUE(WaitForLidRequestCount(1, 1, 5000));
    EXPECT_EQ(kalnix_.End(), 0u);
    EXPECT_EQ(ReadLidRequestCounts().r2, 1u);
    EXPECT_EQ(kalnix_.Log(), std::string(kSleepLines) +
                                 "WGPP Failed: 5\r\n\r\nEntering RestorePowerSettings\r\nWGPP Failed: 5\r\n\r\n");
    EXPECT_EQ(PolicyAc(), kStartAc);
}

TEST_F(LidProgramTest, WithoutTheDriverTheOpenFailureIsLoggedAndTheProgramRunsOn) {
    ASSERT_TRUE(RemoveSimulatedLidDriver());
    SetSettingDword(L"Action", 2);
    ASSERT_TRUE(kalnix_.Start());
    const std::string openFailure = "Can't open handle to driver: 2\r\n\r\n";
    ASSERT_TRUE(kalnix_.WaitForLogLine(openFailure, 5000)) << kalnix_.Log();
    Sleep(500);
    EXPECT_TRUE(kalnix_.Running());
    EXPECT_TRUE(IsWindow(kalnix_.Window()));
    DWORD elapsed = 0;
    EXPECT_EQ(kalnix_.End(&elapsed), 0u);
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(PolicyAc(), kSavedAc) << "the release still restores without the driver";
}

// A driver whose events cannot be opened is as good as none for the lid: Windows'
// notifications stand in (Wine reports no lid, so the log says that next), while the device
// still receives requests 1 and 2.
TEST_F(LidProgramTest, WithoutTheChangeEventTheLidIsLeftToWindowsAndRequests1And2StillReachTheDriver) {
    ASSERT_TRUE(SetSimulatedChangeEvent(false));
    StartInMode(1);
    const std::string eventsFailure = "Can't open driver's lid events: 2\r\n\r\n";
    const std::string noLid = "Can't sense a lid: Windows reports no lid switch\r\n\r\n";
    ASSERT_TRUE(kalnix_.WaitForLogLine(noLid, 10000)) << kalnix_.Log();
    EXPECT_TRUE(WaitForLidRequestCount(1, 1, 5000)) << "request 1 reaches the device";
    EXPECT_EQ(kalnix_.End(), 0u);
    LidRequestCounts counts = ReadLidRequestCounts();
    EXPECT_EQ(counts.r2, 1u) << "the release reaches the device";
    EXPECT_EQ(counts.r3, 0u);
    EXPECT_EQ(counts.opened, 0u);
    std::string log = kalnix_.Log();
    size_t at = log.find(eventsFailure);
    EXPECT_EQ(at, std::string(kSleepLines).size()) << log;
    EXPECT_EQ(at, log.rfind(eventsFailure)) << "said once: " << log;
    EXPECT_LT(at, log.find(noLid)) << log;
}

// Without the driver Windows' lid notifications stand in for it, on the main thread. Wine
// has no lid and never reports one, as a desktop or a virtual machine would not.
TEST_F(LidProgramTest, WithoutTheDriverNoMonitorThreadAndTheMissingLidIsLoggedOnce) {
    StartInMode(2);
    ASSERT_TRUE(MoveLidAndWait(true, 1)) << "the monitor thread runs";
    long withMonitor = CountProcessThreads(kalnix_.Pid());
    ASSERT_GT(withMonitor, 1) << "the process's threads cannot be counted";
    EXPECT_EQ(kalnix_.End(), 0u);

    ASSERT_TRUE(RemoveSimulatedLidDriver());
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"lid-program-no-driver"));
    ASSERT_TRUE(kalnix.Start());
    const std::string openFailure = "Can't open handle to driver: 2\r\n\r\n";
    const std::string noLid = "Can't sense a lid: Windows reports no lid switch\r\n\r\n";
    ASSERT_TRUE(kalnix.WaitForLogLine(noLid, 10000)) << kalnix.Log();
    EXPECT_EQ(CountProcessThreads(kalnix.Pid()), withMonitor - 1) << "no lid monitor thread";
    Sleep(1000);
    std::string log = kalnix.Log();
    EXPECT_EQ(log.find(noLid), log.rfind(noLid)) << "said once: " << log;
    EXPECT_EQ(log.find(openFailure), std::string(kSleepLines).size()) << log;
    EXPECT_TRUE(kalnix.Running());
    EXPECT_EQ(kalnix.End(), 0u);
}

TEST_F(LidProgramTest, AThousandLidChangesLeaveTheHandleCountWhereItStarted) {
    StartInMode(2);
    ASSERT_TRUE(MoveLidAndWait(true, 1));
    ASSERT_TRUE(MoveLidAndWait(false, 2));
    Sleep(500);  // start-up work (first protection tick, icon) settles
    long before = CountProcessHandles(kalnix_.Pid());
    ASSERT_GT(before, 0) << "the process's handles cannot be counted";
    for (DWORD i = 1; i <= 1000; ++i) ASSERT_TRUE(MoveLidAndWait(i % 2 == 1, i + 2)) << "change " << i;
    // The last state-event handle closes just after request 3 returns.
    long after = -1;
    WaitUntil([&] { return (after = CountProcessHandles(kalnix_.Pid())) == before; }, 3000);
    EXPECT_EQ(after, before);
    EXPECT_EQ(kalnix_.End(), 0u);
}

TEST(KalnixExportsTest, PowerOperationsAreExportedByTheSetupProgramsNames) {
    std::wstring exe = std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe";
    EXPECT_TRUE(ExportsName(exe, ExportName("SavePowerSettings", 0).c_str()));
    EXPECT_TRUE(ExportsName(exe, ExportName("RestorePowerSettings", 0).c_str()));
    for (const char* other : {"SavePowerSettings", "SavePowerSettings@0", "_SavePowerSettings@0"}) {
        if (ExportName("SavePowerSettings", 0) != other) {
            EXPECT_FALSE(ExportsName(exe, other)) << other;
        }
    }
}

// The runtimes and zlib are linked in: a bare Windows installation runs Kalnix.exe. The power
// library is loaded from System32 at run time, never imported.
TEST(KalnixExportsTest, ImportsSystemLibrariesOnly) {
    const std::vector<std::string> system = {"KERNEL32.dll", "USER32.dll", "GDI32.dll",
                                             "ADVAPI32.dll", "SHELL32.dll", "msvcrt.dll"};
    std::vector<std::string> imports = ImportedModules(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe");
    for (const std::string& name : imports) EXPECT_TRUE(IsOneOf(name, system)) << name;
    EXPECT_FALSE(imports.empty()) << "the import table cannot be read";
}

}  // namespace
