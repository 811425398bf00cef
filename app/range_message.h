#pragma once

#include "common/setting_table.h"

// The digits of a value: how much of it a dialog's field must let a user type.
constexpr int DigitsOf(DWORD value) { return value < 10 ? 1 : 1 + DigitsOf(value / 10); }

// Shows the message for a typed value outside what the dialog takes for the setting
// ("Possible values for ... are between ... and ... <unit>"), owned by `dialog`.
void ShowRangeMessage(HWND dialog, const SettingFact& fact);
