#include "app/wake_list.h"

#include <commctrl.h>

#include "common/applied_setting.h"
#include "app/list_columns.h"
#include "common/bounded_format.h"
#include "common/device_wake.h"
#include "common/diagnostic_log.h"
#include "common/maintenance_wake.h"
#include "common/scoped_handle.h"
#include "common/setting_list.h"
#include "common/settings_store.h"
#include "common/wake_timers.h"
#include "protect/wake_choices.h"
#include "res/resource.h"

namespace {

enum class RowKind { None, WakeTimers, Maintenance, Device };

struct WakeRow {
    RowKind kind;
    wchar_t device[kSettingListNameChars];
};

constexpr int kMaxRows = 2 + 2 * kSettingListNames;

// The dialog's own copy of the lists, read at opening: one More settings at a time.
struct WakeListState {
    int rowCount;
    WakeRow rows[kMaxRows];
    SettingList disarmed;
    SettingList chosen;  // as the user leaves it
    bool chosenChanged;
    bool everySeen;      // WakingDevicesOff: no device is chosen one by one
    bool wakeTimersSaved;
    DWORD savedWakeTimers;
};
WakeListState g_list = {};

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

bool CanUncheck(HWND dialog, int id) { return Checked(dialog, id) && IsWindowEnabled(GetDlgItem(dialog, id)); }

const wchar_t* WakeTimersValueText(DWORD value) {
    switch (value) {
    case 0: return L"Disable";
    case 1: return L"Enable";
    case 2: return L"Important wake timers only";
    }
    return L"another value";
}

void RowTexts(HWND dialog, const WakeRow& row, wchar_t* source, wchar_t* now, int chars) {
    switch (row.kind) {
    case RowKind::None:
        FormatBounded(source, chars, L"No wake with the lid closed seen on battery yet.");
        FormatBounded(now, chars, L"");
        return;
    case RowKind::WakeTimers:
        FormatBounded(source, chars, L"Wake timers on battery");
        if (Checked(dialog, IDC_WAKE_TIMERS_OFF))
            FormatBounded(now, chars, L"Off, set by Kalnix (yours: %ls)", WakeTimersValueText(g_list.savedWakeTimers));
        else FormatBounded(now, chars, L"Put back when you select OK");
        return;
    case RowKind::Maintenance:
        FormatBounded(source, chars, L"Automatic maintenance");
        FormatBounded(now, chars, Checked(dialog, IDC_MAINTENANCE_WAKE_OFF) ? L"Kept from waking the laptop by Kalnix"
                                                                             : L"Put back when you select OK");
        return;
    case RowKind::Device: break;
    }
    FormatBounded(source, chars, L"%ls", row.device);
    bool kept = ListHas(g_list.disarmed, row.device);
    bool wanted = g_list.everySeen || ListHas(g_list.chosen, row.device);
    const wchar_t* state = kept && wanted   ? L"Kept from waking the laptop by Kalnix"
                           : kept           ? L"Allowed to wake it again when you select OK"
                           : wanted         ? L"Kept from waking the laptop once Kalnix has switched it"
                                            : L"Woke the closed laptop on battery; may wake it";
    FormatBounded(now, chars, L"%ls", state);
}

void SetRow(HWND list, int index, HWND dialog, bool insert) {
    wchar_t source[kSettingListNameChars + 64], now[128];
    RowTexts(dialog, g_list.rows[index], source, now, 128);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = source;
    SendMessageW(list, insert ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 1;
    item.pszText = now;
    SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
}

void AddRow(RowKind kind, const wchar_t* device) {
    if (g_list.rowCount >= kMaxRows) return;
    WakeRow& row = g_list.rows[g_list.rowCount++];
    row.kind = kind;
    FormatBounded(row.device, kSettingListNameChars, L"%ls", device ? device : L"");
}

bool HasDeviceRow(const wchar_t* device) {
    for (int i = 0; i < g_list.rowCount; ++i)
        if (g_list.rows[i].kind == RowKind::Device && _wcsicmp(g_list.rows[i].device, device) == 0) return true;
    return false;
}

void ReadRows() {
    g_list = {};
    ScopedKey key(OpenSettingsKeyQuietly());
    SettingList seen;
    ReadSettingList(key.get(), kWakeDevicesValue, &seen);
    ReadSettingList(key.get(), kDisarmedWakeDevicesValue, &g_list.disarmed);
    ReadSettingList(key.get(), kWakeDevicesOffValue, &g_list.chosen);
    DWORD every = 0;
    g_list.everySeen = ReadAppliedSettingDword(SettingId::WakingDevicesOff, &every, LocalRead::Quiet) && every == 1;
    g_list.wakeTimersSaved = ReadSettingDwordQuietly(kSavedWakeTimers, &g_list.savedWakeTimers);
    if (g_list.wakeTimersSaved) AddRow(RowKind::WakeTimers, nullptr);
    if (MaintenanceWakeChanged()) AddRow(RowKind::Maintenance, nullptr);
    for (int i = 0; i < g_list.disarmed.count; ++i) AddRow(RowKind::Device, g_list.disarmed.names[i]);
    for (int i = 0; i < seen.count; ++i)
        if (!HasDeviceRow(seen.names[i])) AddRow(RowKind::Device, seen.names[i]);
    if (g_list.rowCount == 0) AddRow(RowKind::None, nullptr);
}

int SelectedRow(HWND dialog) {
    int index = static_cast<int>(SendDlgItemMessageW(dialog, IDC_WAKE_LIST, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                     LVNI_SELECTED));
    return index >= 0 && index < g_list.rowCount ? index : -1;
}

void RefreshRows(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_WAKE_LIST);
    for (int i = 0; i < g_list.rowCount; ++i) SetRow(list, i, dialog, false);
    OnWakeListSelection(dialog);
}

}  // namespace

