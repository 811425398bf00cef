#include "app/status_dialog.h"

#include "app/app_state.h"
#include "app/hyperlink.h"
#include "app/open_for_user.h"
#include "app/settings_dialog.h"

namespace {

// True while a status dialog is shown; a second one (a double-click from inside the first
// dialog's loop) ends itself before it shows.
bool g_statusDialogOpen = false;

void OnStatusInit(HWND dialog) {
    if (g_statusDialogOpen) {
        EndDialog(dialog, 0);
        return;
    }
    g_statusDialogOpen = true;
    MakeStaticLink(GetDlgItem(dialog, IDC_WEBSITE_LINK));
    MakeStaticLink(GetDlgItem(dialog, IDC_CONFIGURE_LINK));
}

void OnStatusPaint(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    DrawLogo(dc);
    EndPaint(dialog, &paint);
}

void CloseStatusDialog(HWND dialog) {
    EndDialog(dialog, 0);
    g_statusDialogOpen = false;
}

void OnStatusCommand(HWND dialog, WPARAM wParam) {
    if (HIWORD(wParam) != 0) return;  // BN_CLICKED and STN_CLICKED only
    switch (LOWORD(wParam)) {
    case IDC_WEBSITE_LINK:
        OpenForUser(dialog, kWebsiteAddress);
        break;
    case IDCLOSE:
        CloseStatusDialog(dialog);
        break;
    case IDC_CONFIGURE_LINK:
        DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETTINGS), dialog, SettingsDialogProc, 0);
        break;
    }
    // IDCANCEL (Escape) is ignored: only Close, Enter and the close box end the dialog.
}

}  // namespace

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: OnStatusInit(dialog); break;
    case WM_PAINT:      OnStatusPaint(dialog); break;
    case WM_COMMAND:    OnStatusCommand(dialog, wParam); break;
    case WM_CLOSE:      CloseStatusDialog(dialog); break;
    }
    return FALSE;
}

void DrawLogo(HDC dc) {
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    const LogoRecord* logo = g_logoRecord;
    if (logo && logo->handle) {
        HGDIOBJ previous = SelectObject(memory, logo->handle);
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        // gdi32's own AlphaBlend: msimg32's, no KnownDLL, would have to be loaded for it.
        GdiAlphaBlend(dc, kLogoLeft, kLogoTop, logo->bitmap.bmWidth, logo->bitmap.bmHeight,
                      memory, 0, 0, logo->bitmap.bmWidth, logo->bitmap.bmHeight, blend);
        SelectObject(memory, previous);
    }
    DeleteDC(memory);
}
