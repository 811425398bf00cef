#pragma once

#include <windows.h>

// Window properties of a link control and its parent. Both windows carry the replaced
// window procedure under the same name.
constexpr const wchar_t* kLinkOriginalProcProp = L"_Hyperlink_Original_Proc_";
constexpr const wchar_t* kLinkOriginalFontProp = L"_Hyperlink_Original_Font_";
constexpr const wchar_t* kLinkUnderlineFontProp = L"_Hyperlink_Underline_Font_";
constexpr const wchar_t* kLinkFromStaticProp = L"_Hyperlink_From_Static_";

// Turns a dialog's static control into a link: text in the system's link colour, hand cursor,
// underline on hover, clicks as STN_CLICKED. It takes the keyboard focus (Tab) and shows it,
// Enter or Space clicks it, and screen readers hear it is a link. Call once per control
// during WM_INITDIALOG.
BOOL MakeStaticLink(HWND control);
LRESULT CALLBACK LinkParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LinkControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The colour of a link's text now: the system's (COLOR_HOTLIGHT, which a high contrast theme
// sets to its colour for links) on the dialog's background (COLOR_BTNFACE).
COLORREF LinkTextColor();
// The link colour to draw on `background`: `link`, unless a theme that is not high contrast
// makes it hard to read there (a contrast below 3:1, as Wine's light grey on light grey):
// then the classic dark blue. A high contrast theme's colours are the user's and always kept.
COLORREF ReadableLinkColor(COLORREF link, COLORREF background, bool highContrast);