void ShowWakeList(HWND dialog) {
    ReadRows();
    HWND list = GetDlgItem(dialog, IDC_WAKE_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    // The two widths fill the list's 296 dialog units, room left for a scroll bar.
    AddListColumn(list, 0, L"Wake source", 136);
    AddListColumn(list, 1, L"Now", 148);
    for (int i = 0; i < g_list.rowCount; ++i) SetRow(list, i, dialog, true);
    OnWakeListSelection(dialog);
}

void OnWakeListSelection(HWND dialog) {
    int index = SelectedRow(dialog);
    const WakeRow* row = index >= 0 ? &g_list.rows[index] : nullptr;
    bool device = row && row->kind == RowKind::Device && !g_list.everySeen;
    bool chosen = device && ListHas(g_list.chosen, row->device);
    bool putBack = (device && chosen) || (row && row->kind == RowKind::WakeTimers && CanUncheck(dialog, IDC_WAKE_TIMERS_OFF)) ||
                   (row && row->kind == RowKind::Maintenance && CanUncheck(dialog, IDC_MAINTENANCE_WAKE_OFF));
    EnableWindow(GetDlgItem(dialog, IDC_WAKE_KEEP_OFF), device && !chosen && ToolTakesDeviceName(row->device));
    EnableWindow(GetDlgItem(dialog, IDC_WAKE_PUT_BACK), putBack);
}

void OnWakeListButton(HWND dialog, int id) {
    int index = SelectedRow(dialog);
    if (index < 0) return;
    const WakeRow& row = g_list.rows[index];
    switch (row.kind) {
    case RowKind::WakeTimers:
        if (id == IDC_WAKE_PUT_BACK && CanUncheck(dialog, IDC_WAKE_TIMERS_OFF))
            CheckDlgButton(dialog, IDC_WAKE_TIMERS_OFF, BST_UNCHECKED);
        break;
    case RowKind::Maintenance:
        if (id == IDC_WAKE_PUT_BACK && CanUncheck(dialog, IDC_MAINTENANCE_WAKE_OFF))
            CheckDlgButton(dialog, IDC_MAINTENANCE_WAKE_OFF, BST_UNCHECKED);
        break;
    case RowKind::Device:
        if (g_list.everySeen) break;
        if (id == IDC_WAKE_KEEP_OFF && ToolTakesDeviceName(row.device)) AddToList(&g_list.chosen, row.device);
        else if (id == IDC_WAKE_PUT_BACK) RemoveFromList(&g_list.chosen, row.device);
        g_list.chosenChanged = true;
        break;
    case RowKind::None: break;
    }
    RefreshRows(dialog);
}

void OnWakeBoxClicked(HWND dialog) { RefreshRows(dialog); }

bool StoreWakeDeviceChoices() {
    if (!g_list.chosenChanged) return false;
    ScopedKey key(OpenSettingsKeyQuietly());
    LONG status = WriteSettingList(key.get(), kWakeDevicesOffValue, g_list.chosen);
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
    return status == ERROR_SUCCESS;
}
