#pragma once

#include <windows.h>

// A function looked up at run time in a system library the process has already loaded
// (kernel32, user32): never loaded by a search, since Kalnix runs elevated. Null where this
// Windows lacks it, with the thread's last error saying why.
template <class Function>
Function LoadedFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (!handle) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}
