#pragma once

#include <windows.h>

#include "res/resource.h"

// The product website: its host name is the text of the link, and the link opens its https
// address. Built here from the host, so that no other scheme (and no file name that a search
// might find) can be opened.
constexpr const wchar_t* kWebsiteHost = L"" KALNIX_WEBSITE_HOST;
constexpr const wchar_t* kWebsiteAddress = L"https://" KALNIX_WEBSITE_HOST "/";

// Where the logo's top-left corner goes in the dialog's client area at 96 DPI (100 %); the
// place and the logo's size follow the dialog's DPI.
constexpr int kLogoLeft = 0;
constexpr int kLogoTop = 20;

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// Paints the logo record's bitmap for a window of `dpi`: at (0, 20) and its own pixel size
// at 96 DPI, both scaled by dpi / 96 otherwise (the scaled copy is made once per DPI).
void DrawLogo(HDC dc, UINT dpi);
