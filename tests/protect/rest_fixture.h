#pragma once

// The real tray window with the seam's clocks, rest calls and presence (Wine neither sleeps nor
// hibernates, has one session and injects no input): the closed laptop nobody is at.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alarm_fixture.h"
#include "common/hibernate_timeout.h"
#include "protect/protection_messages.h"
#include "protect/user_hold.h"
#include "support/event_recorder.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/power_standin.h"
#include "support/test_support.h"

constexpr ULONGLONG kAlarmMs = 15000;      // AlarmTime 15
constexpr ULONGLONG kRestAfterMs = 60000;  // RestAfter 60 as installed
constexpr ULONGLONG kDay = 86400000;

class RestTest : public PowerReportTest {
protected:
    void SetUp() override {
        PowerReportTest::SetUp();
        shell_.reset(new ShellRecorder);  // after the base's own icon stand-in
        for (bool onBattery : {false, true})  // Windows' unattended sleep: 2 minutes, its default
            PresetSchemeSetting(kBalancedScheme, kSleepSubgroup, kUnattendedSleep, onBattery, 120);
    }
    // The lid alarm or automatic protection, AlarmTime 15 and RestAfter as given; the lid and
    // the display reported at start, then the lid closed.
    void StartClosed(int mode, DWORD restAfter = 60) {
        SetSettingDword(L"RestAfter", restAfter);
        StartWithoutDriver(mode, 15);
        DisplayReport(1);
        LidReport(1);
        LidReport(0);
    }
    // Windows' word of a wake: an unattended one, then the user's where someone is there.
    void Resume(bool withUser) {
        Power(PBT_APMRESUMEAUTOMATIC);
        if (withUser) Power(PBT_APMRESUMESUSPEND);
    }
    // The displays settled since the resume or the change: the hold is decided.
    void Settle() { After(kHoldSettleMs, kHoldSettleTimer); }
    // The power source as Windows reports it: 0 mains, 1 battery (with the battery's charge).
    void PowerSource(DWORD source) {
        rest_.Battery(source == 1 ? 80 : -1);
        POWERBROADCAST_SETTING report = {kPowerSource, sizeof(DWORD), {0}};
        memcpy(report.Data, &source, sizeof(source));
        SendMessageW(g_trayWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&report));
    }
    // Nothing rings and nothing rests, however long the lid stays closed.
    bool QuietForADay() {
        size_t tones = g_tones.size();
        size_t rests = rest_.Requests().size();
        After(kDay, kAlarmTimer);
        After(kDay, kRestTimer);
        After(0, kAlarmTimer);
        return g_tones.size() == tones && rest_.Requests().size() == rests;
    }
    // Closed, then ringing: the first tone.
    void StartRinging(DWORD restAfter = 60) {
        StartClosed(2, restAfter);
        After(kAlarmMs, kAlarmTimer);
        ASSERT_EQ(g_tones.size(), 1u);
    }
    // The wake report's event comes from its worker thread.
    std::vector<RecordedEvent> WaitForEvent(DWORD id) {
        for (int i = 0; i < 100 && events_.WithId(id).empty(); ++i) PumpMessagesFor(50);
        return events_.WithId(id);
    }
    std::vector<std::wstring> Inserts(DWORD id, size_t which) {
        std::vector<std::wstring> values;
        for (const RecordedEvent& event : events_.WithId(id)) values.push_back(event.inserts.at(which));
        return values;
    }
    void Restart() {
        EndWindow();
        events_.Clear();
        g_tones.clear();
        rest_.ClearRequests();
    }
    std::vector<std::wstring> Balloons() {
        std::vector<std::wstring> texts;
        for (const ShellCall& call : shell_->Calls())
            if (call.message == NIM_MODIFY && (call.record.uFlags & NIF_INFO)) texts.push_back(call.record.szInfo);
        return texts;
    }
    std::vector<DWORD> EventIds() {
        std::vector<DWORD> ids;
        for (const RecordedEvent& event : events_.Events()) ids.push_back(event.id & 0xFFFF);
        return ids;
    }
    using R = RestRequest;
    RestStandin& rest_ = SeamClock();
    PresenceStandin presence_;
    EventRecorder events_;
    std::unique_ptr<ShellRecorder> shell_;
};

