#include "app/status_dialog.h"

// Placeholder until the status dialog lands.
INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) EndDialog(dialog, 0);
    return FALSE;
}
void DrawLogo(HDC) {}
