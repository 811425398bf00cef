#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "setup/ca_library.h"
#include "support/face_pipe_client.h"
#include "support/installed_kalnix.h"
#include "support/lid_driver.h"
#include "support/power_standin.h"
#include "support/test_support.h"

// Kalnix.exe as the protection service, registered by the installer helper library in Wine's
// service manager, with the simulated lid-sensor driver and the stand-in power library. The
// test's own pipe client is the console session's face (Wine has one session, the console's,
// and names no session of its users, so the service starts no face of its own here).

namespace {

constexpr DWORD kStartAc = 0x00000001;
constexpr DWORD kStartDc = 0x00000003;
constexpr DWORD kForcedAc = 0x80000004;  // kStartAc with the compulsory-sleep bits
constexpr DWORD kWaitMs = 15000;

struct ServiceConfig {
    bool exists = false;
    DWORD type = 0, start = 0, state = 0;
    std::wstring command, account, displayName, description;
    DWORD resetPeriod = 0;
    std::vector<SC_ACTION> failureActions;
};

ServiceConfig QueryProtectionService() {
    ServiceConfig result;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KalnixProtection", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                                : nullptr;
    if (service) {
        result.exists = true;
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) result.state = status.dwCurrentState;
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (QueryServiceConfigW(service, config, 8192, &needed)) {
            result.type = config->dwServiceType;
            result.start = config->dwStartType;
            result.command = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
            result.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
            result.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
        }
        if (QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, buffer.data(), 8192, &needed)) {
            auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data());
            result.description = description->lpDescription ? description->lpDescription : L"";
        }
        if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), 8192, &needed)) {
            auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
            result.resetPeriod = failure->dwResetPeriod;
            result.failureActions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
        }
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    return result;
}

class ProtectionServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        SetSettingDword(L"PowerSettings1", kStartAc);
        SetSettingDword(L"PowerSettings2", kStartDc);
        // Wine shows its one display as an external one.
        SetSettingDword(L"AlarmWithExternalDisplay", 1);
        LetServicesUseThePowerStandin();
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(kStartAc, kStartDc));
        ASSERT_TRUE(InstallSimulatedLidDriver());
        ASSERT_TRUE(SetSimulatedLid(false));
        folder_ = MakeScratchDirectory(L"protection-service");
        kalnix_ = folder_ + L"\\Kalnix.exe";
        ASSERT_TRUE(CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", kalnix_));
        RemoveFile(Log());
        ASSERT_EQ(ca_.InstallProtectionService(kalnix_.c_str()), 1);
    }
    void TearDown() override {
        EXPECT_EQ(ca_.RemoveProtectionService(), 1);
        EXPECT_FALSE(QueryProtectionService().exists);
        RemoveSimulatedLidDriver();
    }
    std::wstring Log() const { return folder_ + L"\\Kalnix.log"; }
    bool LogShows(const std::string& text, DWORD timeoutMs = kWaitMs) const {
        return WaitUntil([&] { return ReadFileBytes(Log()).find(text) != std::string::npos; }, timeoutMs);
    }

    CaLibrary ca_{L"standard"};
    std::wstring folder_;
    std::wstring kalnix_;
};

TEST_F(ProtectionServiceTest, RegisteredForTheMachineAndItsStopPutsTheLidCloseSettingsBack) {
    ServiceConfig config = QueryProtectionService();
    ASSERT_TRUE(config.exists);
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config.command, L"\"" + kalnix_ + L"\" -service");
    EXPECT_EQ(config.account, L"LocalSystem");
    EXPECT_EQ(config.displayName, L"Kalnix protection");
    EXPECT_FALSE(config.description.empty());

    SetSettingDword(L"Action", 1);
    SetSettingDword(L"AlarmTime", 30);
    ASSERT_EQ(ca_.StartProtectionService(), 1);
    EXPECT_EQ(QueryProtectionService().state, static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(WaitUntil([] { return ReadStandinPolicy().user.LidCloseAc.Flags == kForcedAc; }, kWaitMs))
        << "automatic protection forces the lid-close sleep";
    ASSERT_TRUE(WaitForLidRequestCount(1, 1, kWaitMs));

    // An administrator's settings dialog writes the key: the service takes the new mode at once.
    SetSettingDword(L"Action", 2);
    EXPECT_TRUE(LogShows("Settings changed: mode 2, alarm delay 30 s"));
    EXPECT_TRUE(WaitUntil([] { return ReadStandinPolicy().user.LidCloseAc.Flags == kStartAc; }, kWaitMs))
        << "the lid alarm puts the user's flags back";

    SetSettingDword(L"Action", 1);
    EXPECT_TRUE(WaitUntil([] { return ReadStandinPolicy().user.LidCloseAc.Flags == kForcedAc; }, kWaitMs));
    ASSERT_EQ(ca_.StopProtectionService(), 1);
    EXPECT_EQ(QueryProtectionService().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseAc.Flags, kStartAc);
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseDc.Flags, kStartDc);
    EXPECT_TRUE(LogShows("The protection service stopped: the lid-close settings are as they were"));
}

