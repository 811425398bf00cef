#include "kalnix_process.h"

#include <cstring>
#include <vector>

#include "support/power_standin.h"
#include "support/test_support.h"

KalnixProcess::~KalnixProcess() {
    if (!process_.hProcess) return;
    if (running()) TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

bool KalnixProcess::Prepare(const wchar_t* scratchName) {
    directory_ = MakeScratchDirectory(scratchName);
    return CopyFileTo(std::wstring(KALNIX_BIN_DIR_W) + L"\\Kalnix.exe", directory_ + L"\\Kalnix.exe") &&
           CopyPowerStandinTo(directory_);
}

bool KalnixProcess::Start() {
    std::wstring command = L"\"" + directory_ + L"\\Kalnix.exe\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory_.c_str(), &startup,
                        &process_)) {
        return false;
    }
    return WaitUntil(
        [&] {
            HWND found = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
            DWORD owner = 0;
            if (found) GetWindowThreadProcessId(found, &owner);
            if (owner != process_.dwProcessId) return false;
            window_ = found;
            return true;
        },
        10000);
}

DWORD KalnixProcess::End(DWORD* elapsedMs) {
    DWORD start = GetTickCount();
    SendMessageTimeoutW(window_, WM_DESTROY, 0, 0, SMTO_NORMAL, 10000, nullptr);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(process_.hProcess, &code);
    if (elapsedMs) *elapsedMs = GetTickCount() - start;
    return code;
}

bool KalnixProcess::running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::string KalnixProcess::Log() const {
    return ReadFileBytes(directory_ + L"\\Kalnix.log");
}

bool PeExportsName(const std::wstring& path, const char* name) {
    std::string image = ReadFileBytes(path);
    auto at = [&](size_t offset, size_t size) { return offset + size <= image.size(); };
    auto u32 = [&](size_t offset) {
        DWORD value = 0;
        memcpy(&value, image.data() + offset, 4);
        return value;
    };
    if (!at(0x3C, 4)) return false;
    size_t nt = u32(0x3C);
    if (!at(nt, sizeof(IMAGE_NT_HEADERS32))) return false;
    IMAGE_NT_HEADERS32 headers;
    memcpy(&headers, image.data() + nt, sizeof(headers));
    const IMAGE_DATA_DIRECTORY& exports = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    size_t sections = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + headers.FileHeader.SizeOfOptionalHeader;
    // Turns a relative virtual address into a file offset through the section table.
    auto fileOffset = [&](DWORD rva, size_t* offset) {
        for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!at(sections + i * sizeof(section), sizeof(section))) return false;
            memcpy(&section, image.data() + sections + i * sizeof(section), sizeof(section));
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
                *offset = rva - section.VirtualAddress + section.PointerToRawData;
                return true;
            }
        }
        return false;
    };
    size_t directory = 0;
    if (!exports.VirtualAddress || !fileOffset(exports.VirtualAddress, &directory) ||
        !at(directory, sizeof(IMAGE_EXPORT_DIRECTORY))) {
        return false;
    }
    IMAGE_EXPORT_DIRECTORY table;
    memcpy(&table, image.data() + directory, sizeof(table));
    size_t names = 0;
    if (!fileOffset(table.AddressOfNames, &names)) return false;
    for (DWORD i = 0; i < table.NumberOfNames; ++i) {
        size_t nameOffset = 0;
        if (!at(names + i * 4, 4) || !fileOffset(u32(names + i * 4), &nameOffset)) return false;
        if (image.compare(nameOffset, strlen(name) + 1, name, strlen(name) + 1) == 0) return true;
    }
    return false;
}
