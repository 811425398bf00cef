#pragma once

#include <windows.h>

// Group Policy's values of Kalnix's settings, under HKEY_LOCAL_MACHINE, the way Windows' own
// templates keep them: a policy wins over the local value in the settings key, Kalnix never
// writes it, and removing it brings the local value back. Read quietly: no policy is the usual
// case. Only Kalnix.exe asks; the installer helper library reads no policy.
constexpr const wchar_t* kPolicyKeyPath = L"Software\\Policies\\Kalnix";

// The policy's value of the setting (a 4-byte REG_DWORD), or false when no policy sets it.
bool ReadPolicyDword(const wchar_t* name, DWORD* value);
// True when a policy sets the setting: the user cannot change it.
bool SettingIsManaged(const wchar_t* name);
