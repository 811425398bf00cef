// What woke the closed laptop, found after the wake and told: the log, the event, the note
// after Kalnix's rest and the closure's line. The real tray window with the seam's clocks; the
// System log answers nothing (Wine's keeps no power events), so the power tool's last-wake
// output names it, a posted one printed by a real process in the tool's place.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "app/app_state.h"
#include "common/seam_events.h"
#include "common/seam_power.h"
#include "protect/protection_messages.h"
#include "protect/wake_finding.h"
#include "rest_fixture.h"

namespace {

std::wstring g_lastWakeCommandLine;

DWORD WINAPI NoSystemEvents(const wchar_t*, DWORD, wchar_t* xml, DWORD chars) {
    if (chars < 1) return ERROR_INSUFFICIENT_BUFFER;
    xml[0] = L'\0';
    return ERROR_SUCCESS;
}

// The wake report's own requests go to the system's tool as ever.
BOOL WINAPI PrintPostedLastWake(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                                LPPROCESS_INFORMATION process) {
    if (!commandLine || !wcsstr(commandLine, L"/lastwake"))
        return CreateProcessW(application, commandLine, nullptr, nullptr, inherit, flags, nullptr, nullptr, startup,
                              process);
    g_lastWakeCommandLine = commandLine;
    wchar_t interpreter[MAX_PATH];
    GetSystemDirectoryW(interpreter, MAX_PATH);
    wcscat(interpreter, L"\\cmd.exe");
    std::wstring typed = L"cmd.exe /c type \"" + std::wstring(KALNIX_SOURCE_DIR_W) +
                         L"\\tests\\data\\wake\\lastwake-usb-root-hub.txt\"";
    return CreateProcessW(interpreter, &typed[0], nullptr, nullptr, inherit, flags, nullptr, nullptr, startup, process);
}

// "03:12" in a text made at the test's own local time, as "hh:mm".
std::wstring MaskedTimes(std::wstring text) {
    for (size_t at = 0; at + 5 <= text.size(); ++at) {
        if (iswdigit(text[at]) && iswdigit(text[at + 1]) && text[at + 2] == L':' && iswdigit(text[at + 3]) &&
            iswdigit(text[at + 4]))
            text.replace(at, 5, L"hh:mm");
    }
    return text;
}

std::wstring NewestClosure() {
    wchar_t data[8192] = {};
    DWORD size = sizeof(data) - 2 * sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", L"LidClosures", RRF_RT_REG_MULTI_SZ, nullptr, data, &size);
    std::wstring line = data;
    return line.size() > 18 ? MaskedTimes(line.substr(18)) : line;
}

TEST_F(RestTest, AWakeInTheBagIsNamedInTheLogTheEventTheNoteAfterTheRestAndTheClosuresLine) {
    g_eventSeam.querySystemEvents = NoSystemEvents;
    g_powerSeam.createProcess = PrintPostedLastWake;
    g_lastWakeCommandLine.clear();
    LidCloseDoesNothing();
    rest_.Battery(80);
    StartClosed(2);
    rest_.Pass(8000);
    Power(PBT_APMSUSPEND);
    rest_.Sleep(3600000);

    // Woken in the bag: the records are asked for once Windows has written them.
    Power(PBT_APMRESUMEAUTOMATIC);
    After(kWakeRecordsDelayMs - 1, kWakeSourceTimer);
    PumpMessagesFor(100);
    EXPECT_TRUE(events_.WithId(1204).empty()) << "not before the records are written";
    After(1, kWakeSourceTimer);
    ASSERT_EQ(WaitForEvent(1204).size(), 1u);
    EXPECT_EQ(Inserts(1204, 0), std::vector<std::wstring>{L"the device USB Root Hub"});
    EXPECT_NE(g_lastWakeCommandLine.find(L"\\powercfg.exe\" /lastwake"), std::wstring::npos) << g_lastWakeCommandLine;
    EXPECT_NE(ReadFileBytes(LogPathBesideExecutable())
                  .find(" with the lid closed by the device USB Root Hub (powercfg /lastwake)\r\n"),
              std::string::npos);

    // Nobody hears the alarm after Windows' own unattended sleep did not come: Kalnix rests it.
    After(120000 + 30000, kAlarmTimer);
    ASSERT_EQ(WaitForEvent(1100).size(), 1u) << "the wake report's causes";
    After(kRestAfterMs, kRestTimer);
    ASSERT_EQ(rest_.Requests(), std::vector<RestRequest>{R::Sleep});
    shell_->Clear();
    Power(PBT_APMRESUMEAUTOMATIC);
    LidReport(1);  // the lid's state asked for after Kalnix's rest: opened
    const std::vector<std::wstring> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(MaskedTimes(balloons[0]),
              L"Kalnix put the laptop back to sleep at hh:mm: it was woken at hh:mm by the device USB Root Hub\n"
              L"Lid-close action on battery is Do nothing\n"
              L"Select this notification to keep it from waking the laptop again.")
        << "an administrator is offered the action";
    EXPECT_EQ(NewestClosure(), L"Put to rest by Kalnix (sleep) after 228 s: Lid-close action on battery is Do "
                               L"nothing; woken at hh:mm by the device USB Root Hub; the standby used 0% in 1 h 04 min");
}

}  // namespace
