#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/face_link.h"
#include "service/service_worker.h"
#include "session_standin.h"
#include "support/face_pipe_client.h"
#include "support/lid_driver.h"
#include "support/power_standin.h"
#include "support/test_support.h"

// The protection service's worker in this process, with the simulated lid-sensor driver and the
// stand-in power library, on laptops whose sessions come from the stand-in (Wine has one
// session, the console's, and names none): the sign-in screen, a standard user at the laptop,
// and a second user at it while the first one's session is switched away. The test's pipe
// clients play the faces the service started. In each the laptop is protected: the alarm sounds
// in the console's face only, and the closed laptop nobody is at is put to rest.

namespace {

constexpr DWORD kWaitMs = 15000;
constexpr DWORD kAc = 0x00000001;
constexpr DWORD kDc = 0x00000003;

DWORD WINAPI RunWorker(void*) { return RunServiceWorker(); }

// Whether any message waiting for this face now is of the alarm: a tone or a watch for input.
bool ToldOfAlarm(FacePipeClient* face) {
    bool told = false;
    LinkMessage message;
    while (face->Receive(&message, 0))
        told = told || message.header.kind == static_cast<UINT16>(LinkKind::Tone) ||
               message.header.kind == static_cast<UINT16>(LinkKind::WatchInput);
    return told;
}

struct Laptop {
    const char* shows;
    std::vector<SessionRow> sessions;
    DWORD console;
    // The sessions whose faces the service starts, and that connect in this order.
    std::vector<DWORD> faces;
};

class ServiceSessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"Action", 2);
        SetSettingDword(L"AlarmTime", 1);
        SetSettingDword(L"RestAfter", 2);
        // Wine shows its one display as an external one.
        SetSettingDword(L"AlarmWithExternalDisplay", 1);
        SetSettingDword(L"PowerSettings1", kAc);
        SetSettingDword(L"PowerSettings2", kDc);
        ASSERT_TRUE(InstallSimulatedLidDriver());
        ASSERT_TRUE(SetSimulatedLid(false));
    }
    void TearDown() override {
        SetSimulatedLid(false);
        StopWorker();
        RemoveSimulatedLidDriver();
    }
    void StartWorker() {
        worker_ = CreateThread(nullptr, 0, RunWorker, nullptr, 0, nullptr);
        ASSERT_NE(worker_, nullptr);
    }
    // The orderly stop a service manager asks for.
    void StopWorker() {
        if (!worker_) return;
        RequestServiceStop();
        EXPECT_EQ(WaitForSingleObject(worker_, kWaitMs), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeThread(worker_, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(worker_);
        worker_ = nullptr;
    }
    HANDLE worker_ = nullptr;
};

TEST_F(ServiceSessionsTest, EveryLaptopIsProtectedAndOnlyTheConsolesFaceRings) {
    const Laptop laptops[] = {
        {"the sign-in screen", {{1, WTSConnected, Token::Limited, 0, 0}}, 1, {}},
        {"a standard user at the laptop", {{1, WTSActive, Token::Limited, 0, 0}}, 1, {1}},
        {"a second user at the laptop, the first one switched away",
         {{1, WTSDisconnected, Token::Limited, 0, 0}, {2, WTSActive, Token::ElevatedWithLinked, 0, 0}}, 2, {1, 2}},
    };
    for (const Laptop& laptop : laptops) {
        SCOPED_TRACE(laptop.shows);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(kAc, kDc));
        SessionStandin sessions;
        sessions.Sessions(laptop.sessions);
        sessions.ConsoleSession(laptop.console);
        sessions.NextClientSessions(laptop.faces);
        StartWorker();
        ASSERT_TRUE(WaitUntil([&] { return sessions.Listings() == 1; }, kWaitMs));
        std::vector<StartedFace> started = sessions.Started();
        ASSERT_EQ(started.size(), laptop.faces.size());
        for (size_t i = 0; i < started.size(); ++i) {
            EXPECT_EQ(started[i].session, laptop.faces[i]);
            EXPECT_TRUE(started[i].limited);
        }

        std::vector<std::unique_ptr<FacePipeClient>> faces;
        FacePipeClient* console = nullptr;
        for (DWORD session : laptop.faces) {
            faces.emplace_back(new FacePipeClient);
            LinkMessage welcome;
            ASSERT_TRUE(faces.back()->Greet(&welcome));
            EXPECT_EQ(welcome.welcome.console, session == laptop.console ? 1u : 0u);
            if (session == laptop.console) console = faces.back().get();
        }

        ASSERT_TRUE(SetSimulatedLid(true));
        if (console) {
            LinkMessage message;
            ASSERT_TRUE(console->ReceiveKind(LinkKind::WatchInput, &message, kWaitMs));
            EXPECT_EQ(message.flag, 1u);
            ASSERT_TRUE(console->ReceiveKind(LinkKind::Tone, &message, kWaitMs));
        }
        // The console's face has heard the first tone: another session's face was told nothing
        // of it, and its word is nobody's at the laptop. Its pipe is read in order: once its
        // second hello has closed it, its report was read before.
        for (auto& face : faces) {
            if (face.get() == console) continue;
            EXPECT_FALSE(ToldOfAlarm(face.get()));
            ASSERT_TRUE(face->Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device))));
            ASSERT_TRUE(face->Send(MakeLinkMessage(LinkKind::Hello)));
            EXPECT_TRUE(face->Dropped());
        }
        EXPECT_TRUE(SuspendRequested(kWaitMs)) << "the closed laptop nobody is at is rested";
        ASSERT_TRUE(SetSimulatedLid(false));
        StopWorker();
        EXPECT_EQ(ReadStandinPolicy().user.LidCloseAc.Flags, kAc);
    }
}

}  // namespace
