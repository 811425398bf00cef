#include "app/settings_dialog.h"

#include <cstdio>
#include <cwchar>

#include <commctrl.h>

#include "app/app_state.h"
#include "app/elevation.h"
#include "app/settings_effect.h"
#include "app/field_name.h"
#include "app/managed_note.h"
#include "app/range_message.h"
#include "common/bounded_format.h"
#include "common/setting_policy.h"
#include "common/setting_table.h"
#include "common/settings_store.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

constexpr int kDelayTextChars = 40;
constexpr int kDelayDigits = DigitsOf(SettingFactOf(SettingId::AlarmTime).dialogMost);

// The settings Group Policy set when the dialog opened, kept with the dialog (DWLP_USER) so
// that its controls and its OK agree.
constexpr LONG_PTR kActionManaged = 1;
constexpr LONG_PTR kAlarmTimeManaged = 2;

// The notes' place, in dialog units: the two rows the template leaves free above the buttons.
constexpr int kNoteLeft = 20, kNoteTop = 52, kNoteWidth = 267, kNoteHeight = 16;

bool IsManaged(HWND dialog, LONG_PTR setting) {
    return (GetWindowLongPtrW(dialog, DWLP_USER) & setting) != 0;
}

// A delay set by policy stays locked whichever mode is chosen; its unit goes with it.
void EnableDelayEdit(HWND dialog, bool enable) {
    BOOL usable = enable && !IsManaged(dialog, kAlarmTimeManaged);
    EnableWindow(GetDlgItem(dialog, IDC_ALARM_SECONDS), usable);
    EnableWindow(GetDlgItem(dialog, IDC_ALARM_SECONDS_UNIT), usable);
}

// What the dialog shows of a setting: a policy's value where one sets it (in force only from
// the next start, since both settings are read when Kalnix starts), else the value in force.
struct ShownSetting {
    int value;
    bool managed;
    bool inForce;
};

ShownSetting Shown(const wchar_t* name, int inForce) {
    DWORD policy = 0;
    if (!ReadPolicyDword(name, &policy)) return {inForce, false, true};
    int value = static_cast<int>(policy);  // the same bits, as the start-up read keeps them
    return {value, true, value == inForce};
}

// One line per locked setting, saying when the policy's value applies.
void ShowManagedNotes(HWND dialog, const ShownSetting& mode, const ShownSetting& delay) {
    wchar_t notes[160] = {};
    int used = 0;
    const struct { const ShownSetting& setting; const wchar_t* label; } lines[] = {
        {mode, L"Protection mode"}, {delay, L"Alarm delay"}};
    for (const auto& line : lines) {
        if (!line.setting.managed) continue;
        FormatBounded(notes + used, ARRAYSIZE(notes) - used, L"%ls%ls %ls", used ? L"\n" : L"", line.label,
                      line.setting.inForce ? kSetByOrganization : kSetByOrganizationNextStart);
        used += static_cast<int>(wcslen(notes + used));
    }
    if (used) ShowManagedSettingsNote(dialog, kNoteLeft, kNoteTop, kNoteWidth, kNoteHeight, notes);
}

void LockManagedSettings(HWND dialog, const ShownSetting& mode, const ShownSetting& delay) {
    SetWindowLongPtrW(dialog, DWLP_USER, (mode.managed ? kActionManaged : 0) | (delay.managed ? kAlarmTimeManaged : 0));
    if (mode.managed) {
        EnableWindow(GetDlgItem(dialog, IDC_AUTO_PROTECT), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_LID_ALARM), FALSE);
    }
    if (delay.managed) EnableDelayEdit(dialog, false);
    ShowManagedNotes(dialog, mode, delay);
}

// The controls show the mode and delay in force, or a policy's where one sets them.
void OnSettingsInit(HWND dialog) {
    // OK asks for an administrator where this Kalnix may not write the settings.
    if (DialogNeedsElevation()) SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0, TRUE);
    const ShownSetting mode = Shown(SettingName(SettingId::Action), ProtectionMode());
    const ShownSetting delay = Shown(SettingName(SettingId::AlarmTime), AlarmDelaySeconds());
    LockManagedSettings(dialog, mode, delay);
    if (mode.value == kModeAutoProtection) {
        EnableDelayEdit(dialog, false);
        SendDlgItemMessageW(dialog, IDC_AUTO_PROTECT, BM_SETCHECK, BST_CHECKED, 0);
    } else if (mode.value == kModeLidAlarm) {
        EnableDelayEdit(dialog, true);
        SendDlgItemMessageW(dialog, IDC_LID_ALARM, BM_SETCHECK, BST_CHECKED, 0);
    }
    wchar_t text[16];
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%d", delay.value);
    SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, text);
    SendDlgItemMessageW(dialog, IDC_ALARM_SECONDS, EM_LIMITTEXT, kDelayDigits, 0);
    NameFieldAfterItsLine(dialog, IDC_ALARM_SECONDS, IDC_LID_ALARM, IDC_ALARM_SECONDS_UNIT);
}

