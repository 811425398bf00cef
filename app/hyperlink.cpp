#include "app/hyperlink.h"

#include <windowsx.h>

#include <cmath>

#include "app/high_contrast.h"
#include "common/accessible_role.h"

namespace {

// Red 0, green 0, blue 192: Kalnix's links before they took the system's colour.
constexpr COLORREF kClassicLinkColor = 0x00C00000;
constexpr double kLeastContrast = 3.0;

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

// `font` becomes the link's plain font, with an underlined copy made from it (the one
// before, if any, deleted).
void TakeFont(HWND control, HFONT font) {
    if (HANDLE underline = GetPropW(control, kLinkUnderlineFontProp)) DeleteObject(underline);
    SetPropW(control, kLinkOriginalFontProp, font);
    SetPropW(control, kLinkUnderlineFontProp, CreateUnderlinedCopy(font));
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

// A font from outside (the dialog manager's, remade at a new DPI) becomes the link's plain
// font; a hovered link shows the new underlined copy instead. Returns the font to select.
HFONT OnLinkSetFont(HWND control, HFONT font) {
    if (!font || font == GetPropW(control, kLinkOriginalFontProp) || font == GetPropW(control, kLinkUnderlineFontProp)) {
        return font;  // none, or the link's own choice between its two fonts
    }
    TakeFont(control, font);
    if (GetCapture() != control) return font;
    return static_cast<HFONT>(GetPropW(control, kLinkUnderlineFontProp));
}

// Enter and Space (as key or character) go to a focused link: the dialog manager would take
// Enter for the default button and do nothing with Space.
bool IsClickKey(WPARAM key) { return key == VK_RETURN || key == VK_SPACE; }

LRESULT OnLinkGetDlgCode(LRESULT code, const MSG* message) {
    if (message && (message->message == WM_KEYDOWN || message->message == WM_CHAR) && IsClickKey(message->wParam)) {
        code |= DLGC_WANTMESSAGE;
    }
    return code;
}

// Enter or Space clicks the link, once however long the key is held. False for other keys.
bool OnLinkKeyDown(HWND control, WPARAM key, LPARAM flags) {
    if (!IsClickKey(key)) return false;
    const bool repeated = (flags & (1 << 30)) != 0;
    if (!repeated) {
        SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), STN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    }
    return true;
}

// The focus rectangle around the text, over what the static control painted, while the link
// has the focus and the dialog shows focus cues (once the keyboard has been used). Clipped to
// what was painted: the rectangle is drawn inverted, and twice it would vanish.
void DrawLinkFocus(HWND control, HRGN painted) {
    if (GetFocus() != control || (SendMessageW(control, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) return;
    HDC dc = GetDC(control);
    if (!dc) return;
    SelectClipRgn(dc, painted);
    wchar_t text[128];
    int length = GetWindowTextW(control, text, ARRAYSIZE(text));
    RECT bounds;
    GetClientRect(control, &bounds);
    RECT around = bounds;
    HGDIOBJ previous = SelectObject(dc, EffectiveFont(control));
    DrawTextW(dc, text, length, &around, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
    IntersectRect(&around, &around, &bounds);
    DrawFocusRect(dc, &around);
    ReleaseDC(control, dc);
}

LRESULT OnLinkPaint(WNDPROC replaced, HWND control, WPARAM wParam, LPARAM lParam) {
    HRGN painted = CreateRectRgn(0, 0, 0, 0);
    if (painted && GetUpdateRgn(control, painted, FALSE) == ERROR) {
        DeleteObject(painted);
        painted = nullptr;
    }
    LRESULT result = PassOn(replaced, control, WM_PAINT, wParam, lParam);
    if (painted) {
        DrawLinkFocus(control, painted);
        DeleteObject(painted);
    }
    return result;
}

void OnLinkDestroy(HWND control, WNDPROC replaced) {
    Unsubclass(control, replaced);
    HANDLE original = GetPropW(control, kLinkOriginalFontProp);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(original), FALSE);
    RemovePropW(control, kLinkOriginalFontProp);
    if (HANDLE underline = GetPropW(control, kLinkUnderlineFontProp)) DeleteObject(underline);
    RemovePropW(control, kLinkUnderlineFontProp);
    RemovePropW(control, kLinkFromStaticProp);
    ClearRoleAnnotation(control);
}

// Relative luminance (WCAG 2) of a colour, for the contrast of text against its background.
double Luminance(COLORREF colour) {
    auto linear = [](BYTE channel) {
        double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) + 0.0722 * linear(GetBValue(colour));
}

}  // namespace

COLORREF ReadableLinkColor(COLORREF link, COLORREF background, bool highContrast) {
    if (highContrast) return link;
    double a = Luminance(link) + 0.05, b = Luminance(background) + 0.05;
    return (a > b ? a / b : b / a) >= kLeastContrast ? link : kClassicLinkColor;
}

COLORREF LinkTextColor() {
    return ReadableLinkColor(GetSysColor(COLOR_HOTLIGHT), GetSysColor(COLOR_BTNFACE), HighContrastOn());
}

BOOL MakeStaticLink(HWND control) {
    HWND parent = GetParent(control);
    // A parent with several links is subclassed once.
    if (parent && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent, GWLP_WNDPROC)) != LinkParentProc) {
        Subclass(parent, LinkParentProc);
    }
    // Tab reaches the link; the dialog template keeps it a plain static text.
    SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY | WS_TABSTOP);
    Subclass(control, LinkControlProc);
    TakeFont(control, EffectiveFont(control));
    SetPropW(control, kLinkFromStaticProp, reinterpret_cast<HANDLE>(1));
    // Without it a screen reader calls the link text; the link works either way.
    AnnotateRole(control, ROLE_SYSTEM_LINK);
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
            SetTextColor(reinterpret_cast<HDC>(wParam), LinkTextColor());
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
    case WM_SETFONT:
        return PassOn(replaced, hwnd, msg, reinterpret_cast<WPARAM>(OnLinkSetFont(hwnd, reinterpret_cast<HFONT>(wParam))),
                      lParam);
    case WM_GETDLGCODE:
        return OnLinkGetDlgCode(PassOn(replaced, hwnd, msg, wParam, lParam), reinterpret_cast<const MSG*>(lParam));
    case WM_KEYDOWN:
        if (OnLinkKeyDown(hwnd, wParam, lParam)) return 0;
        break;
    case WM_PAINT:
        return OnLinkPaint(replaced, hwnd, wParam, lParam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        // Drawn anew with or without the focus rectangle.
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
    case WM_DESTROY:
        OnLinkDestroy(hwnd, replaced);
        break;
    }
    return PassOn(replaced, hwnd, msg, wParam, lParam);
}
