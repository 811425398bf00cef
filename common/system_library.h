#pragma once

#include <windows.h>

// Kalnix runs elevated: a library found by a search (its own folder, the current folder, PATH)
// could be anybody's. Only KnownDLLs are imported; every other library comes from System32.

// Makes System32 the only folder searched for the libraries this process loads later, by Kalnix
// or by Windows' own libraries on its behalf. Call it first thing. Windows 7 without its loader
// update lacks the call: nothing changes there, and Kalnix's own loads name System32 themselves.
void RestrictLibrarySearch();

// Loads a library of Windows ("powrprof.dll") from System32, never from anywhere else. Null
// when it cannot be loaded, with the thread's last error saying why.
HMODULE LoadSystemLibrary(const wchar_t* name);
