// The protection in a host of the test's own, as a service hosts it: a window that hands every
// message to HandleProtectionMessage, the lid posted to it, the alarm's tones taken by the
// host, and the ways a host outside the user's session may lack (the display turned off) or
// hear elsewhere (a person's input).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protect/driver_contract.h"
#include "protect/protection_messages.h"
#include "protect/protection_run.h"
#include "protect/protection_settings.h"
#include "protect/standalone_host.h"
#include "support/display_fakes.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

constexpr ULONGLONG kAlarmMs = 15000;      // AlarmTime 15
constexpr ULONGLONG kRestAfterMs = 60000;  // RestAfter 60
constexpr ULONGLONG kDay = 86400000;

std::vector<DWORD> g_hostTones;
int g_displayOffAsked = 0;
int g_watchesAsked = 0;

void RecordTone(DWORD hz, DWORD) { g_hostTones.push_back(hz); }
bool NoDisplayReachable(HWND) { return ++g_displayOffAsked, false; }
bool WatchElsewhere(HWND) { return ++g_watchesAsked, true; }
void StopWatchElsewhere() {}

LRESULT CALLBACK HostWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleProtectionMessage(msg, wParam, lParam, &result)) return result;
    return DefWindowProcW(window, msg, wParam, lParam);
}

class ProtectionHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        SetSettingDword(L"RestAfter", 60);
        RemoveFile(LogPathBesideExecutable());
        ClearPowerStandin();  // every lid-close action reads as Sleep
        g_hostTones.clear();
        g_displayOffAsked = g_watchesAsked = 0;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KalnixProtectionHostTest";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"KalnixProtectionHostTest", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        host_ = StandaloneHost(window_);
        host_.startLidSource = nullptr;  // the lid is posted here
        host_.soundTone = RecordTone;
    }
    void TearDown() override {
        EndProtection();
        DestroyWindow(window_);
        DropMessages();
        RemoveFile(LogPathBesideExecutable());
    }
    // A run in the mode, AlarmTime 15; then the lid closed.
    void Start(int mode) {
        SetProtectionSettings(mode, 15);
        StartProtection(host_);
    }
    void StartClosed(int mode) {
        Start(mode);
        Lid(kLidClosed);
    }
    void Lid(WPARAM state) {
        PostMessageW(window_, kLidStateMessage, state, kLidChanged);
        PumpMessages();
    }
    void After(ULONGLONG ms, UINT_PTR timer) {
        rest_.Pass(ms);
        PostMessageW(window_, WM_TIMER, timer, 0);
        PumpMessages();
    }
    bool RingsOn() {
        size_t before = g_hostTones.size();
        After(600, kAlarmTimer);
        return g_hostTones.size() > before;
    }
    size_t LogCount(const std::string& line) {
        std::string log = ReadFileBytes(LogPathBesideExecutable());
        size_t n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    }
    HWND window_ = nullptr;
    ProtectionHost host_ = {};
    RestStandin rest_;
    PresenceStandin presence_;
    DisplayLayout displays_;  // the panel off with the lid closed, nothing else in use
};

// A service with no face in the console session cannot turn the display off: the way is
// passed over, said once a closure, and the alarm rings on where nothing else could rest.
TEST_F(ProtectionHostTest, ADisplayOffTheHostCannotMakeMovesOnToTheNextWayOrRingsOn) {
    using R = RestRequest;
    const std::string unavailable =
        "Can't turn the display off for Modern Standby: the laptop's display cannot be reached\r\n";
    host_.requestDisplayOff = NoDisplayReachable;
    const struct {
        const char* shows;
        int mode;
        bool hibernation;
        std::vector<RestRequest> requests;
        bool ringsOn;
    } cases[] = {
        {"lid alarm, Modern Standby only", 2, false, {}, true},
        {"automatic protection, hibernation refused first", 1, true, {R::Hibernate}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shows);
        rest_.Machine(false, c.hibernation, true);
        rest_.Refuse(R::Hibernate, ERROR_ACCESS_DENIED);
        Start(c.mode);
        for (int closure = 1; closure <= 2; ++closure) {
            Lid(kLidClosed);
            After(kAlarmMs, c.mode == 2 ? kAlarmTimer : kRestTimer);
            After(kRestAfterMs, kRestTimer);
            EXPECT_EQ(g_displayOffAsked, closure);
            EXPECT_EQ(rest_.Requests(), c.requests) << "nothing reached the seam's display";
            EXPECT_EQ(RingsOn(), c.ringsOn);
            After(kDay, kRestTimer);
            EXPECT_EQ(g_displayOffAsked, closure) << "not tried again in the closure";
            EXPECT_EQ(LogCount(unavailable), static_cast<size_t>(closure)) << "once a closure";
            Lid(kLidOpen);
            rest_.ClearRequests();
        }
        EndProtection();
        EndProtection();
        size_t tones = g_hostTones.size();
        PostMessageW(window_, kLidStateMessage, kLidClosed, kLidChanged);
        After(kDay, kAlarmTimer);
        EXPECT_EQ(g_hostTones.size(), tones) << "nothing after the run's end";
        g_displayOffAsked = 0;
        RemoveFile(LogPathBesideExecutable());
    }
}

// A host whose console face watches the keyboard and mouse reports a person's input: the
// alarm stops and the rest waits for RestAfter of quiet, exactly as after raw input.
TEST_F(ProtectionHostTest, AReportedPersonsInputPostponesTheRestAsRawInputDoes) {
    for (bool reported : {false, true}) {
        SCOPED_TRACE(reported ? "reported by the host" : "raw input on the window");
        if (reported) {
            host_.startInputWatch = WatchElsewhere;
            host_.stopInputWatch = StopWatchElsewhere;
        }
        auto personInput = [&] {
            if (reported) NoteReportedPersonInput();
            else presence_.Input(window_, true);
        };
        StartClosed(2);
        After(kAlarmMs, kAlarmTimer);
        ASSERT_TRUE(RingsOn());
        personInput();
        EXPECT_FALSE(RingsOn()) << "the alarm stopped";
        Lid(kLidOpen);
        EndProtection();

        StartClosed(1);
        After(kAlarmMs, kRestTimer);
        rest_.Pass(50000);
        personInput();
        After(10000, kRestTimer);
        After(49000, kRestTimer);
        EXPECT_TRUE(rest_.Requests().empty());
        After(1000, kRestTimer);
        EXPECT_EQ(rest_.Requests().size(), 1u) << "RestAfter of quiet";
        EXPECT_EQ(g_watchesAsked, reported ? 2 : 0);
        Lid(kLidOpen);
        EndProtection();
        rest_.ClearRequests();
    }
}

}  // namespace
