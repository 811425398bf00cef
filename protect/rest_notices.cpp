#include "protect/rest_notices.h"

#include "common/applied_setting.h"
#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/platform.h"
#include "protect/closure_record.h"
#include "protect/protection_host.h"
#include "protect/sleep_clock.h"

namespace {

constexpr int kNoticeChars = 256;  // a balloon's text
constexpr BYTE kUnknownPercent = 255;
// Battery percentages come in whole steps: a shorter standby tells nothing.
constexpr ULONGLONG kShortestJudgedStandbyMs = 10 * 60 * 1000;
// No battery loses more than 600 % an hour over a judged standby: higher alerts are none.
constexpr DWORD kHighestAlertPerHour = 1000;

// The first rest since anyone looked, and how many came after it.
wchar_t g_restNotice[kNoticeChars] = {};
int g_laterRests = 0;

// The start of the first standby since the last lid-open resume, on battery.
bool g_suspendNoted = false;
bool g_resumedSinceSuspend = false;
int g_suspendPercent = 0;
ClockStamp g_suspendedAt = {};

// -1 when on mains power or unknown.
int BatteryPercent() {
    SYSTEM_POWER_STATUS status = {};
    if (!g_platform.getSystemPowerStatus(&status) || status.ACLineStatus != 0 ||
        status.BatteryLifePercent == kUnknownPercent)
        return -1;
    return status.BatteryLifePercent;
}

void DrainNotice(wchar_t* text, int chars) {
    text[0] = L'\0';
    if (!g_suspendNoted || !g_resumedSinceSuspend) return;
    g_suspendNoted = false;
    int percent = BatteryPercent();
    if (percent < 0) return;
    ULONGLONG standbyMs = MsSince(g_suspendedAt);
    // The closure's record keeps every standby long enough to judge, alerted or not.
    if (standbyMs >= kShortestJudgedStandbyMs) NoteStandbyDrain(g_suspendPercent - percent, standbyMs);
    DWORD alert = 0;
    if (!ReadAppliedSettingDword(SettingId::StandbyDrainAlert, &alert, LocalRead::Quiet)) return;
    StandbyDrainText(g_suspendPercent, percent, standbyMs, alert, text, chars);
}

}  // namespace

void ClearRestNotices() {
    g_restNotice[0] = L'\0';
    g_laterRests = 0;
    g_suspendNoted = false;
    g_resumedSinceSuspend = false;
}

void NoteRest(RestKind kind, const wchar_t* firstCause) {
    if (g_restNotice[0]) {
        ++g_laterRests;
        return;
    }
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const wchar_t* done = kind == RestKind::Hibernate ? L"hibernated this laptop" : L"put this laptop to sleep";
    FormatBounded(g_restNotice, kNoticeChars, L"Kalnix %ls at %02u:%02u: it stayed awake with the lid closed%ls%ls",
                  done, static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute),
                  firstCause && firstCause[0] ? L"\n" : L"", firstCause ? firstCause : L"");
    g_laterRests = 0;
}

void WithdrawLastRest() {
    if (g_laterRests > 0) --g_laterRests;
    else g_restNotice[0] = L'\0';
}

bool NoteSuspend() {
    g_resumedSinceSuspend = false;
    if (g_suspendNoted) return false;
    int percent = BatteryPercent();
    if (percent < 0) return false;
    g_suspendNoted = true;
    g_suspendPercent = percent;
    g_suspendedAt = ClockNow();
    return true;
}

void ForgetSuspend() { g_suspendNoted = false; }

void NoteResume() { g_resumedSinceSuspend = true; }

void ShowRestNotices() {
    wchar_t drain[kNoticeChars];
    DrainNotice(drain, kNoticeChars);
    if (drain[0]) {
        LogMessage(drain);
        ReportKalnixEvent(KALNIX_EVENT_STANDBY_DRAIN, {drain});
    }
    if (!g_restNotice[0] && !drain[0]) return;
    wchar_t text[kNoticeChars];
    wchar_t again[64] = L"";
    if (g_laterRests == 1) FormatBounded(again, 64, L"\nIt did so once more since");
    else if (g_laterRests > 1) FormatBounded(again, 64, L"\nIt did so %d more times since", g_laterRests);
    FormatBounded(text, kNoticeChars, L"%ls%ls%ls%ls", g_restNotice, again, g_restNotice[0] && drain[0] ? L"\n" : L"",
                  drain);
    g_restNotice[0] = L'\0';
    g_laterRests = 0;
    if (g_protectionHost.showBalloon) g_protectionHost.showBalloon(text);
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
