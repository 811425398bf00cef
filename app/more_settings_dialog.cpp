#include "app/more_settings_dialog.h"

#include <commctrl.h>

#include "app/app_state.h"
#include "app/elevation.h"
#include "app/settings_effect.h"
#include "app/closure_list.h"
#include "app/field_name.h"
#include "app/managed_note.h"
#include "app/range_message.h"
#include "app/wake_list.h"
#include "common/applied_setting.h"
#include "common/maintenance_wake.h"
#include "common/setting_policy.h"
#include "common/setting_table.h"
#include "common/settings_store.h"
#include "common/system_library.h"
#include "protect/closure_record.h"
#include "protect/protection_modes.h"
#include "res/resource.h"

namespace {

constexpr int kNumberDigits = 4;
constexpr int kNumberTextChars = 40;

// The note beside a setting Group Policy sets: the template's column on the right, on the
// setting's line (its top in dialog units).
constexpr int kNoteLeft = 306, kNoteWidth = 96, kNoteHeight = 8;

// A number that is off (0) or within the range the dialog takes, with the box that switches it
// and its unit. Checking the box offers the setting's first value.
struct NumberSetting {
    SettingId setting;
    int switchId;
    int editId;
    int unitId;
    int lineTop;
    constexpr const SettingFact& Fact() const { return SettingFactOf(setting); }
    constexpr const wchar_t* Name() const { return SettingName(setting); }
};

constexpr NumberSetting kNumbers[] = {
    {SettingId::RestAfter, IDC_REST_AFTER_ON, IDC_REST_AFTER, IDC_REST_AFTER_UNIT, 11},
    {SettingId::HibernateAfter, IDC_HIBERNATE_AFTER_ON, IDC_HIBERNATE_AFTER, IDC_HIBERNATE_AFTER_UNIT, 27},
    {SettingId::StandbyDrainAlert, IDC_DRAIN_ALERT_ON, IDC_DRAIN_ALERT, IDC_DRAIN_ALERT_UNIT, 43},
};
constexpr int kNumberCount = ARRAYSIZE(kNumbers);

// On when the value is 1.
struct SwitchSetting {
    SettingId setting;
    int id;
    int lineTop;
    constexpr const wchar_t* Name() const { return SettingName(setting); }
};

constexpr SwitchSetting kSwitches[] = {
    {SettingId::AlarmWithExternalDisplay, IDC_ALARM_WITH_EXTERNAL, 59},
    {SettingId::EnableLogging, IDC_ENABLE_LOGGING, 73},
    {SettingId::WakeTimersOffOnBattery, IDC_WAKE_TIMERS_OFF, 87},
    {SettingId::MaintenanceWakeOff, IDC_MAINTENANCE_WAKE_OFF, 101},
};
constexpr int kSwitchCount = ARRAYSIZE(kSwitches);

// The dialog has a line for every setting the table gives it, of the setting's form, and its
// fields take the longest number the range allows.
constexpr bool ShowsItsSettings() {
    int given = 0;
    for (const SettingFact& fact : kSettingFacts) given += fact.dialog == SettingDialog::MoreSettings;
    if (given != kNumberCount + kSwitchCount) return false;
    for (const NumberSetting& line : kNumbers) {
        const SettingFact& fact = line.Fact();
        if (fact.dialog != SettingDialog::MoreSettings || fact.form != SettingForm::Number || !fact.hasFirstValue ||
            DigitsOf(fact.dialogMost) > kNumberDigits)
            return false;
    }
    for (const SwitchSetting& line : kSwitches) {
        const SettingFact& fact = SettingFactOf(line.setting);
        if (fact.dialog != SettingDialog::MoreSettings || fact.form != SettingForm::Switch) return false;
    }
    return true;
}
static_assert(ShowsItsSettings(), "More settings and the settings table disagree");

// What the dialog showed at opening: OK writes only what differs. One dialog at a time (the
// tray menu brings an open one to the front).
DWORD g_shownNumbers[kNumberCount] = {};
bool g_shownSwitches[kSwitchCount] = {};

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

DWORD ShownValue(const wchar_t* name) {
    DWORD value = 0;
    ReadAppliedSettingDword(name, &value, LocalRead::Quiet);
    return value;
}

// The field and its unit are usable together.
void EnableNumberField(HWND dialog, const NumberSetting& setting, bool enable) {
    EnableWindow(GetDlgItem(dialog, setting.editId), enable);
    EnableWindow(GetDlgItem(dialog, setting.unitId), enable);
}

// Each setting is read at each use, so a policy's value is in force as the dialog shows it.
void NoteIfManaged(HWND dialog, const wchar_t* name, int lineTop) {
    if (!SettingIsManaged(name)) return;
    ShowManagedSettingsNote(dialog, kNoteLeft, lineTop, kNoteWidth, kNoteHeight, kSetByOrganization);
}

void ShowNumber(HWND dialog, const NumberSetting& setting, DWORD value) {
    bool managed = SettingIsManaged(setting.Name());
    CheckDlgButton(dialog, setting.switchId, value != 0 ? BST_CHECKED : BST_UNCHECKED);
    // Shown as stored, also outside the range: only typing is limited.
    if (value != 0) SetDlgItemInt(dialog, setting.editId, value, FALSE);
    SendDlgItemMessageW(dialog, setting.editId, EM_LIMITTEXT, kNumberDigits, 0);
    EnableWindow(GetDlgItem(dialog, setting.switchId), !managed);
    EnableNumberField(dialog, setting, !managed && value != 0);
    NoteIfManaged(dialog, setting.Name(), setting.lineTop);
    NameFieldAfterItsLine(dialog, setting.editId, setting.switchId, setting.unitId);
}

// Automatic maintenance's wake exists from Windows 8 on.
bool OfferedHere(const SwitchSetting& setting) {
    return setting.setting != SettingId::MaintenanceWakeOff || MaintenanceWakeOffered();
}

void ShowSwitch(HWND dialog, const SwitchSetting& setting, bool on) {
    CheckDlgButton(dialog, setting.id, on ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, setting.id), !SettingIsManaged(setting.Name()) && OfferedHere(setting));
    NoteIfManaged(dialog, setting.Name(), setting.lineTop);
    if (!OfferedHere(setting))
        ShowManagedSettingsNote(dialog, kNoteLeft, setting.lineTop, kNoteWidth, kNoteHeight, L"(not on this Windows)");
}

