#pragma once

#include <windows.h>

// The settings key "Software\Kalnix" under HKEY_LOCAL_MACHINE. Neither deliverable
// creates it or deletes its values; the setup program does.
constexpr const wchar_t* kSettingsKeyPath = L"Software\\Kalnix";
constexpr REGSAM kSettingsKeyAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;