// The typed delay when it is in range; otherwise the range message, and the dialog stays.
bool TakeTypedDelay(HWND dialog, long* delay) {
    const SettingFact& alarmTime = SettingFactOf(SettingId::AlarmTime);
    wchar_t text[kDelayTextChars] = {};
    GetDlgItemTextW(dialog, IDC_ALARM_SECONDS, text, kDelayTextChars);
    *delay = std::wcstol(text, nullptr, 10);
    if (*delay >= static_cast<long>(alarmTime.dialogLeast) && *delay <= static_cast<long>(alarmTime.dialogMost))
        return true;
    ShowRangeMessage(dialog, alarmTime);
    return false;
}

void StoreDelay(int mode, long delay) {
    WriteSettingDword(SettingName(SettingId::AlarmTime), static_cast<DWORD>(delay));
    TakeChosenDelay(mode, static_cast<int>(delay));
}

void ChooseAutoProtection(HWND dialog) {
    TakeChosenMode(kModeAutoProtection, AlarmDelaySeconds());
    WriteSettingDword(SettingName(SettingId::Action), kModeAutoProtection);
    EndDialog(dialog, 0);
}

// The lid alarm is put in force before the delay is checked: a refused delay leaves mode 2
// stored and active with the previous delay.
void ChooseLidAlarm(HWND dialog) {
    TakeChosenMode(kModeLidAlarm, AlarmDelaySeconds());
    WriteSettingDword(SettingName(SettingId::Action), kModeLidAlarm);

    long delay = 0;
    if (!IsManaged(dialog, kAlarmTimeManaged)) {
        if (!TakeTypedDelay(dialog, &delay)) return;
        StoreDelay(kModeLidAlarm, delay);
    }
    EndDialog(dialog, 0);
}

// A mode set by policy is the organization's: OK neither stores nor applies one, and takes
// the delay only where the user could change it (the edit is enabled).
void ConfirmDelayOnly(HWND dialog) {
    long delay = 0;
    if (IsWindowEnabled(GetDlgItem(dialog, IDC_ALARM_SECONDS))) {
        if (!TakeTypedDelay(dialog, &delay)) return;
        StoreDelay(ProtectionMode(), delay);
    }
    EndDialog(dialog, 0);
}

void OnSettingsOk(HWND dialog) {
    // Beside the service and without an administrator's rights: the elevated dialog writes.
    if (DialogNeedsElevation()) {
        StartKalnixElevated(dialog, kElevatedSettingsSwitch);
        EndDialog(dialog, 0);
        return;
    }
    if (IsManaged(dialog, kActionManaged)) {
        ConfirmDelayOnly(dialog);
    } else if (SendDlgItemMessageW(dialog, IDC_AUTO_PROTECT, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        ChooseAutoProtection(dialog);
    } else {
        ChooseLidAlarm(dialog);  // 1014 checked, or neither
    }
}

void OnSettingsCommand(HWND dialog, WPARAM wParam) {
    if (HIWORD(wParam) != 0) return;
    switch (LOWORD(wParam)) {
    case IDC_AUTO_PROTECT: EnableDelayEdit(dialog, false); break;
    case IDC_LID_ALARM:    EnableDelayEdit(dialog, true); break;
    case IDCANCEL:         EndDialog(dialog, 0); break;
    case IDOK:             OnSettingsOk(dialog); break;
    }
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        OnSettingsInit(dialog);
        return TRUE;  // focus to the first tab stop
    case WM_COMMAND:
        OnSettingsCommand(dialog, wParam);
        break;
    case WM_DESTROY:
        ForgetFieldName(dialog, IDC_ALARM_SECONDS);
        break;
    }
    return FALSE;
}
