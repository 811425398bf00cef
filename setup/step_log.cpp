#include "setup/step_log.h"

#include <cstdio>
#include <vector>

#include "common/diagnostic_log.h"
#include "setup/exports.h"
#include "setup/msi_session.h"

namespace {

void WriteEightBit(HANDLE file, const std::wstring& line) {
    std::wstring text = line + L"\r\n";
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
    if (bytes <= 0) return;
    std::vector<char> buffer(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), buffer.data(), bytes, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(file, buffer.data(), static_cast<DWORD>(bytes), &written, nullptr);
}

// What PrepareLogFolder renamed aside matching `pattern`, by name.
std::vector<std::wstring> NamesLike(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

StepLog::StepLog(MSIHANDLE install, const std::wstring& folder, const wchar_t* name) : install_(install) {
    if (folder.empty() || !PrepareLogFolder(folder.c_str())) return;
    folder_ = folder;
    SetLogPath((folder_ + L"\\Kalnix.log").c_str());
    // Appends only, and shares nothing but reading: no other writer interleaves.
    file_.Reset(CreateFileW((folder_ + L"\\" + name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

StepLog::~StepLog() {
    if (!folder_.empty()) SetLogPath(L"");
}

void StepLog::Line(const std::wstring& text) {
    WriteMsiLogLine(install_, text);
    if (file_.valid()) WriteEightBit(file_.get(), text);
}

void StepLog::NameWhatWasSetAside() {
    if (folder_.empty()) return;
    std::vector<std::wstring> names = NamesLike(folder_ + L".untrusted-*");
    for (const std::wstring& name : NamesLike(folder_ + L"\\*.untrusted-*")) names.push_back(name);
    for (const std::wstring& name : names) {
        Line(L"Set aside, not made by an administrator's program (a user's file, a link, or a second name of "
             L"another file): " + name + L".");
    }
}

std::wstring LocalTimeText() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
    return text;
}
