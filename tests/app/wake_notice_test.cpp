// The note after a rest that names what woke the laptop, on the real tray window: only an
// administrator is offered to keep it from waking the laptop again, and selecting the note
// (not one that went) opens More settings, which lists it.
#include <gtest/gtest.h>

#include <string>

#include "protect/protection_state.h"
#include "support/dialog_catcher.h"
#include "tray_window_fixture.h"

namespace {

BOOL WINAPI MemberOnlyOfAdministrators(HANDLE token, PSID sid, PBOOL member) {
    *member = token == nullptr && IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    return TRUE;
}

using WakeNoticeTest = TrayWindowFixture;

TEST_F(WakeNoticeTest, OnlyAnAdministratorIsOfferedToKeepAWakeFromComingAgain) {
    HWND window = Create();
    MSG tick = {};
    ASSERT_TRUE(PeekMessageW(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    DispatchMessageW(&tick);  // the icon shows
    const std::wstring note = L"Kalnix put the laptop back to sleep at 03:14: it was woken at 03:12 by the device USB Root Hub";
    const std::wstring offer = note + L"\nSelect this notification to keep it from waking the laptop again.";
    const struct { bool administrator; UINT goneFirst; int dialogs; const std::wstring& shown; } rows[] = {
        {true, 0, 1, offer},
        {true, NIN_BALLOONTIMEOUT, 0, offer},
        {false, 0, 0, note},
    };
    ASSERT_NE(Host().showWakeNotice, nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.administrator << row.goneFirst);
        MembershipOverride check(row.administrator ? MemberOnlyOfAdministrators : NotAMember);
        shell_.Clear();
        Host().showWakeNotice(note.c_str());
        ASSERT_FALSE(shell_.Calls().empty());
        EXPECT_EQ(std::wstring(shell_.Calls().back().record.szInfo), row.shown);
        if (row.goneFirst) SendMessageW(window, kTrayCallbackMessage, 1, MAKELPARAM(row.goneFirst, 1));
        DialogCatcher dialogs;
        SendMessageW(window, kTrayCallbackMessage, 1, MAKELPARAM(NIN_BALLOONUSERCLICK, 1));
        EXPECT_EQ(dialogs.Count(), row.dialogs);
        EXPECT_EQ(dialogs.Caption(), row.dialogs ? L"More settings" : L"");
    }
}

}  // namespace
