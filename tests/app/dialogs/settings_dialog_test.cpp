#include "dialog_driver.h"

#include "app/app_state.h"
#include "app/settings_dialog.h"
#include "common/power_guard.h"
#include "protect/driver_contract.h"
#include "protect/protection_modes.h"
#include "protect/protection_state.h"
#include "res/resource.h"
#include "support/lid_driver.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

class SettingsDialogTest : public DialogTest {
protected:
    // Starts from a stored and active mode and delay.
    void Preset(int mode, int delay) {
        SetProtectionSettings(mode, delay);
        SetSettingDword(L"Action", mode);
        SetSettingDword(L"AlarmTime", delay);
    }
    void Run(const std::function<void(HWND)>& script) {
        INT_PTR result = -1;
        DriveModal([&] {
            result = DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDialogProc, 0);
        }, [&] {
            HWND dialog = WaitForDialog(L"Settings", nullptr);
            ASSERT_NE(dialog, nullptr);
            script(dialog);
        });
        EXPECT_EQ(result, 0);
    }
};

bool Checked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
bool EditEnabled(HWND dialog) { return IsWindowEnabled(GetDlgItem(dialog, IDC_ALARM_SECONDS)) != FALSE; }
bool UnitEnabled(HWND dialog) { return IsWindowEnabled(GetDlgItem(dialog, IDC_ALARM_SECONDS_UNIT)) != FALSE; }
std::wstring EditText(HWND dialog) { return TextOf(GetDlgItem(dialog, IDC_ALARM_SECONDS)); }
void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }

