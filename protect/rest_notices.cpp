#include "protect/rest_notices.h"

#include "common/applied_setting.h"
#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/seam_power.h"
#include "protect/closure_record.h"
#include "protect/protection_state.h"
#include "protect/sleep_clock.h"
#include "protect/wake_finding.h"

namespace {

constexpr BYTE kUnknownPercent = 255;
// Battery percentages come in whole steps: a shorter standby tells nothing.
constexpr ULONGLONG kShortestJudgedStandbyMs = 10 * 60 * 1000;
// No battery loses more than 600 % an hour over a judged standby: higher alerts are none.
constexpr DWORD kHighestAlertPerHour = 1000;

NoticeState& Notices() { return g_protection.run.notices; }

// -1 when on mains power or unknown.
int BatteryPercent() {
    SYSTEM_POWER_STATUS status = {};
    if (!g_powerSeam.getSystemPowerStatus(&status) || status.ACLineStatus != 0 ||
        status.BatteryLifePercent == kUnknownPercent)
        return -1;
    return status.BatteryLifePercent;
}

void DrainNotice(wchar_t* text, int chars) {
    text[0] = L'\0';
    if (!Notices().suspendNoted || !Notices().resumedSinceSuspend) return;
    Notices().suspendNoted = false;
    int percent = BatteryPercent();
    if (percent < 0) return;
    ULONGLONG standbyMs = MsSince(Notices().suspendedAt);
    // The closure's record keeps every standby long enough to judge, alerted or not.
    if (standbyMs >= kShortestJudgedStandbyMs) NoteStandbyDrain(Notices().suspendPercent - percent, standbyMs);
    DWORD alert = 0;
    if (!ReadAppliedSettingDword(SettingId::StandbyDrainAlert, &alert, LocalRead::Quiet)) return;
    StandbyDrainText(Notices().suspendPercent, percent, standbyMs, alert, text, chars);
}

}  // namespace

// What woke the laptop, in the note: cut so that the first cause and the action an
// administrator may take still fit the balloon.
constexpr int kNoticeWakeChars = 96;

void NoteRest(RestKind kind, const wchar_t* firstCause) {
    if (Notices().restNotice[0]) {
        ++Notices().laterRests;
        return;
    }
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const wchar_t* cause = firstCause ? firstCause : L"";
    const wchar_t* separator = cause[0] ? L"\n" : L"";
    WORD hour = 0, minute = 0;
    const wchar_t* source = L"";
    bool preventable = false;
    wchar_t* notice = Notices().restNotice;
    if (LastClosedWake(&hour, &minute, &source, &preventable)) {
        // Woken with the lid closed, and put back to rest: what woke it is what to stop.
        const wchar_t* done = kind == RestKind::Hibernate ? L"hibernated the laptop" : L"put the laptop back to sleep";
        wchar_t by[kNoticeWakeChars + 8] = L"";
        if (source[0]) FormatBounded(by, kNoticeWakeChars + 8, L" by %.*ls", kNoticeWakeChars, source);
        FormatBounded(notice, kNoticeChars, L"Kalnix %ls at %02u:%02u: it was woken at %02u:%02u%ls%ls%ls", done,
                      static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute),
                      static_cast<unsigned>(hour), static_cast<unsigned>(minute),
                      source[0] ? by : L" with the lid closed", separator, cause);
    } else {
        const wchar_t* done = kind == RestKind::Hibernate ? L"hibernated this laptop" : L"put this laptop to sleep";
        FormatBounded(notice, kNoticeChars, L"Kalnix %ls at %02u:%02u: it stayed awake with the lid closed%ls%ls", done,
                      static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute), separator, cause);
    }
    Notices().restNoticePreventable = preventable;
    Notices().laterRests = 0;
}

void WithdrawLastRest() {
    if (Notices().laterRests > 0) {
        --Notices().laterRests;
        return;
    }
    Notices().restNotice[0] = L'\0';
    Notices().restNoticePreventable = false;
}

bool NoteSuspend() {
    Notices().resumedSinceSuspend = false;
    if (Notices().suspendNoted) return false;
    int percent = BatteryPercent();
    if (percent < 0) return false;
    Notices().suspendNoted = true;
    Notices().suspendPercent = percent;
    Notices().suspendedAt = ClockNow();
    return true;
}

void ForgetSuspend() { Notices().suspendNoted = false; }

void NoteResume() { Notices().resumedSinceSuspend = true; }

void ShowRestNotices() {
    wchar_t drain[kNoticeChars];
    DrainNotice(drain, kNoticeChars);
    if (drain[0]) {
        LogMessage(drain);
        ReportKalnixEvent(KALNIX_EVENT_STANDBY_DRAIN, {drain});
    }
    if (!Notices().restNotice[0] && !drain[0]) return;
    wchar_t text[kNoticeChars];
    wchar_t again[64] = L"";
    if (Notices().laterRests == 1) FormatBounded(again, 64, L"\nIt did so once more since");
    else if (Notices().laterRests > 1) FormatBounded(again, 64, L"\nIt did so %d more times since", Notices().laterRests);
    FormatBounded(text, kNoticeChars, L"%ls%ls%ls%ls", Notices().restNotice, again, Notices().restNotice[0] && drain[0] ? L"\n" : L"",
                  drain);
    bool preventable = Notices().restNotice[0] && Notices().restNoticePreventable;
    Notices().restNotice[0] = L'\0';
    Notices().restNoticePreventable = false;
    Notices().laterRests = 0;
    // An administrator may keep what woke the laptop from waking it again: the host offers it.
    if (preventable && Host().showWakeNotice) Host().showWakeNotice(text);
    else if (Host().showBalloon) Host().showBalloon(text);
}

bool StandbyDrainText(int percentBefore, int percentAfter, ULONGLONG elapsedMs, DWORD alertPerHour, wchar_t* text,
                      int chars) {
    if (alertPerHour == 0 || alertPerHour >= kHighestAlertPerHour || elapsedMs < kShortestJudgedStandbyMs) return false;
    if (percentAfter >= percentBefore) return false;
    ULONGLONG lost = static_cast<ULONGLONG>(percentBefore - percentAfter);  // 1 to 100
    // Lost per hour above the alert, in whole numbers: lost * 1 h > alert * elapsed.
    if (lost * 3600000u <= static_cast<ULONGLONG>(alertPerHour) * elapsedMs) return false;
    ULONGLONG minutes = elapsedMs / 60000u;
    ULONGLONG hours = minutes / 60u;
    unsigned perHour = static_cast<unsigned>((lost * 3600000u + elapsedMs / 2) / elapsedMs);  // at most 600
    FormatBounded(text, chars, L"The battery lost %u%% in %u h %02u min of standby (%u%% an hour)",
                  static_cast<unsigned>(lost), hours > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(hours),
                  static_cast<unsigned>(minutes % 60u), perHour);
    return true;
}
