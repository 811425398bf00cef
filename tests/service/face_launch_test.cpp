#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/face_link.h"
#include "service/face_launch.h"
#include "service/face_server.h"
#include "session_standin.h"
#include "support/event_recorder.h"
#include "support/face_pipe_client.h"

// Who gets a face when the service starts or a user signs in, with the sessions and their
// users' tokens from the stand-in. The faces' pipe is served in this process, so that a session
// can have a face already.

namespace {

LinkState State() { return {2, 1, 0}; }

TEST(FaceLaunchTest, EveryUsersSessionGetsOneFaceWithALimitedTokenAndNoOtherSessionDoes) {
    constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
    SessionStandin sessions;
    ASSERT_TRUE(StartFaceServer({nullptr, nullptr, nullptr, nullptr, State}));
    // Session 10 has its face already.
    FacePipeClient face;
    face.serve = ServeFaceServerOnce;
    sessions.NextClientSessions({10});
    LinkMessage welcome;
    ASSERT_TRUE(face.Greet(&welcome));

    const std::vector<SessionRow> atStart = {
        {0, WTSActive, Token::Limited, 0, 0},                 // services only
        {1, WTSActive, Token::Limited, 0, 0},                 // a standard user at the laptop
        {2, WTSDisconnected, Token::ElevatedWithLinked, 0, 0},  // an administrator switched away
        {3, WTSActive, Token::ElevatedAlone, 0, 0},           // elevated, no linked token: no face
        {4, WTSConnected, Token::Limited, 0, 0},              // a remote connection's sign-in screen
        {5, WTSListen, Token::Limited, 0, 0},
        {6, WTSActive, Token::Limited, ERROR_NO_TOKEN, 0},    // nobody signed in yet
        {7, WTSActive, Token::Limited, kDenied, 0},           // the token refused
        {8, WTSActive, Token::Unreadable, 0, 0},              // unreadable counts as elevated
        {9, WTSActive, Token::Limited, 0, kDenied},           // the start refused
        {10, WTSActive, Token::Limited, 0, 0},                // a face there already
    };
    sessions.Sessions(atStart);
    EventRecorder events;
    StartFacesInEverySession(true);
    // Then a user signs in (an administrator, UAC on), and a log-on is reported for session 0.
    std::vector<SessionRow> later = atStart;
    later.push_back({11, WTSActive, Token::ElevatedWithLinked, 0, 0});
    sessions.Sessions(later);
    StartFaceInSession(11);
    StartFaceInSession(0);
    StopFaceServer();

    EXPECT_EQ(sessions.Asked(), (std::vector<DWORD>{1, 2, 3, 6, 7, 8, 9, 11}));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring quoted = std::wstring(L"\"") + self + L"\"";
    const std::vector<std::pair<DWORD, std::wstring>> expected = {
        {1, quoted + L" -fresh"}, {2, quoted + L" -fresh"}, {11, quoted}};
    std::vector<StartedFace> started = sessions.Started();
    ASSERT_EQ(started.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(started[i].session, expected[i].first);
        EXPECT_TRUE(started[i].limited) << "a face never runs elevated";
        EXPECT_EQ(started[i].commandLine, expected[i].second);
        EXPECT_EQ(started[i].desktop, L"winsta0\\default");
        EXPECT_TRUE(started[i].flags & CREATE_UNICODE_ENVIRONMENT);
    }

    // Each session left without its face is reported once, with the step and the error.
    const std::vector<std::vector<std::wstring>> reported = {
        {L"3", L"A token without administrator rights", L"740"},
        {L"7", L"WTSQueryUserToken", L"5"},
        {L"8", L"A token without administrator rights", L"740"},
        {L"9", L"CreateProcessAsUser", L"5"},
    };
    std::vector<RecordedEvent> notStarted = events.WithId(1012);
    ASSERT_EQ(notStarted.size(), reported.size());
    for (size_t i = 0; i < reported.size(); ++i) EXPECT_EQ(notStarted[i].inserts, reported[i]);
    EXPECT_EQ(events.Events().size(), reported.size());
}

}  // namespace
