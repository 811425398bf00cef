#pragma once

#include <windows.h>

// A number field that a check box or radio button leads into, with its unit after it ("Put
// the laptop to rest when the alarm rang unheard for [60] seconds"). A screen reader names an
// edit box after the static text before it, which the templates make the unit; the name given
// here says the whole line: "Put the laptop to rest when the alarm rang unheard for (seconds)".

// Names the field `fieldId` after the texts of `leadId` and `unitId`, access keys left out.
void NameFieldAfterItsLine(HWND dialog, int fieldId, int leadId, int unitId);
// Takes the name back, for a dialog that is going (WM_DESTROY).
void ForgetFieldName(HWND dialog, int fieldId);
