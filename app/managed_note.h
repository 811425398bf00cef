#pragma once

#include <windows.h>

// The text a settings dialog shows, once, when any of its settings is set by Group Policy.
// The More settings template (res/dialogs.rc) carries the same text: change both together.
constexpr const wchar_t* kManagedSettingsNote = L"Some settings are managed by your organization.";

// Adds the note as a static text of its own (IDC_MANAGED_NOTE) in the dialog's font, at
// `x`, `y` with room `width` x `height`, all in the dialog's units: the template keeps its
// controls, and the note takes a place the template leaves free. Null when it cannot be made.
HWND ShowManagedSettingsNote(HWND dialog, int x, int y, int width, int height);