TEST_F(SettingsDialogTest, OpensShowingTheModeAndDelayAndCancelStoresNothing) {
    struct Case { int mode, delay; bool autoChecked, alarmChecked, editEnabled; const wchar_t* text; };
    const Case cases[] = {
        {1, 30, true, false, false, L"30"},
        {2, 45, false, true, true, L"45"},
        {0, 0, false, false, true, L"0"},
        {7, 123, false, false, true, L"123"},  // shown as stored; only typing is limited
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ResetSettingsKey();
        SetProtectionSettings(c.mode, c.delay);
        Run([&](HWND dialog) {
            EXPECT_EQ(Checked(dialog, IDC_AUTO_PROTECT), c.autoChecked);
            EXPECT_EQ(Checked(dialog, IDC_LID_ALARM), c.alarmChecked);
            EXPECT_EQ(EditEnabled(dialog), c.editEnabled);
            EXPECT_EQ(EditText(dialog), c.text);
            EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ALARM_SECONDS, EM_GETLIMITTEXT, 0, 0), 2);
            PostClick(dialog, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        EXPECT_FALSE(SettingExists(L"Action"));
        EXPECT_FALSE(SettingExists(L"AlarmTime"));
        EXPECT_EQ(ProtectionMode(), c.mode);
    }
}

TEST_F(SettingsDialogTest, LidAlarmTakesDelaysFrom5To60AndRefusesOthersAfterApplyingTheMode) {
    struct Case { const wchar_t* text; bool accepted; };
    const Case cases[] = {{L"5", true}, {L"60", true}, {L"4", false}, {L"61", false}, {L"99", false}, {L"", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        Preset(1, 30);
        Run([&](HWND dialog) {
            Click(dialog, IDC_LID_ALARM);
            SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, c.text);
            PostClick(dialog, IDOK);
            if (c.accepted) {
                EXPECT_TRUE(WaitUntilGone(dialog));
                return;
            }
            HWND box = WaitForDialog(L"Kalnix", dialog);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(VisibleChildTexts(box, L"Static"), L"Possible values are between 5 and 60 seconds");
            EXPECT_EQ(VisibleChildTexts(box, L"Button"), L"OK");
            // The lid alarm is already stored and in force while the box shows.
            EXPECT_EQ(GetSettingDword(L"Action", 0), 2u);
            EXPECT_EQ(ProtectionMode(), 2);
            PostClick(box, IDOK);
            EXPECT_TRUE(WaitUntilGone(box));
            EXPECT_TRUE(IsWindowVisible(dialog));
            PostClick(dialog, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        int expectedDelay = c.accepted ? _wtoi(c.text) : 30;
        EXPECT_EQ(GetSettingDword(L"Action", 0), 2u);
        EXPECT_EQ(ProtectionMode(), 2);
        EXPECT_EQ(GetSettingDword(L"AlarmTime", 0), static_cast<DWORD>(expectedDelay));
        EXPECT_EQ(AlarmDelaySeconds(), expectedDelay);
    }
}

TEST_F(SettingsDialogTest, AutomaticProtectionIgnoresAnInvalidDelay) {
    Preset(2, 30);
    Run([](HWND dialog) {
        Click(dialog, IDC_AUTO_PROTECT);
        EXPECT_FALSE(EditEnabled(dialog));
        SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"99");
        PostClick(dialog, IDOK);
        EXPECT_TRUE(WaitUntilGone(dialog));
    });
    EXPECT_EQ(GetSettingDword(L"Action", 0), 1u);
    EXPECT_EQ(ProtectionMode(), 1);
    EXPECT_EQ(GetSettingDword(L"AlarmTime", 0), 30u);
    EXPECT_EQ(AlarmDelaySeconds(), 30);
}

TEST_F(SettingsDialogTest, OkWithNeitherModeChosenStoresTheLidAlarm) {
    SetProtectionSettings(0, 0);
    Run([](HWND dialog) {
        SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"12");
        PostClick(dialog, IDOK);
        EXPECT_TRUE(WaitUntilGone(dialog));
    });
    EXPECT_EQ(GetSettingDword(L"Action", 0), 2u);
    EXPECT_EQ(GetSettingDword(L"AlarmTime", 0), 12u);
    EXPECT_EQ(AlarmDelaySeconds(), 12);
}

// OK puts the chosen mode into effect at once, through the stand-in power library and the
// simulated driver: the flags forced and request 1, or the saved flags back and request 2.
TEST_F(SettingsDialogTest, OkForcesOrRestoresTheFlagsAndTellsTheDriver) {
    const DWORD savedAc = 3, savedDc = 1;
    ASSERT_TRUE(InstallSimulatedLidDriver());
    HANDLE& device = g_protection.run.lidMonitor.device;
    device = CreateFileW(kLidDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    const DWORD forcedAc = ForcedLidFlags(savedAc), forcedDc = ForcedLidFlags(savedDc);
    struct Case { int from, choice; DWORD startAc, startDc, endAc, endDc, r1, r2; const char* shows; };
    const Case cases[] = {
        {2, IDC_AUTO_PROTECT, savedAc, savedDc, forcedAc, forcedDc, 1, 0, "automatic protection"},
        {1, IDC_LID_ALARM, forcedAc, forcedDc, savedAc, savedDc, 0, 1, "lid alarm"},
        {1, IDC_AUTO_PROTECT, savedAc, savedDc, forcedAc, forcedDc, 1, 0, "automatic protection again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        Preset(c.from, 30);
        SetSettingDword(L"PowerSettings1", savedAc);
        SetSettingDword(L"PowerSettings2", savedDc);
        ClearPowerStandin();
        PresetPowerPolicy(PatternedPowerPolicy(c.startAc, c.startDc));
        ASSERT_TRUE(ResetLidRequestCounts());
        Run([&](HWND dialog) {
            Click(dialog, c.choice);
            SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"20");
            PostClick(dialog, IDOK);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        GLOBAL_POWER_POLICY policy = ReadStandinPolicy();
        EXPECT_EQ(policy.user.LidCloseAc.Flags, c.endAc);
        EXPECT_EQ(policy.user.LidCloseDc.Flags, c.endDc);
        LidRequestCounts counts = ReadLidRequestCounts();
        EXPECT_EQ(counts.r1, c.r1);
        EXPECT_EQ(counts.r2, c.r2);
    }
    CloseHandle(device);
    device = nullptr;
    ClearPowerStandin();
    EXPECT_TRUE(RemoveSimulatedLidDriver());
}

TEST_F(SettingsDialogTest, RadioButtonsSwitchTheEditWhichTakesTwoTypedDigits) {
    Preset(2, 30);
    Run([](HWND dialog) {
        Click(dialog, IDC_AUTO_PROTECT);
        EXPECT_FALSE(EditEnabled(dialog));
        EXPECT_FALSE(UnitEnabled(dialog)) << "the unit goes with its field";
        EXPECT_FALSE(Checked(dialog, IDC_LID_ALARM));
        Click(dialog, IDC_LID_ALARM);
        EXPECT_TRUE(EditEnabled(dialog));
        EXPECT_TRUE(UnitEnabled(dialog));
        EXPECT_FALSE(Checked(dialog, IDC_AUTO_PROTECT));

        HWND edit = GetDlgItem(dialog, IDC_ALARM_SECONDS);
        SetWindowTextW(edit, L"");
        for (wchar_t typed : {L'1', L'2', L'3'}) SendMessageW(edit, WM_CHAR, typed, 1);
        EXPECT_EQ(EditText(dialog), L"12");
        SetWindowTextW(edit, L"");
        for (wchar_t typed : {L'a', L'-', L' '}) SendMessageW(edit, WM_CHAR, typed, 1);
        EXPECT_EQ(EditText(dialog), L"");
        PostClick(dialog, IDCANCEL);
    });
}

// A setting set by Group Policy shows the policy's value, locked, with a line saying so in the
// rows the template leaves free, and when it applies: both are read at start, so a value that
// is not yet in force applies at the next start. OK stores only what is not managed, and never
// a policy; what is in force stays until that start.
TEST_F(SettingsDialogTest, ManagedSettingsShowThePolicysValueLockedAndOkStoresOnlyTheOthers) {
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const wchar_t* kNow = L"(set by your organization)";
    const wchar_t* kNext = L"(set by your organization; applies at the next start)";
    struct Case {
        const char* shows;
        DWORD policyAction, policyDelay;
        int mode, delay;            // in force
        int shownMode, shownDelay;
        bool radiosEnabled, editEnabled;
        std::wstring note;
        DWORD storedAction, storedDelay;
        int endDelay;
    };
    const Case cases[] = {
        {"mode set by policy", 1, kAbsent, 1, 30, 1, 30, false, false, std::wstring(L"Protection mode ") + kNow, kAbsent,
         kAbsent, 30},
        {"mode set by policy, the delay free", 2, kAbsent, 2, 30, 2, 30, false, true,
         std::wstring(L"Protection mode ") + kNow, kAbsent, 20, 20},
        {"delay set by policy", kAbsent, 45, 2, 45, 2, 45, true, false, std::wstring(L"Alarm delay ") + kNow, 2,
         kAbsent, 45},
        {"both set by policy", 2, 45, 2, 45, 2, 45, false, false,
         std::wstring(L"Protection mode ") + kNow + L"\nAlarm delay " + kNow, kAbsent, kAbsent, 45},
        {"mode set by policy since the start", 1, kAbsent, 2, 30, 1, 30, false, false,
         std::wstring(L"Protection mode ") + kNext, kAbsent, kAbsent, 30},
        {"delay set by policy since the start", kAbsent, 45, 2, 30, 2, 45, true, false,
         std::wstring(L"Alarm delay ") + kNext, 2, kAbsent, 30},
        {"the policies removed", kAbsent, kAbsent, 2, 30, 2, 30, true, true, L"", 2, 20, 20},
    };
    PolicyCleanup policies;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        DeleteSettingValue(L"Action");
        DeleteSettingValue(L"AlarmTime");
        DeletePolicyKey();
        if (c.policyAction != kAbsent) SetPolicyDword(L"Action", c.policyAction);
        if (c.policyDelay != kAbsent) SetPolicyDword(L"AlarmTime", c.policyDelay);
        SetProtectionSettings(c.mode, c.delay);
        Run([&](HWND dialog) {
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_AUTO_PROTECT)) != FALSE, c.radiosEnabled);
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_LID_ALARM)) != FALSE, c.radiosEnabled);
            EXPECT_EQ(EditEnabled(dialog), c.editEnabled);
            EXPECT_EQ(UnitEnabled(dialog), c.editEnabled);
            EXPECT_EQ(Checked(dialog, IDC_AUTO_PROTECT), c.shownMode == 1);
            EXPECT_EQ(Checked(dialog, IDC_LID_ALARM), c.shownMode == 2);
            EXPECT_EQ(EditText(dialog), std::to_wstring(c.shownDelay));
            HWND note = GetDlgItem(dialog, IDC_MANAGED_NOTE);
            EXPECT_EQ(note != nullptr, !c.note.empty());
            EXPECT_EQ(VisibleChildTexts(dialog, L"Static"), L"&seconds" + (c.note.empty() ? L"" : L"|" + c.note));
            if (note) ExpectInFreeSpace(dialog, note);
            if (c.shownMode == 2) Click(dialog, IDC_LID_ALARM);
            EXPECT_EQ(EditEnabled(dialog), c.editEnabled) << "a mode's click unlocks no delay set by policy";
            SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"20");
            PostClick(dialog, IDOK);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        EXPECT_EQ(GetSettingDword(L"Action", kAbsent), c.storedAction);
        EXPECT_EQ(GetSettingDword(L"AlarmTime", kAbsent), c.storedDelay);
        EXPECT_EQ(ProtectionMode(), c.mode);
        EXPECT_EQ(AlarmDelaySeconds(), c.endDelay);
        EXPECT_EQ(GetPolicyDword(L"Action", kAbsent), c.policyAction);
        EXPECT_EQ(GetPolicyDword(L"AlarmTime", kAbsent), c.policyDelay);
    }
}

TEST_F(SettingsDialogTest, EscapeAndTheCloseBoxActAsCancel) {
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "close box");
        Preset(1, 30);
        Run([&](HWND dialog) {
            Click(dialog, IDC_LID_ALARM);
            SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, L"10");
            if (escape) PostKey(dialog, VK_ESCAPE);
            else PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        EXPECT_EQ(GetSettingDword(L"Action", 0), 1u);
        EXPECT_EQ(ProtectionMode(), 1);
        EXPECT_EQ(GetSettingDword(L"AlarmTime", 0), 30u);
    }
}

}  // namespace
