#include "app/settings_dialog.h"

#include <cstdio>
#include <cwchar>

#include "app/app_state.h"
#include "app/managed_note.h"
#include "common/setting_policy.h"
#include "common/settings_store.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

constexpr int kDelayTextChars = 40;
constexpr int kDelayDigits = 2;

// The settings Group Policy set when the dialog opened, kept with the dialog (DWLP_USER) so
// that its controls and its OK agree.
constexpr LONG_PTR kActionManaged = 1;
constexpr LONG_PTR kAlarmTimeManaged = 2;

// The note's place, in dialog units: the row the template leaves free above the buttons.
constexpr int kNoteLeft = 20, kNoteTop = 54, kNoteWidth = 267, kNoteHeight = 8;

bool IsManaged(HWND dialog, LONG_PTR setting) {
    return (GetWindowLongPtrW(dialog, DWLP_USER) & setting) != 0;
}

// A delay set by policy stays locked whichever mode is chosen.
void EnableDelayEdit(HWND dialog, bool enable) {
    EnableWindow(GetDlgItem(dialog, IDC_ALARM_SECONDS), enable && !IsManaged(dialog, kAlarmTimeManaged));
}

void LockManagedSettings(HWND dialog) {
    LONG_PTR managed = (SettingIsManaged(L"Action") ? kActionManaged : 0) |
                       (SettingIsManaged(L"AlarmTime") ? kAlarmTimeManaged : 0);
    SetWindowLongPtrW(dialog, DWLP_USER, managed);
    if (managed & kActionManaged) {
        EnableWindow(GetDlgItem(dialog, IDC_AUTO_PROTECT), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_LID_ALARM), FALSE);
    }
    if (managed & kAlarmTimeManaged) EnableWindow(GetDlgItem(dialog, IDC_ALARM_SECONDS), FALSE);
    if (managed) ShowManagedSettingsNote(dialog, kNoteLeft, kNoteTop, kNoteWidth, kNoteHeight);
}

// The controls show the mode and delay in force, also where a policy sets them.
void OnSettingsInit(HWND dialog) {
    LockManagedSettings(dialog);
    int mode = ProtectionMode();
    if (mode == kModeAutoProtection) {
        EnableDelayEdit(dialog, false);
        SendDlgItemMessageW(dialog, IDC_AUTO_PROTECT, BM_SETCHECK, BST_CHECKED, 0);
    } else if (mode == kModeLidAlarm) {
        EnableDelayEdit(dialog, true);
        SendDlgItemMessageW(dialog, IDC_LID_ALARM, BM_SETCHECK, BST_CHECKED, 0);
    }
    wchar_t text[16];
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%d", AlarmDelaySeconds());
    SetDlgItemTextW(dialog, IDC_ALARM_SECONDS, text);
    SendDlgItemMessageW(dialog, IDC_ALARM_SECONDS, EM_LIMITTEXT, kDelayDigits, 0);
}

// The typed delay when it is in range; otherwise the range message, and the dialog stays.
bool TakeTypedDelay(HWND dialog, long* delay) {
    wchar_t text[kDelayTextChars] = {};
    GetDlgItemTextW(dialog, IDC_ALARM_SECONDS, text, kDelayTextChars);
    *delay = std::wcstol(text, nullptr, 10);
    if (*delay >= kMinAlarmDelay && *delay <= kMaxAlarmDelay) return true;
    MessageBoxW(dialog, L"Possible values are between 5 and 60 seconds", L"Kalnix", MB_OK);
    return false;
}

void StoreDelay(int mode, long delay) {
    WriteSettingDword(L"AlarmTime", static_cast<DWORD>(delay));
    SetProtectionSettings(mode, static_cast<int>(delay));
}

void ChooseAutoProtection(HWND dialog) {
    ChangeProtectionSettings(kModeAutoProtection, AlarmDelaySeconds());
    WriteSettingDword(L"Action", kModeAutoProtection);
    EndDialog(dialog, 0);
}

// The lid alarm is put in force before the delay is checked: a refused delay leaves mode 2
// stored and active with the previous delay.
void ChooseLidAlarm(HWND dialog) {
    ChangeProtectionSettings(kModeLidAlarm, AlarmDelaySeconds());
    WriteSettingDword(L"Action", kModeLidAlarm);

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
    }
    return FALSE;
}
