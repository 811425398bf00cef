#pragma once

#include <windows.h>

// A setting as Kalnix applies it: Group Policy's value when a policy sets it, else the local
// value in the settings key (a 4-byte REG_DWORD). Quiet: an absent value is the usual case.
// False when neither has it; *value is then unchanged.
bool ReadEffectiveSetting(const wchar_t* name, DWORD* value);
