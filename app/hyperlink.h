#pragma once

#include <windows.h>

// Window properties of a link control and its parent. Both windows carry the replaced
// window procedure under the same name.
constexpr const wchar_t* kLinkOriginalProcProp = L"_Hyperlink_Original_Proc_";
constexpr const wchar_t* kLinkOriginalFontProp = L"_Hyperlink_Original_Font_";
constexpr const wchar_t* kLinkUnderlineFontProp = L"_Hyperlink_Underline_Font_";
constexpr const wchar_t* kLinkFromStaticProp = L"_Hyperlink_From_Static_";

// Dark blue: red 0, green 0, blue 192.
constexpr COLORREF kLinkTextColor = 0x00C00000;

// Turns a dialog's static control into a link: dark-blue text, hand cursor, underline on
// hover, clicks as STN_CLICKED. Call once per control during WM_INITDIALOG.
BOOL MakeStaticLink(HWND control);
LRESULT CALLBACK LinkParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LinkControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
