#pragma once

#include <windows.h>

#include <msi.h>

#include <string>

// The few calls of msi.dll that the package's actions make, taken from the msi.dll that the
// Windows Installer has already loaded into the process running them: this library imports
// only KnownDLLs, and the setup program, which loads it too, has no msi.dll to offer.

// The property's value; "" when it is empty, missing or cannot be read.
std::wstring MsiProperty(MSIHANDLE install, const wchar_t* name);

// What the planning action hands a deferred action (its CustomActionData).
bool SetMsiProperty(MSIHANDLE install, const wchar_t* name, const std::wstring& value);

// One line in the Windows Installer's own log (msiexec /l*v); the text is not formatted.
void WriteMsiLogLine(MSIHANDLE install, const std::wstring& line);

// False when msi.dll is not loaded in this process (the actions then fail).
bool MsiCallsAvailable();
