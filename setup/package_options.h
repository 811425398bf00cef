#pragma once

#include <windows.h>

#include <string>

// The public properties of the Windows Installer packages, checked as the setup program checks
// its /MODE= and /ALARMTIME=: a mistyped value must not be ignored on a thousand laptops. An
// empty text means the property was not given.

// "1" or "2" and nothing else.
bool ParseModeOption(const std::wstring& text, DWORD* mode);

// 1 to 9 decimal digits (leading zeros allowed) whose value is 5 to 60.
bool ParseAlarmTimeOption(const std::wstring& text, DWORD* seconds);
