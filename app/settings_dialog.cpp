#include "app/settings_dialog.h"

#include <cstdio>
#include <cwchar>

#include "app/app_state.h"
#include "common/settings_store.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

constexpr int kDelayTextChars = 40;
constexpr int kDelayDigits = 2;

void EnableDelayEdit(HWND dialog, bool enable) {
    EnableWindow(GetDlgItem(dialog, IDC_ALARM_SECONDS), enable);
}

void OnSettingsInit(HWND dialog) {
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

void ChooseAutoProtection(HWND dialog) {
    ApplyAutoProtection();
    WriteSettingDword(L"Action", kModeAutoProtection);
    SetProtectionSettings(kModeAutoProtection, AlarmDelaySeconds());
    EndDialog(dialog, 0);
}

// The lid alarm is put in force before the delay is checked: a refused delay leaves mode 2
// stored and active with the previous delay.
void ChooseLidAlarm(HWND dialog) {
    ReleaseAutoProtection();
    WriteSettingDword(L"Action", kModeLidAlarm);
    SetProtectionSettings(kModeLidAlarm, AlarmDelaySeconds());

    wchar_t text[kDelayTextChars] = {};
    GetDlgItemTextW(dialog, IDC_ALARM_SECONDS, text, kDelayTextChars);
    long delay = std::wcstol(text, nullptr, 10);
    if (delay < kMinAlarmDelay || delay > kMaxAlarmDelay) {
        MessageBoxW(dialog, L"Possible values are between 5 and 60 seconds", L"Kalnix", MB_OK);
        return;
    }
    WriteSettingDword(L"AlarmTime", static_cast<DWORD>(delay));
    SetProtectionSettings(kModeLidAlarm, static_cast<int>(delay));
    EndDialog(dialog, 0);
}

void OnSettingsOk(HWND dialog) {
    if (SendDlgItemMessageW(dialog, IDC_AUTO_PROTECT, BM_GETCHECK, 0, 0) == BST_CHECKED) {
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
