#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/face_link.h"
#include "common/protection_service_names.h"
#include "service/face_server.h"
#include "support/face_pipe_client.h"
#include "support/test_support.h"

// The service's side of the faces' pipe, run in the test's own process: the test's clients
// are the faces. Wine has one session for everyone; the session each client is in comes from
// the seam, in the order they connect.

namespace {

// A test's face, served by the server in this process while it waits.
struct Face : FacePipeClient {
    Face() { serve = ServeFaceServerOnce; }
};

std::vector<DWORD> g_sessionsToGive;
DWORD g_consoleSession = 1;
std::vector<LinkInputSource> g_inputs;
std::vector<LinkDisplays> g_displays;

BOOL WINAPI GiveNextSession(DWORD, DWORD* session) {
    if (g_sessionsToGive.empty()) return FALSE;
    *session = g_sessionsToGive.front();
    g_sessionsToGive.erase(g_sessionsToGive.begin());
    return TRUE;
}
DWORD WINAPI ConsoleSession() { return g_consoleSession; }

void OnInput(LinkInputSource source) { g_inputs.push_back(source); }
void OnDisplays(LinkDisplays displays) { g_displays.push_back(displays); }
void OnDisplayOffDone(bool) {}
void OnConsoleFace(bool) {}
LinkState State() { return {2, 1, 0}; }

// Hands every signalled pipe event to the server until `done` or the bound.
template <class Condition>
bool Serve(Condition done, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        ServeFaceServerOnce();
    }
    return true;
}

std::vector<BYTE> Bytes(const LinkMessage& message, UINT32 size) {
    const BYTE* first = reinterpret_cast<const BYTE*>(&message);
    return std::vector<BYTE>(first, first + size);
}

size_t LogCount(const std::string& line) {
    std::string log = ReadFileBytes(LogPathBesideExecutable());
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
}

class FaceServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
        saved_ = g_faceSessions;
        g_faceSessions = {GiveNextSession, ConsoleSession};
        g_sessionsToGive.clear();
        g_inputs.clear();
        g_displays.clear();
        ASSERT_TRUE(StartFaceServer({OnInput, OnDisplays, OnDisplayOffDone, OnConsoleFace, State}));
    }
    void TearDown() override {
        StopFaceServer();
        g_faceSessions = saved_;
    }
    // A face of `session` that said hello and was welcomed.
    void Greet(Face* face, DWORD session, bool console) {
        g_sessionsToGive.push_back(session);
        ASSERT_TRUE(face->Open());
        LinkMessage welcome;
        ASSERT_TRUE(face->Greet(&welcome));
        EXPECT_EQ(welcome.welcome.console, console ? 1u : 0u);
        EXPECT_EQ(welcome.welcome.state.mode, 2u);
    }

private:
    FaceSessionCalls saved_ = {};
};

TEST_F(FaceServerTest, OnlyTheConsoleFacesReportsCountAndASecondFaceInASessionIsRefused) {
    Face console;
    Greet(&console, 1, true);
    Face other;
    Greet(&other, 2, false);
    ASSERT_TRUE(other.Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device))));
    ASSERT_TRUE(other.Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device))));
    ASSERT_TRUE(console.Send(MakeFlagMessage(LinkKind::Displays, static_cast<UINT32>(LinkDisplays::External))));
    const std::string ignored = "Reports from the face in session 2 are ignored: it is not the console's";
    ASSERT_TRUE(Serve([&] { return !g_displays.empty() && LogCount(ignored) > 0; }));
    // Both reports are read before the console moves: the second one is the last in its pipe.
    ASSERT_TRUE(other.Send(MakeLinkMessage(LinkKind::Hello)));
    ASSERT_TRUE(other.Dropped()) << "a second hello";
    EXPECT_TRUE(g_inputs.empty()) << "another session's face is no person at the laptop";
    EXPECT_EQ(LogCount(ignored), 1u) << "said once";
    // The console session moves to a third face's: now its word counts.
    g_consoleSession = 3;
    Face third;
    Greet(&third, 3, true);
    ASSERT_TRUE(third.Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Injected))));
    ASSERT_TRUE(Serve([] { return !g_inputs.empty(); }));
    EXPECT_EQ(g_inputs[0], LinkInputSource::Injected);
    g_consoleSession = 1;

    Face second;
    g_sessionsToGive.push_back(1);
    ASSERT_TRUE(second.Send(MakeLinkMessage(LinkKind::Hello)));
    LinkMessage refused;
    ASSERT_TRUE(second.Receive(&refused));
    EXPECT_EQ(refused.header.kind, static_cast<UINT16>(LinkKind::Refused));
    EXPECT_EQ(refused.refusal, static_cast<UINT32>(LinkRefusal::FaceInSession));
    // Refused, it is heard no more (its closing is waited for).
    size_t heard = g_inputs.size();
    ASSERT_TRUE(second.Send(MakeFlagMessage(LinkKind::PersonInput, static_cast<UINT32>(LinkInputSource::Device))));
    second.Close();
    Serve([] { return false; }, 300);
    EXPECT_EQ(g_inputs.size(), heard);
    EXPECT_TRUE(FaceInSession(1));
    EXPECT_TRUE(ConsoleFacePresent());
}

TEST_F(FaceServerTest, ABadMessageClosesOnlyItsConnectionWithOneLogLine) {
    Face good;
    Greet(&good, 1, true);
    LinkMessage input = MakeFlagMessage(LinkKind::PersonInput, 1);
    LinkMessage tone = MakeToneMessage(2000, 200);
    const struct {
        const char* shows;
        bool greet;
        std::vector<BYTE> bytes;
        const char* line;
    } cases[] = {
        {"a report before its hello", false, Bytes(input, input.header.size), "(a report before its hello)"},
        {"one byte short", true, Bytes(input, input.header.size - 1), "(a size that is not its kind's)"},
        {"longer than any message", true, std::vector<BYTE>(kLinkMaxMessageBytes + 100, 0), "(longer than any message)"},
        {"a message the service sends", true, Bytes(tone, tone.header.size), "(a kind the sender may not send)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shows);
        Face bad;
        if (c.greet) Greet(&bad, 5, false);
        else g_sessionsToGive.push_back(5);
        ASSERT_TRUE(bad.Send(c.bytes.data(), static_cast<DWORD>(c.bytes.size())));
        EXPECT_TRUE(bad.Dropped());
        EXPECT_EQ(LogCount(c.line), 1u);
    }
    // The good face was never disturbed.
    ASSERT_TRUE(good.Send(input));
    ASSERT_TRUE(Serve([] { return !g_inputs.empty(); }));
}

}  // namespace
