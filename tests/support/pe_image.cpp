#include "support/pe_image.h"

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    return AtRva<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
}

std::vector<std::string> ImportedModules(HMODULE module) {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& entry = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (entry.VirtualAddress == 0) return names;
    for (auto import = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, entry.VirtualAddress); import->Name != 0; ++import)
        names.push_back(AtRva<char>(module, import->Name));
    return names;
}

std::vector<std::string> ImportedModules(const std::wstring& path) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) return {};
    std::vector<std::string> names = ImportedModules(module);
    FreeLibrary(module);
    return names;
}

bool ExportsName(const std::wstring& path, const char* name) {
    // Mapped only, never run: enough for the export table.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) return false;
    bool found = GetProcAddress(module, name) != nullptr;
    FreeLibrary(module);
    return found;
}

bool IsOneOf(const std::string& name, const std::vector<std::string>& allowed) {
    for (const std::string& candidate : allowed) {
        if (lstrcmpiA(name.c_str(), candidate.c_str()) == 0) return true;
    }
    return false;
}
