#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Reading the headers of a mapped image (a loaded module, or a file mapped by
// ImportedModules(path)), so build checks see exactly what the loader sees.

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module);

template <class T>
const T* AtRva(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

// The DLL names in the module's import table, spelled as the table spells them.
std::vector<std::string> ImportedModules(HMODULE module);
// The same for a file, mapped without running it or loading its imports; empty when it
// cannot be mapped.
std::vector<std::string> ImportedModules(const std::wstring& path);

// True when the module file exports `name`.
bool ExportsName(const std::wstring& path, const char* name);

// True when `name` is one of `allowed`, ignoring letter case.
bool IsOneOf(const std::string& name, const std::vector<std::string>& allowed);
