#pragma once

#include <string>

// The event source "Kalnix" of the Application log, whose messages are in the installed
// Kalnix.exe; the key is the one the setup program writes, in this library's registry view.

// Writes EventMessageFile (REG_EXPAND_SZ) and TypesSupported 7 (error, warning, information).
bool RegisterKalnixEventSource(const std::wstring& messageFile);

// The registered EventMessageFile, unexpanded; false when the source is not registered.
bool ReadKalnixEventSource(std::wstring* messageFile);

// True when the source's key is gone.
bool RemoveKalnixEventSource();

// The key's path below HKLM, for the logs.
extern const wchar_t kEventSourceKeyPath[];