// The console's face rings the alarm and hears the person; a face that ends ends no
// protection: the rest comes all the same.
TEST_F(ProtectionServiceTest, TheConsoleFaceRingsAndHearsAndWithoutItTheRestStillComes) {
    SetSettingDword(L"Action", 2);
    SetSettingDword(L"AlarmTime", 1);
    SetSettingDword(L"RestAfter", 2);
    ASSERT_EQ(ca_.StartProtectionService(), 1);

    FacePipeClient face;
    ASSERT_TRUE(face.Open());
    LinkMessage message;
    ASSERT_TRUE(face.Greet(&message));
    EXPECT_EQ(message.welcome.console, 1u);
    EXPECT_EQ(message.welcome.state.mode, 2u);
    EXPECT_EQ(message.welcome.state.protecting, 1u);
    FacePipeClient second;
    ASSERT_TRUE(second.Send(MakeLinkMessage(LinkKind::Hello)));
    ASSERT_TRUE(second.Receive(&message));
    EXPECT_EQ(message.header.kind, static_cast<UINT16>(LinkKind::Refused)) << "one face in a session";

    // The face is killed while the alarm rings: nobody is heard, and the rest follows RestAfter
    // after the first tone.
    ASSERT_TRUE(SetSimulatedLid(true));
    ASSERT_TRUE(face.ReceiveKind(LinkKind::WatchInput, &message));
    EXPECT_EQ(message.flag, 1u);
    ASSERT_TRUE(face.ReceiveKind(LinkKind::Tone, &message));
    EXPECT_EQ(message.tone.hz, 2000u);
    EXPECT_EQ(message.tone.ms, 200u);
    face.Close();
    EXPECT_TRUE(SuspendRequested(kWaitMs)) << "the service rests the laptop";
    ASSERT_TRUE(SetSimulatedLid(false));

    // A face again, and a person at the laptop: the alarm stops, and no rest is tried. RestAfter
    // (read at each use) leaves the person's input ample time to arrive on a loaded machine.
    ClearPowerCallLog();
    SetSettingDword(L"RestAfter", 600);
    FacePipeClient again;
    ASSERT_TRUE(again.Greet(&message));
    ASSERT_TRUE(SetSimulatedLid(true));
    ASSERT_TRUE(again.ReceiveKind(LinkKind::Tone, &message));
    ASSERT_TRUE(again.Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device))));
    EXPECT_TRUE(LogShows("Someone is at the laptop: the alarm stops and waits again"));
    EXPECT_FALSE(SuspendRequested(0)) << "someone is there";
    ASSERT_TRUE(SetSimulatedLid(false));
    ASSERT_EQ(ca_.StopProtectionService(), 1);
}

// The sign-in screen: nobody signed in, no face anywhere.
TEST_F(ProtectionServiceTest, WithNobodySignedInAClosedLaptopIsRested) {
    SetSettingDword(L"Action", 1);
    SetSettingDword(L"AlarmTime", 1);
    SetSettingDword(L"RestAfter", 2);
    ASSERT_EQ(ca_.StartProtectionService(), 1);
    ASSERT_TRUE(WaitForLidRequestCount(1, 1, kWaitMs));
    ASSERT_TRUE(SetSimulatedLid(true));
    EXPECT_TRUE(SuspendRequested(kWaitMs));
    ASSERT_TRUE(SetSimulatedLid(false));
    ASSERT_EQ(ca_.StopProtectionService(), 1);
}

}  // namespace