void OnMoreSettingsInit(HWND dialog) {
    // OK asks for an administrator where this Kalnix may not write the settings.
    if (DialogNeedsElevation()) SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0, TRUE);
    for (int i = 0; i < kNumberCount; ++i) {
        g_shownNumbers[i] = ShownValue(kNumbers[i].Name());
        ShowNumber(dialog, kNumbers[i], g_shownNumbers[i]);
    }
    for (int i = 0; i < kSwitchCount; ++i) {
        g_shownSwitches[i] = ShownValue(kSwitches[i].Name()) == 1;
        ShowSwitch(dialog, kSwitches[i], g_shownSwitches[i]);
    }
    ShowWakeList(dialog);
    ClosureLines record;
    ReadClosureRecord(&record);
    ShowClosureList(GetDlgItem(dialog, IDC_CLOSURES), record);
}

void OnMoreSettingsDestroy(HWND dialog) {
    for (const NumberSetting& setting : kNumbers) ForgetFieldName(dialog, setting.editId);
}

void OnNumberSwitched(HWND dialog, const NumberSetting& setting) {
    bool on = Checked(dialog, setting.switchId);
    EnableNumberField(dialog, setting, on);
    HWND edit = GetDlgItem(dialog, setting.editId);
    if (on && GetWindowTextLengthW(edit) == 0) SetDlgItemInt(dialog, setting.editId, setting.Fact().firstValue, FALSE);
}

// The record's list is a common control, whose class must be registered before a template
// uses it. The library stays for the process: Windows keeps the common controls mapped after
// a first dialog in any case, and a registered class must not outlive its code.
bool RegisterListClass() {
    static bool registered = false;
    if (registered) return true;
    // Version 6, which the manifest names, comes first, before any folder is searched.
    HMODULE controls = LoadSystemLibrary(L"comctl32.dll");
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = controls ? reinterpret_cast<InitFunction>(reinterpret_cast<void*>(
                               GetProcAddress(controls, "InitCommonControlsEx")))
                         : nullptr;
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LISTVIEW_CLASSES};
    registered = init && init(&classes);
    return registered;
}

// The edited text's number when it is digits alone and lies in the setting's range. ES_NUMBER
// keeps letters from being typed, not from being pasted.
bool EditedNumberInRange(const wchar_t* text, const NumberSetting& setting, DWORD* value) {
    if (text[0] == L'\0') return false;
    DWORD number = 0;
    for (const wchar_t* digit = text; *digit; ++digit) {
        if (*digit < L'0' || *digit > L'9') return false;
        number = number * 10 + static_cast<DWORD>(*digit - L'0');
        if (number > setting.Fact().dialogMost) return false;  // before a longer text could overflow it
    }
    if (number < setting.Fact().dialogLeast) return false;
    *value = number;
    return true;
}

