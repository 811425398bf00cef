// The lid alarm on the real tray window with real window timers; only Beep is replaced,
// by a recorder of time stamps, since Wine's Beep returns at once and cannot be heard.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "common/platform.h"
#include "app/tray_window.h"
#include "protect/protection_modes.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

namespace {

struct Tone {
    DWORD at, frequency, duration;
};
std::vector<Tone> g_tones;

BOOL WINAPI RecordTone(DWORD frequency, DWORD duration) {
    g_tones.push_back({GetTickCount(), frequency, duration});
    return TRUE;
}

BOOL WINAPI AcceptIcon(DWORD, PNOTIFYICONDATAW) { return TRUE; }

class LidAlarmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        g_platform.beep = RecordTone;
        g_platform.notifyIcon = AcceptIcon;
        g_tones.clear();
        g_instance = GetModuleHandleW(nullptr);
    }
    void TearDown() override {
        if (g_trayWindow) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}  // drops the WM_QUIT of WM_DESTROY
    }

    void StartWindow(int mode, int delaySeconds) {
        g_protectionMode = mode;
        g_alarmDelay = delaySeconds;
        CreateTrayWindow();
        ASSERT_NE(g_trayWindow, nullptr);
        Pump(50);  // the first protection tick
    }
    // Handles the window's messages for `ms` milliseconds.
    void Pump(DWORD ms) {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) continue;
                DispatchMessageW(&msg);
            }
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= ms) return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        }
    }
    // Posts the lid-state message as the monitor thread would and lets it be handled;
    // returns when it was handled.
    DWORD Lid(WPARAM state) {
        PostMessageW(g_trayWindow, kLidStateMessage, state, 0);
        Pump(0);
        return GetTickCount();
    }
    size_t TonesAfter(DWORD stamp) {
        size_t n = 0;
        for (const Tone& tone : g_tones) n += tone.at >= stamp;
        return n;
    }
    PlatformScope platform_;
};

// GetTickCount advances in steps of up to ~16 ms.
constexpr DWORD kTickSlack = 40;

TEST_F(LidAlarmTest, LidOpenedWithinTheDelayGivesNoTone) {
    StartWindow(2, 1);
    Lid(0);
    Pump(400);
    Lid(1);
    Pump(1600);
    EXPECT_TRUE(g_tones.empty());
}

TEST_F(LidAlarmTest, FirstToneAfterTheDelayThenOneEveryPeriod) {
    StartWindow(2, 1);
    DWORD closed = Lid(0);
    Pump(2800);  // tones near 1000, 1600, 2200 ms
    ASSERT_GE(g_tones.size(), 2u);
    EXPECT_LE(g_tones.size(), 4u);
    EXPECT_GE(g_tones[0].at - closed, 1000 - kTickSlack);
    for (size_t i = 1; i < g_tones.size(); ++i) {
        EXPECT_GE(g_tones[i].at - g_tones[i - 1].at, 600 - kTickSlack) << "tone " << i;
    }
    for (const Tone& tone : g_tones) {
        EXPECT_EQ(tone.frequency, 2000u);
        EXPECT_EQ(tone.duration, 200u);
    }
}

TEST_F(LidAlarmTest, SecondLidClosedSilencesTheRingingAlarmForTheFullDelay) {
    StartWindow(2, 1);
    Lid(0);
    Pump(1300);
    ASSERT_GE(g_tones.size(), 1u) << "the alarm should ring before the second closing";
    DWORD closedAgain = Lid(0);
    Pump(850);
    EXPECT_EQ(TonesAfter(closedAgain), 0u) << "silent while the delay runs again";
    Pump(600);
    EXPECT_GE(TonesAfter(closedAgain), 1u) << "rings again once the delay has passed";
}

TEST_F(LidAlarmTest, LidOpenedStopsARingingAlarm) {
    StartWindow(2, 1);
    Lid(0);
    Pump(1300);
    ASSERT_GE(g_tones.size(), 1u);
    DWORD opened = Lid(1);
    Pump(1500);
    EXPECT_EQ(TonesAfter(opened), 0u);
}

TEST_F(LidAlarmTest, ZeroDelayRingsAlmostAtOnce) {
    StartWindow(2, 0);
    Lid(0);
    Pump(400);
    EXPECT_GE(g_tones.size(), 1u);
}

TEST_F(LidAlarmTest, OtherModesArmNothingWhenTheLidCloses) {
    for (int mode : {0, 1, 3}) {
        SCOPED_TRACE(mode);
        StartWindow(mode, 0);
        Lid(0);
        Pump(800);
        EXPECT_TRUE(g_tones.empty());
        DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        Pump(0);
    }
}

}  // namespace

namespace {

TEST(AlarmDelayMsTest, StoredSecondsBecomeMillisecondsCappedAtTheLongestTimer) {
    struct Case {
        DWORD stored;
        UINT expected;
        const char* shows;
    } cases[] = {
        {0, 0, "absent value: the platform raises 0 to its minimum"},
        {5, 5000, "lowest setting"},
        {60, 60000, "highest setting"},
        {2147483, 2147483000u, "largest exact product below the cap"},
        {2147484, USER_TIMER_MAXIMUM, "first product above the cap"},
        {4294968, USER_TIMER_MAXIMUM, "product that wraps to 704 ms in 32 bits"},
        {0x7FFFFFFF, USER_TIMER_MAXIMUM, "largest signed value"},
        {0xFFFFFFFF, USER_TIMER_MAXIMUM, "all bits set is not a negative delay"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlarmDelayMs(static_cast<int>(c.stored)), c.expected) << c.shows;
    }
}

TEST_F(LidAlarmTest, DelayWhoseProductWouldWrapDoesNotRingEarly) {
    StartWindow(2, 4294968);  // 4294968000 mod 2^32 = 704 ms
    Lid(0);
    Pump(1500);
    EXPECT_TRUE(g_tones.empty());
}

}  // namespace
