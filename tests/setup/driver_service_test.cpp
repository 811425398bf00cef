#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ca_library.h"
#include "support/lid_driver.h"
#include "support/test_support.h"

namespace {

std::wstring LidSimPath() { return std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\lidsim.sys"; }

struct ServiceState {
    bool exists = false;
    DWORD state = 0;
    DWORD type = 0, startType = 0, errorControl = 0;
    std::wstring imagePath;
};

ServiceState QueryKalnixService() {
    ServiceState result;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return result;
    SC_HANDLE service = OpenServiceW(manager, L"Kalnix", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (service) {
        result.exists = true;
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) result.state = status.dwCurrentState;
        DWORD needed = 0;
        QueryServiceConfigW(service, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed ? needed : 1);
        auto config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (needed && QueryServiceConfigW(service, config, needed, &needed)) {
            result.type = config->dwServiceType;
            result.startType = config->dwStartType;
            result.errorControl = config->dwErrorControl;
            result.imagePath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

// The driver's device as Kalnix opens it: exclusively.
bool KalnixDeviceOpens() {
    HANDLE device = CreateFileW(L"\\\\.\\KALNIX", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

bool WaitForServiceGone() { return WaitUntil([] { return !QueryKalnixService().exists; }, 10000); }

const std::string kInstallLines = "CA: Entering InstallDriverAndStart\r\nCA: Entering RemoveDriver\r\n";
const std::string kStepLines = "CA: Entering InstallDriver\r\nCA: Entering StartDriver\r\n";

class DriverServiceTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        ASSERT_TRUE(RemoveSimulatedLidDriver());
        OpenLogGateFor(GetParam());
        ASSERT_TRUE(library_.Loaded());
    }
    void TearDown() override {
        EXPECT_TRUE(RemoveSimulatedLidDriver());
        RemoveFile(LogPathBesideExecutable());
    }
    CaLibrary library_{GetParam()};
};

TEST_P(DriverServiceTest, FirstInstallationFindsNoServiceThenStartsTheDriver) {
    EXPECT_EQ(library_.InstallDriverAndStart(LidSimPath().c_str()), 1);
    EXPECT_EQ(TestLog(), kInstallLines + "CA: OpenService Failed: 1060\r\n" + kStepLines +
                             "CA: Driver installation successful\r\n");
    ServiceState service = QueryKalnixService();
    ASSERT_TRUE(service.exists);
    EXPECT_TRUE(WaitUntil([] { return QueryKalnixService().state == SERVICE_RUNNING; }, 10000));
    EXPECT_EQ(service.type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_BOOT_START));
    EXPECT_EQ(service.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service.imagePath, LidSimPath());
    EXPECT_TRUE(WaitUntil(KalnixDeviceOpens, 10000));
}

TEST_P(DriverServiceTest, ReinstallationReplacesARunningDriver) {
    ASSERT_EQ(library_.InstallDriverAndStart(LidSimPath().c_str()), 1);
    ASSERT_TRUE(WaitUntil(KalnixDeviceOpens, 10000));
    RemoveFile(LogPathBesideExecutable());

    EXPECT_EQ(library_.InstallDriverAndStart(LidSimPath().c_str()), 1);
    EXPECT_EQ(TestLog(), kInstallLines + kStepLines + "CA: Driver installation successful\r\n");
    EXPECT_TRUE(WaitUntil([] { return QueryKalnixService().state == SERVICE_RUNNING; }, 10000));
    EXPECT_TRUE(WaitUntil(KalnixDeviceOpens, 10000));
}

TEST_P(DriverServiceTest, RemoveDriverDeletesTheServiceAndFailsWithoutOne) {
    ASSERT_EQ(library_.InstallDriverAndStart(LidSimPath().c_str()), 1);
    ASSERT_TRUE(WaitUntil(KalnixDeviceOpens, 10000));
    RemoveFile(LogPathBesideExecutable());

    EXPECT_EQ(library_.RemoveDriver(), 1);
    EXPECT_EQ(TestLog(), "CA: Entering RemoveDriver\r\n");
    EXPECT_TRUE(WaitForServiceGone());
    EXPECT_TRUE(WaitUntil([] { return !KalnixDeviceOpens(); }, 10000));

    RemoveFile(LogPathBesideExecutable());
    EXPECT_EQ(library_.RemoveDriver(), 0);
    EXPECT_EQ(TestLog(), "CA: Entering RemoveDriver\r\nCA: OpenService Failed: 1060\r\n");
}

// A file that the service manager cannot load as a driver.
std::wstring MakeNotADriver() {
    std::wstring path = MakeScratchDirectory(L"driver") + L"\\not-a-driver.sys";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, "not a driver", 12, &written, nullptr);
        CloseHandle(file);
    }
    return path;
}

// Nothing is rolled back: the entry of a driver that would not start stays until removed,
// and removing a stopped entry still deletes it after the refused stop.
TEST_P(DriverServiceTest, FailedStartLeavesTheEntryForALaterRemoveDriver) {
    std::wstring notADriver = MakeNotADriver();
    EXPECT_EQ(library_.InstallDriverAndStart(notADriver.c_str()), 0);
    EXPECT_EQ(TestLog(), kInstallLines + "CA: OpenService Failed: 1060\r\n" + kStepLines + "CA: StartDriver failed\r\n");
    ServiceState service = QueryKalnixService();
    EXPECT_TRUE(service.exists);
    EXPECT_EQ(service.imagePath, notADriver);

    RemoveFile(LogPathBesideExecutable());
    EXPECT_EQ(library_.RemoveDriver(), 1);
    EXPECT_EQ(TestLog(), "CA: Entering RemoveDriver\r\nCA: ControlService Failed: 1062\r\n");
    EXPECT_TRUE(WaitForServiceGone());
    RemoveFile(notADriver);
}

TEST_P(DriverServiceTest, ReinstallationReplacesAStoppedEntryWithTheNewPath) {
    std::wstring notADriver = MakeNotADriver();
    ASSERT_EQ(library_.InstallDriverAndStart(notADriver.c_str()), 0);
    RemoveFile(LogPathBesideExecutable());

    EXPECT_EQ(library_.InstallDriverAndStart(LidSimPath().c_str()), 1);
    EXPECT_EQ(TestLog(), kInstallLines + "CA: ControlService Failed: 1062\r\n" + kStepLines +
                             "CA: Driver installation successful\r\n");
    EXPECT_EQ(QueryKalnixService().imagePath, LidSimPath());
    EXPECT_TRUE(WaitUntil(KalnixDeviceOpens, 10000));
    RemoveFile(notADriver);
}

INSTANTIATE_TEST_SUITE_P(Builds, DriverServiceTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
