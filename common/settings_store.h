#pragma once

#include <windows.h>

#include "common/settings_key.h"

// The tray application's process-wide handle, opened before the entry function runs
// (null when the open failed) and closed at process exit.
extern HKEY g_settingsKey;

// Opens the process-wide handle and registers its close for process exit.
void OpenProcessSettingsKey();
// Closes the process-wide handle if it is open.
void CloseProcessSettingsKey();

// Opens a fresh handle with query and set access; logs "ROKE Failed: %d\n" and leaves
// *key null on failure. The caller closes a non-null handle.
void OpenSettingsKey(HKEY* key);

// Reads a 32-bit value (any type, at most 4 bytes). On failure logs "RQVE Failed: %d\n"
// with the registry status and leaves *destination unchanged.
bool ReadSettingDword(const wchar_t* name, DWORD* destination, HKEY key);

// For settings whose absence is the usual case (no log line for it): opens the key with
// query and set access without logging a failure; null when it cannot be opened.
HKEY OpenSettingsKeyQuietly();
// Reads a REG_DWORD setting through a handle of its own, without logging; false when the
// key or the value is missing or is not a 4-byte REG_DWORD, and *value is then unchanged.
bool ReadSettingDwordQuietly(const wchar_t* name, DWORD* value);

// Writes a REG_DWORD through the process-wide handle; logs "RSVE Failed: %d\n" on failure.
void WriteSettingDword(const wchar_t* name, DWORD value);
