#include "dialog_driver.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/more_settings_dialog.h"
#include "app/settings_dialog.h"
#include "app/settings_effect.h"
#include "res/resource.h"
#include "support/test_support.h"

// The dialogs of Kalnix beside the protection service, for a user whose token holds no
// administrator's rights: they show the values, and OK carries the shield and asks Windows to
// start Kalnix's own dialog with an administrator's rights. Wine runs everyone as a full
// administrator and asks nobody: the token's answer and the start are the seam's.

namespace {

struct Start {
    HWND owner;
    std::wstring verb, file, parameters;
};
std::vector<Start> g_starts;
using Shields = std::vector<std::pair<int, LPARAM>>;  // (control id, on) of each BCM_SETSHIELD
Shields g_shields;

TOKEN_ELEVATION_TYPE g_elevationType = TokenElevationTypeDefault;

BOOL WINAPI TokenAnswer(HANDLE, TOKEN_INFORMATION_CLASS kind, void* value, DWORD, DWORD*) {
    if (kind == TokenElevation) {
        static_cast<TOKEN_ELEVATION*>(value)->TokenIsElevated = g_elevationType == TokenElevationTypeFull;
        return TRUE;
    }
    if (kind == TokenElevationType) {
        *static_cast<TOKEN_ELEVATION_TYPE*>(value) = g_elevationType;
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI RecordStart(SHELLEXECUTEINFOW* start) {
    g_starts.push_back({start->hwnd, start->lpVerb ? start->lpVerb : L"", start->lpFile ? start->lpFile : L"",
                        start->lpParameters ? start->lpParameters : L""});
    return TRUE;
}

LRESULT CALLBACK SeeShield(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == BCM_SETSHIELD) g_shields.push_back({GetDlgCtrlID(sent->hwnd), sent->lParam});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class ElevationTest : public DialogTest {
protected:
    void TearDown() override {
        SetProtectionElsewhere(false);
        DialogTest::TearDown();
    }
    PlatformScope platform_;
};

TEST_F(ElevationTest, BesideTheServiceOnlyAnElevatedDialogWritesAndTheOthersAskForAnAdministrator) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const struct {
        const char* shows;
        TOKEN_ELEVATION_TYPE token;
        bool asks;
    } rows[] = {
        {"a standard user's face", TokenElevationTypeDefault, true},
        {"an administrator's face, limited by User Account Control", TokenElevationTypeLimited, true},
        {"the elevated dialog", TokenElevationTypeFull, false},
    };
    const struct {
        const wchar_t* caption;
        const wchar_t* switchText;
        const wchar_t* changed;
        void (*open)();
        void (*change)(HWND dialog);
    } dialogs[] = {
        {L"Settings", L"-settings", L"Action",
         [] { DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDialogProc, 0); },
         [](HWND dialog) {
             SendDlgItemMessageW(dialog, IDC_LID_ALARM, BM_CLICK, 0, 0);
             SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"20");
         }},
        {L"More settings", L"-moresettings", L"AlarmWithExternalDisplay", [] { ShowMoreSettingsDialog(nullptr); },
         [](HWND dialog) { SendDlgItemMessageW(dialog, IDC_ALARM_WITH_EXTERNAL, BM_CLICK, 0, 0); }},
    };
    g_sessionSeam.getTokenInformation = TokenAnswer;
    g_shellSeam.shellExecuteEx = RecordStart;
    for (const auto& row : rows) {
        for (const auto& dialog : dialogs) {
            SCOPED_TRACE(std::string(row.shows) + ", " + testing::PrintToString(std::wstring(dialog.caption)));
            // The process's settings key stays open: only the value is removed.
            DeleteSettingValue(dialog.changed);
            SetProtectionElsewhere(true);
            g_elevationType = row.token;
            g_starts.clear();
            g_shields.clear();
            HWND shown = nullptr;
            HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, SeeShield, nullptr, GetCurrentThreadId());
            ASSERT_NE(hook, nullptr);
            DriveModal(dialog.open, [&] {
                shown = WaitForDialog(dialog.caption, nullptr);
                ASSERT_NE(shown, nullptr);
                dialog.change(shown);
                PostClick(shown, IDOK);
                EXPECT_TRUE(WaitUntilGone(shown));
            });
            UnhookWindowsHookEx(hook);
            EXPECT_EQ(g_shields, row.asks ? Shields({{IDOK, TRUE}}) : Shields());
            EXPECT_EQ(SettingExists(dialog.changed), !row.asks) << "the settings key is the administrator's";
            ASSERT_EQ(g_starts.size(), row.asks ? 1u : 0u);
            if (row.asks) {
                EXPECT_EQ(g_starts[0].owner, shown);
                EXPECT_EQ(g_starts[0].verb, L"runas");
                EXPECT_EQ(g_starts[0].file, self);
                EXPECT_EQ(g_starts[0].parameters, dialog.switchText);
            }
        }
    }
}

}  // namespace
