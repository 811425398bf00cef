#pragma once

#include <windows.h>

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// Paints the logo record's bitmap at (0, 20).
void DrawLogo(HDC dc);
