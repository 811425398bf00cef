#include "app/hyperlink.h"

#include <windowsx.h>

namespace {

WNDPROC ReplacedProc(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(GetPropW(hwnd, kLinkOriginalProcProp));
}

// The property is set before our procedure is installed, so it is always found; the
// fallback only keeps a stray message from calling through a null pointer.
LRESULT PassOn(WNDPROC replaced, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!replaced) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return CallWindowProcW(replaced, hwnd, msg, wParam, lParam);
}

void Subclass(HWND hwnd, WNDPROC proc) {
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    SetPropW(hwnd, kLinkOriginalProcProp, reinterpret_cast<HANDLE>(previous));
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
}

void Unsubclass(HWND hwnd, WNDPROC replaced) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replaced));
    RemovePropW(hwnd, kLinkOriginalProcProp);
}

// A static control without a font of its own draws with the system font; the link records
// that font so the underlined copy has the same face and size and the restore is not null.
HFONT EffectiveFont(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    return font ? font : static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
}

HFONT CreateUnderlinedCopy(HFONT font) {
    LOGFONTW logFont;
    if (GetObjectW(font, sizeof(logFont), &logFont) == 0 &&
        GetObjectW(GetStockObject(SYSTEM_FONT), sizeof(logFont), &logFont) == 0) {
        return nullptr;
    }
    logFont.lfUnderline = TRUE;
    return CreateFontIndirectW(&logFont);
}

void SelectLinkFont(HWND control, const wchar_t* property) {
    HANDLE font = GetPropW(control, property);
    if (!font) return;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    InvalidateRect(control, nullptr, FALSE);
}

LRESULT OnLinkSetCursor() {
    HCURSOR cursor = LoadCursorW(nullptr, IDC_HAND);
    if (!cursor) cursor = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(cursor);
    return TRUE;
}

void OnLinkMouseMove(HWND control, LPARAM lParam) {
    if (GetCapture() != control) {
        SelectLinkFont(control, kLinkUnderlineFontProp);
        SetCapture(control);
        return;
    }
    RECT bounds;
    GetWindowRect(control, &bounds);
    POINT pointer = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(control, &pointer);
    if (!PtInRect(&bounds, pointer)) {
        SelectLinkFont(control, kLinkOriginalFontProp);
        ReleaseCapture();
    }
}

void OnLinkDestroy(HWND control, WNDPROC replaced) {
    Unsubclass(control, replaced);
    HANDLE original = GetPropW(control, kLinkOriginalFontProp);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(original), FALSE);
    RemovePropW(control, kLinkOriginalFontProp);
    if (HANDLE underline = GetPropW(control, kLinkUnderlineFontProp)) DeleteObject(underline);
    RemovePropW(control, kLinkUnderlineFontProp);
    RemovePropW(control, kLinkFromStaticProp);
}

}  // namespace

BOOL MakeStaticLink(HWND control) {
    HWND parent = GetParent(control);
    // A parent with several links is subclassed once.
    if (parent && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent, GWLP_WNDPROC)) != LinkParentProc) {
        Subclass(parent, LinkParentProc);
    }
    SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY);
    Subclass(control, LinkControlProc);

    HFONT font = EffectiveFont(control);
    SetPropW(control, kLinkOriginalFontProp, font);
    SetPropW(control, kLinkUnderlineFontProp, CreateUnderlinedCopy(font));
    SetPropW(control, kLinkFromStaticProp, reinterpret_cast<HANDLE>(1));
    return TRUE;
}

LRESULT CALLBACK LinkParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC replaced = ReplacedProc(hwnd);
    switch (msg) {
    case WM_DESTROY:
        Unsubclass(hwnd, replaced);
        break;
    case WM_CTLCOLORSTATIC:
        if (GetPropW(reinterpret_cast<HWND>(lParam), kLinkFromStaticProp)) {
            // The dialog's own handling picks the background first; only the colour changes.
            LRESULT brush = PassOn(replaced, hwnd, msg, wParam, lParam);
            SetTextColor(reinterpret_cast<HDC>(wParam), kLinkTextColor);
            return brush;
        }
        break;
    }
    return PassOn(replaced, hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK LinkControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC replaced = ReplacedProc(hwnd);
    switch (msg) {
    case WM_SETCURSOR:
        return OnLinkSetCursor();
    case WM_MOUSEMOVE:
        OnLinkMouseMove(hwnd, lParam);
        break;
    case WM_DESTROY:
        OnLinkDestroy(hwnd, replaced);
        break;
    }
    return PassOn(replaced, hwnd, msg, wParam, lParam);
}
