#pragma once

#include <windows.h>

#include <string>

// What a test expects that differs between the two architectures, in one table.
struct ArchFacts {
    const wchar_t* name;       // "x86" or "x64", as in the build tree and setup program names
    WORD machine;              // the PE header's machine field
    bool decoratedExports;     // stdcall exports as _Name@bytes (x86) or plain names (x64)
    DWORD notifyRecordSize;    // NOTIFYICONDATAW up to and including the balloon flags (before Vista)
    DWORD notifyRecordFullSize;  // the whole NOTIFYICONDATAW, with the balloon's icon (Vista and later)
};

inline constexpr ArchFacts kArchFacts[] = {
    {L"x86", IMAGE_FILE_MACHINE_I386, true, 936, 956},
    {L"x64", IMAGE_FILE_MACHINE_AMD64, false, 952, 976},
};
inline constexpr const ArchFacts& kArch = kArchFacts[sizeof(void*) == 8 ? 1 : 0];

// The name a setup program resolves for an export whose arguments take `argumentBytes` on
// x86: "_Name@bytes" there, "Name" on x64.
inline std::string ExportName(const char* name, int argumentBytes) {
    if (!kArch.decoratedExports) return name;
    return "_" + std::string(name) + "@" + std::to_string(argumentBytes);
}
