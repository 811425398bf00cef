#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The settings key as text that a deferred action's data can carry: the planning action takes
// it before anything changes, and the actions keep or put back what it held. An earlier package
// being replaced may remove the key first (its own removal runs before this installation's
// steps), and a rollback puts the key back exactly as it was.

struct SettingValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

// "Name:type:hex" entries joined by ','; values whose names hold ':', ',' or '|', or that
// are longer than 8192 bytes, are not Kalnix's and are left out.
std::wstring EncodeSettings(const std::vector<SettingValue>& values);
// False when the text is not such a list.
bool DecodeSettings(const std::wstring& text, std::vector<SettingValue>* values);

// A key under HKLM in a registry view (0 for this library's own, or KEY_WOW64_32KEY).
struct KeyPlace {
    const wchar_t* path;
    REGSAM view;
};

// The values of a key; false when there is no such key.
bool ReadKeyValues(const KeyPlace& place, std::vector<SettingValue>* values);

// The key made exactly what it was: deleted with everything in it, then, when it existed,
// created again with its values. False when that could not be done completely.
bool ResetKey(const KeyPlace& place, bool existed, const std::vector<SettingValue>& values);

// The values of HKLM\Software\Kalnix; false when there is no such key.
bool ReadSettingsKey(std::vector<SettingValue>* values);

// Writes each value the key lacks, creating the key; returns the names written, in order.
std::vector<std::wstring> PutBackMissingSettings(const std::vector<SettingValue>& values);

// ResetKey for HKLM\Software\Kalnix.
bool ResetSettingsKey(bool existed, const std::vector<SettingValue>& values);
