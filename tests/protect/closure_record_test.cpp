// What Kalnix did: one line per lid closure in the settings key, newest first, written when
// the lid opens. The real tray window, with the seam's clocks and rest calls.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/lid_close_action.h"
#include "protect/protection_messages.h"
#include "rest_fixture.h"

namespace {

// The record's lines, each checked for its local time stamp ("2025-03-04 10:15  ") and given
// without it; the local time of a wake reads "hh:mm".
std::vector<std::wstring> Recorded() {
    std::vector<std::wstring> outcomes;
    wchar_t data[8192] = {};
    DWORD size = sizeof(data) - 2 * sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", L"LidClosures", RRF_RT_REG_MULTI_SZ, nullptr, data,
                     &size) != ERROR_SUCCESS)
        return outcomes;
    for (const wchar_t* line = data; *line; line += wcslen(line) + 1) {
        std::wstring text = line;
        const std::wstring shape = L"0000-00-00 00:00  ";
        bool stamped = text.size() > shape.size();
        for (size_t i = 0; stamped && i < shape.size(); ++i)
            stamped = shape[i] == L'0' ? std::iswdigit(text[i]) != 0 : text[i] == shape[i];
        EXPECT_TRUE(stamped) << testing::PrintToString(text);
        std::wstring outcome = stamped ? text.substr(shape.size()) : text;
        const std::wstring woken = L"woken at ";
        size_t at = outcome.find(woken);
        if (at != std::wstring::npos && at + woken.size() + 5 <= outcome.size())
            outcome.replace(at + woken.size(), 5, L"hh:mm");
        outcomes.push_back(outcome);
    }
    return outcomes;
}

using Lines = std::vector<std::wstring>;

TEST_F(RestTest, EachClosureIsRecordedWhenTheLidOpensWithWhatCameOfIt) {
    ClearPowerStandin();
    // What the wake report finds when the laptop runs on battery.
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    rest_.Machine(true, false, false);
    StartClosed(2);
    rest_.Pass(5000);
    EXPECT_TRUE(Recorded().empty()) << "nothing while the lid is closed";
    LidReport(1);
    EXPECT_EQ(Recorded(), Lines{L"Opened after 5 s, still awake"});

    LidReport(0);
    After(kAlarmMs, kAlarmTimer);  // the first tone
    ASSERT_EQ(WaitForEvent(1100).size(), 1u) << "its wake report is done";
    rest_.Pass(12000);
    EXPECT_EQ(Recorded().size(), 1u) << "nothing while the alarm rings";
    LidReport(1);
    EXPECT_EQ(Recorded()[0], L"The alarm rang for 12 s and was heard");

    // Windows puts it to sleep; on battery, a standby long enough to judge shows what it used.
    rest_.Battery(80);
    LidReport(0);
    rest_.Pass(8000);
    Power(PBT_APMSUSPEND);
    rest_.Sleep(65 * 60000);
    rest_.Battery(70);
    Power(PBT_APMRESUMEAUTOMATIC);
    LidReport(1);
    EXPECT_EQ(Recorded()[0], L"Slept after 8 s; woken at hh:mm; the standby used 10% in 1 h 05 min");

    // Nobody hears the alarm: Kalnix puts the laptop to rest, and says what kept it awake.
    events_.Clear();
    LidReport(0);
    After(kAlarmMs, kAlarmTimer);
    ASSERT_EQ(WaitForEvent(1100).size(), 1u) << "the causes found";
    After(kRestAfterMs, kRestTimer);
    ASSERT_EQ(rest_.Requests(), std::vector<RestRequest>{R::Sleep});
    LidReport(1);  // the lid's state asked for after the wake: opened
    EXPECT_EQ(Recorded(), (Lines{L"Put to rest by Kalnix (sleep) after 75 s: Lid-close action on battery is Do nothing",
                                 L"Slept after 8 s; woken at hh:mm; the standby used 10% in 1 h 05 min",
                                 L"The alarm rang for 12 s and was heard", L"Opened after 5 s, still awake"}));

    // A standby Kalnix slept through without a word from Windows is a sleep all the same.
    LidReport(0);
    rest_.Pass(3000);
    rest_.Sleep(600000);
    LidReport(1);
    EXPECT_EQ(Recorded()[0], L"Slept, awake 3 s in all");
    ClearPowerStandin();
}

TEST_F(RestTest, TheRecordKeepsTheNewestTwentyAndNothingOfAClosureThatDidNotEnd) {
    StartClosed(2);
    for (int seconds = 1; seconds <= 22; ++seconds) {
        if (seconds > 1) LidReport(0);
        rest_.Pass(seconds * 1000);
        LidReport(1);
    }
    Lines expected;
    for (int seconds = 22; seconds >= 3; --seconds)
        expected.push_back(L"Opened after " + std::to_wstring(seconds) + L" s, still awake");
    EXPECT_EQ(Recorded(), expected);

    LidReport(0);
    rest_.Pass(30000);
    EndWindow();  // Kalnix ends with the lid closed
    EXPECT_EQ(Recorded(), expected);
}

}  // namespace
