#pragma once

#include <windows.h>

#include <string>

// The public properties of the Windows Installer packages, checked as the setup program checks
// its /MODE= and /ALARMTIME=: a mistyped value must not be ignored on a thousand laptops. An
// empty text means the property was not given.

// The number of one of the modes of Action's range ("1" or "2"), without leading zeros.
bool ParseModeOption(const std::wstring& text, DWORD* mode);

// 1 to 9 decimal digits (leading zeros allowed) whose value lies in AlarmTime's range.
bool ParseAlarmTimeOption(const std::wstring& text, DWORD* seconds);
