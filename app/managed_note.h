#pragma once

#include <windows.h>

// What a dialog shows beside a setting Group Policy sets, its control locked. Most settings
// are read at each use, so the policy's value is the one in force.
constexpr const wchar_t* kSetByOrganization = L"(set by your organization)";
// Action and AlarmTime are read when Kalnix starts: a policy value that is not yet the one in
// force says when it will be.
constexpr const wchar_t* kSetByOrganizationNextStart = L"(set by your organization; applies at the next start)";

// Adds `text` as a static text of its own (IDC_MANAGED_NOTE) in the dialog's font, at `x`, `y`
// with room `width` x `height`, all in the dialog's units: the template keeps its controls,
// and the note takes a place the template leaves free. Null when it cannot be made.
HWND ShowManagedSettingsNote(HWND dialog, int x, int y, int width, int height, const wchar_t* text);
