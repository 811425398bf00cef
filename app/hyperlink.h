#pragma once

#include <windows.h>

// Turns a dialog's static control into a link: dark-blue text, hand cursor, underline on
// hover, clicks as STN_CLICKED. Call once per control during WM_INITDIALOG.
BOOL MakeStaticLink(HWND control);
LRESULT CALLBACK LinkParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LinkControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