// The value the user confirms: 0 when switched off, the shown value when its text was not
// edited (kept as stored, even outside the range), else the edited number, which must lie in
// the range. False when it does not.
bool ConfirmedNumber(HWND dialog, const NumberSetting& setting, DWORD shown, DWORD* value) {
    if (!Checked(dialog, setting.switchId)) {
        *value = 0;
        return true;
    }
    bool edited = SendDlgItemMessageW(dialog, setting.editId, EM_GETMODIFY, 0, 0) != FALSE;
    if (shown != 0 && !edited) {
        *value = shown;
        return true;
    }
    wchar_t text[kNumberTextChars] = {};
    GetDlgItemTextW(dialog, setting.editId, text, kNumberTextChars);
    return EditedNumberInRange(text, setting, value);
}

void RefuseNumber(HWND dialog, const NumberSetting& setting) {
    ShowRangeMessage(dialog, setting.Fact());
    HWND edit = GetDlgItem(dialog, setting.editId);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

// Every edited number is checked before anything is written: a refused one leaves the
// dialog open and the settings as they were.
void OnMoreSettingsOk(HWND dialog) {
    // Beside the service and without an administrator's rights: the elevated dialog writes.
    if (DialogNeedsElevation()) {
        StartKalnixElevated(dialog, kElevatedMoreSettingsSwitch);
        EndDialog(dialog, 0);
        return;
    }
    DWORD numbers[kNumberCount];
    for (int i = 0; i < kNumberCount; ++i) {
        if (!ConfirmedNumber(dialog, kNumbers[i], g_shownNumbers[i], &numbers[i])) return RefuseNumber(dialog, kNumbers[i]);
    }
    bool hibernateChanged = false;
    for (int i = 0; i < kNumberCount; ++i) {
        if (numbers[i] == g_shownNumbers[i] || SettingIsManaged(kNumbers[i].Name())) continue;
        WriteSettingDword(kNumbers[i].Name(), numbers[i]);
        hibernateChanged |= kNumbers[i].switchId == IDC_HIBERNATE_AFTER_ON;
    }
    bool wakeChanged = false;
    for (int i = 0; i < kSwitchCount; ++i) {
        bool on = Checked(dialog, kSwitches[i].id);
        if (on == g_shownSwitches[i] || SettingIsManaged(kSwitches[i].Name())) continue;
        WriteSettingDword(kSwitches[i].Name(), on ? 1 : 0);
        wakeChanged |= kSwitches[i].id == IDC_WAKE_TIMERS_OFF || kSwitches[i].id == IDC_MAINTENANCE_WAKE_OFF;
    }
    wakeChanged |= StoreWakeDeviceChoices();
    // Automatic protection guards the hibernate-after timeout and wake timers, and the wake
    // choices hold in every mode: the new values count now, not at the next hourly check.
    if (hibernateChanged) TakeHibernateChange();
    if (wakeChanged) TakeWakeChange();
    EndDialog(dialog, 0);
}

void OnMoreSettingsCommand(HWND dialog, WORD id, WORD code) {
    if (code != BN_CLICKED) return;
    for (const NumberSetting& setting : kNumbers) {
        if (id == setting.switchId) return OnNumberSwitched(dialog, setting);
    }
    switch (id) {
    case IDOK: return OnMoreSettingsOk(dialog);
    case IDCANCEL: EndDialog(dialog, 0); return;
    case IDC_WAKE_TIMERS_OFF:
    case IDC_MAINTENANCE_WAKE_OFF: return OnWakeBoxClicked(dialog);
    case IDC_WAKE_KEEP_OFF:
    case IDC_WAKE_PUT_BACK: return OnWakeListButton(dialog, id);
    }
}

void OnMoreSettingsNotify(HWND dialog, const NMHDR* header) {
    if (header->idFrom == IDC_WAKE_LIST && header->code == LVN_ITEMCHANGED) OnWakeListSelection(dialog);
}

}  // namespace

INT_PTR CALLBACK MoreSettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        OnMoreSettingsInit(dialog);
        return TRUE;  // focus to the first tab stop
    case WM_COMMAND:
        OnMoreSettingsCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        OnMoreSettingsNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_DESTROY:
        OnMoreSettingsDestroy(dialog);
        return FALSE;
    }
    return FALSE;
}

void ShowMoreSettingsDialog(HWND owner) {
    if (!RegisterListClass()) return;
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_MORE_SETTINGS), owner, MoreSettingsDialogProc, 0);
}
