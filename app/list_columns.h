#pragma once

#include <windows.h>

// Adds a report-view list's column, its width given in the dialog's units so that it scales
// with the dialog's font.
void AddListColumn(HWND list, int index, const wchar_t* title, int widthInDialogUnits);
