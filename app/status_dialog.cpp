#include "app/status_dialog.h"

#include "app/app_state.h"
#include "app/hyperlink.h"
#include "app/open_for_user.h"
#include "app/settings_dialog.h"
#include "app/window_dpi.h"
#include "image/logo_bitmap.h"

namespace {

// True while a status dialog is shown; a second one (a double-click from inside the first
// dialog's loop) ends itself before it shows.
bool g_statusDialogOpen = false;

// The logo as last drawn at a DPI other than 96: scaled once, kept while the dialog shows (a
// repaint must not resample it), freed when it closes.
struct ScaledLogo {
    HBITMAP source;
    UINT dpi;
    HBITMAP bitmap;
};
ScaledLogo g_scaledLogo = {};

void ForgetScaledLogo() {
    if (g_scaledLogo.bitmap) DeleteObject(g_scaledLogo.bitmap);
    g_scaledLogo = {};
}

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
    DrawLogo(dc, DpiOf(dialog));
    EndPaint(dialog, &paint);
}

// The dialog manager rescales the dialog and its fonts itself (per-monitor v2); the logo is
// drawn anew at the new DPI.
void OnStatusDpiChanged(HWND dialog) {
    InvalidateRect(dialog, nullptr, TRUE);
}

void CloseStatusDialog(HWND dialog) {
    EndDialog(dialog, 0);
    g_statusDialogOpen = false;
    ForgetScaledLogo();
}

// The logo's bitmap for `dpi` at `size`: the record's own at 96 DPI, else the scaled copy,
// made when the DPI or the logo changed. Null when no copy can be made.
HBITMAP LogoAtDpi(const LogoRecord& logo, UINT dpi, SIZE size) {
    if (dpi == kBaseDpi) return logo.handle;
    if (g_scaledLogo.bitmap && g_scaledLogo.source == logo.handle && g_scaledLogo.dpi == dpi) return g_scaledLogo.bitmap;
    ForgetScaledLogo();
    HBITMAP scaled = CreateScaledLogoBitmap(logo.bitmap, size.cx, size.cy);
    if (scaled) g_scaledLogo = {logo.handle, dpi, scaled};
    return scaled;
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
    case WM_DPICHANGED: OnStatusDpiChanged(dialog); break;
    }
    return FALSE;
}

void DrawLogo(HDC dc, UINT dpi) {
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    const LogoRecord* logo = g_logoRecord;
    if (logo && logo->handle) {
        const SIZE size = {ScaledToDpi(logo->bitmap.bmWidth, dpi), ScaledToDpi(logo->bitmap.bmHeight, dpi)};
        HBITMAP scaled = LogoAtDpi(*logo, dpi, size);
        // Without a scaled copy (no memory for it) GDI stretches the logo itself, coarsely.
        HBITMAP drawn = scaled ? scaled : logo->handle;
        const SIZE source = scaled ? size : SIZE{logo->bitmap.bmWidth, logo->bitmap.bmHeight};
        HGDIOBJ previous = SelectObject(memory, drawn);
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        // gdi32's own AlphaBlend: msimg32's, no KnownDLL, would have to be loaded for it.
        GdiAlphaBlend(dc, ScaledToDpi(kLogoLeft, dpi), ScaledToDpi(kLogoTop, dpi), size.cx, size.cy, memory, 0, 0,
                      source.cx, source.cy, blend);
        SelectObject(memory, previous);
    }
    DeleteDC(memory);
}
