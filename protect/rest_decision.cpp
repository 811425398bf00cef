#include "protect/rest_decision.h"

#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/event_report.h"
#include "common/lid_close_action.h"
#include "common/seam_power.h"
#include "common/seam_sound.h"
#include "protect/protection_settings.h"

namespace {

constexpr DWORD kShortestQuietSeconds = 30;

bool OnBattery() {
    SYSTEM_POWER_STATUS status = {};
    return g_powerSeam.getSystemPowerStatus(&status) && status.ACLineStatus == 0;
}

}  // namespace

const wchar_t* RestKindText(RestKind kind) {
    switch (kind) {
    case RestKind::Hibernate: return L"hibernation";
    case RestKind::Sleep: return L"sleep";
    case RestKind::DisplayOff: return L"display off for Modern Standby";
    default: return L"none";
    }
}

RestWays ChooseRestWays(const SleepCapabilities& machine) {
    RestWays ways = {};
    if (machine.hibernation) ways.kinds[ways.count++] = RestKind::Hibernate;
    // Windows does not use an S3 reported beside Modern Standby.
    if (machine.sleepS3 && !machine.modernStandby) ways.kinds[ways.count++] = RestKind::Sleep;
    if (machine.modernStandby) ways.kinds[ways.count++] = RestKind::DisplayOff;
    return ways;
}

UINT RestDelayMs(const RestSituation& s) {
    if (s.restAfterSeconds == 0 || s.heldForUser) return 0;
    if (s.mode != kModeLidAlarm && s.mode != kModeAutoProtection) return 0;
    // Docked, used closed, or not known: someone may be working at that display.
    if (s.displays != Displays::LaptopOnly && !s.alarmWithExternalDisplay) return 0;
    // A laptop run closed on mains with Do nothing is meant to stay awake; on battery the same
    // action is what keeps a laptop in a bag awake.
    if (!s.onBattery && s.lidCloseDoesNothing) return 0;
    if (s.mode == kModeLidAlarm) return SecondsToTimerMs(s.alarmSilent ? s.alarmSeconds : s.restAfterSeconds);
    return SecondsToTimerMs(static_cast<ULONGLONG>(s.alarmSeconds) + s.restAfterSeconds);
}

RestDecision DecideRest(const RestSituation& s) {
    if (RestDelayMs(s) == 0) return {RestVerdict::Never, 0};
    if (!s.consoleSession) return {RestVerdict::NotFromThisSession, 0};
    DWORD quietSeconds = s.restAfterSeconds > kShortestQuietSeconds ? s.restAfterSeconds : kShortestQuietSeconds;
    UINT quietMs = SecondsToTimerMs(quietSeconds);
    if (s.msSinceInput < quietMs) return {RestVerdict::WaitForQuiet, static_cast<UINT>(quietMs - s.msSinceInput)};
    return {RestVerdict::Rest, 0};
}

RestSituation CurrentRestSituation(int mode, int alarmSeconds, bool alarmSilent, bool heldForUser, Displays displays,
                                   const PresenceSeen& presence) {
    RestSituation s = {};
    s.mode = mode;
    s.alarmSeconds = static_cast<DWORD>(alarmSeconds);
    s.alarmSilent = alarmSilent;
    s.heldForUser = heldForUser;
    s.displays = displays;
    s.consoleSession = presence.consoleSession;
    s.msSinceInput = presence.msSinceInput;
    DWORD value = 0;
    if (ReadAppliedSettingDword(SettingId::RestAfter, &value, LocalRead::Quiet)) s.restAfterSeconds = value;
    value = 0;
    s.alarmWithExternalDisplay =
        ReadAppliedSettingDword(SettingId::AlarmWithExternalDisplay, &value, LocalRead::Quiet) && value == 1;
    if (s.restAfterSeconds == 0) return s;  // nothing else matters: spare the queries
    DWORD action = kLidCloseSleep;
    const wchar_t* failedCall = nullptr;
    s.onBattery = OnBattery();
    // Unreadable counts as a sleep expected, as for the alarm.
    s.lidCloseDoesNothing =
        ReadLidCloseAction(s.onBattery, &action, &failedCall) == ERROR_SUCCESS && action == kLidCloseDoNothing;
    return s;
}

bool RestIsOff() {
    DWORD value = 0;
    return !ReadAppliedSettingDword(SettingId::RestAfter, &value, LocalRead::Quiet) || value == 0;
}

bool AlarmIsSilent() {
    BOOL muted = FALSE;
    float volume = 1.0f;
    HRESULT result = g_soundSeam.readSoundOutput(&muted, &volume);
    if (result == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) {
        LogMessage(L"The alarm is silent: no sound device");
        ReportKalnixEvent(KALNIX_EVENT_ALARM_SILENT, {L"no sound device"});
        return true;
    }
    if (FAILED(result)) {
        LogFormatted(L"Sound output unreadable: 0x%08lX\n", static_cast<unsigned long>(result));
        return false;
    }
    if (!muted && volume > 0.0f) return false;
    LogMessage(L"The alarm is silent: sound is muted");
    ReportKalnixEvent(KALNIX_EVENT_ALARM_SILENT, {L"sound is muted"});
    return true;
}
