#include "app/settings_dialog.h"

// Placeholder until the settings dialog lands.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) EndDialog(dialog, 0);
    return FALSE;
}
