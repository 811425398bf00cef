#include "setup/setup_program_takeover.h"

#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/settings_key.h"
#include "setup/earlier_x86_install.h"
#include "setup/exports.h"

namespace {

const wchar_t kUninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalnix";
const wchar_t kRunKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
// What the setup program and Kalnix put in the install folder.
const wchar_t* const kKalnixFiles[] = {L"Kalnix.exe", L"Uninstall.exe", L"Kalnix.log", L"KalnixSetup.log",
                                       L"KalnixTask.xml"};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The entry's InstallLocation in the view `view`; false when there is no entry.
bool ReadEntry(REGSAM view, std::wstring* folder) {
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t location[MAX_PATH * 2] = {};
    DWORD size = sizeof(location) - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), L"InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(location), &size) ==
        ERROR_SUCCESS) {
        *folder = location;
    }
    return true;
}

void DeleteEntry(REGSAM view) {
    LONG status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, view, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogFormatted(L"CA: RegDeleteKeyEx failed: %d", static_cast<int>(status));
    }
}

const wchar_t* KeptName(TakenOver which) { return which == TakenOver::SetupProgram ? L"setup" : L"x86"; }

// Moves `name` of `folder` into `kept` (created when needed), or deletes it when there is no
// keeping folder. False when it is still in `folder`.
bool GiveUpFile(const std::wstring& folder, const wchar_t* name, const std::wstring& kept) {
    const std::wstring path = folder + L"\\" + name;
    if (!Exists(path)) return true;
    if (kept.empty()) return DeleteFileW(path.c_str()) != FALSE;
    CreateDirectoryW(kept.c_str(), nullptr);
    // The keeping folder may be on another drive.
    if (MoveFileExW(path.c_str(), (kept + L"\\" + name).c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING))
        return true;
    LogFormatted(L"CA: MoveFileEx failed: %d", static_cast<int>(GetLastError()));
    return false;
}

std::wstring KeptFolder(const std::wstring& keep, TakenOver which) {
    return keep.empty() ? L"" : keep + L"\\" + KeptName(which);
}

// Gives up the folder's files; "" when done, else why the folder was left.
std::wstring EmptyFolderOfKalnix(const std::wstring& folder, const std::wstring& kept) {
    wchar_t reason[512] = {};
    if (!CheckInstallFolder(folder.c_str(), reason, 512)) return reason;
    bool all = true;
    for (const wchar_t* name : kKalnixFiles) all = GiveUpFile(folder, name, kept) && all;
    if (!all) return folder + L"\\Kalnix.exe could not be removed";
    return L"";
}

bool X86SettingsExist() {
    ScopedKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) ==
           ERROR_SUCCESS;
}

}  // namespace

SetupProgramInstall FindSetupProgramInstall() {
    SetupProgramInstall install;
    install.found = ReadEntry(0, &install.folder);
    return install;
}

SetupProgramInstall FindEarlierX86Install(const std::wstring& programFilesX86) {
    SetupProgramInstall install;
    bool entry = ReadEntry(KEY_WOW64_32KEY, &install.folder);
    if (install.folder.empty() && !programFilesX86.empty()) install.folder = programFilesX86 + L"\\Kalnix";
    install.found = entry || X86SettingsExist() ||
                    (!install.folder.empty() &&
                     (Exists(install.folder + L"\\Kalnix.exe") || Exists(install.folder + L"\\Uninstall.exe")));
    return install;
}

void CompleteSetupProgramTakeOver(const SetupProgramInstall& install, const std::wstring& packageFolder,
                                  const std::wstring& keep, StepLog& log) {
    DeleteEntry(0);
    log.Line(L"The setup program's Apps & Features entry Kalnix is removed: this package's is the one left.");
    if (install.folder.empty()) return;
    const std::wstring kept = KeptFolder(keep, TakenOver::SetupProgram);
    if (SamePath(install.folder, packageFolder)) {
        GiveUpFile(install.folder, L"Uninstall.exe", kept);
        log.Line(L"The setup program's uninstaller in " + install.folder + L" is removed.");
        return;
    }
    std::wstring left = EmptyFolderOfKalnix(install.folder, kept);
    if (left.empty()) {
        log.Line(L"The setup program's files in " + install.folder + L" are removed.");
    } else {
        log.Line(L"The setup program's folder " + install.folder + L" is left as it is: " + left + L".");
    }
}

void CompleteX86TakeOver(const SetupProgramInstall& install, const std::wstring& keep, StepLog& log) {
    if (!DeleteX86Settings()) log.Line(L"The 32-bit Kalnix's settings key could not be deleted.");
    ScopedKey run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, run.put()) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(run.get(), L"Kalnix");
    }
    DeleteEntry(KEY_WOW64_32KEY);
    std::wstring left =
        install.folder.empty() ? L"" : EmptyFolderOfKalnix(install.folder, KeptFolder(keep, TakenOver::X86));
    if (left.empty()) {
        log.Line(L"The 32-bit Kalnix's Run value, files and Apps & Features entry are removed.");
    } else {
        log.Line(L"The 32-bit Kalnix's folder " + install.folder + L" is left as it is: " + left + L".");
    }
}

void PutBackTakenOverFiles(TakenOver which, const std::wstring& folder, const std::wstring& keep) {
    const std::wstring kept = KeptFolder(keep, which);
    if (kept.empty() || folder.empty()) return;
    for (const wchar_t* name : kKalnixFiles) {
        const std::wstring from = kept + L"\\" + name;
        if (Exists(from)) MoveFileExW(from.c_str(), (folder + L"\\" + name).c_str(), MOVEFILE_COPY_ALLOWED);
    }
    RemoveDirectoryW(kept.c_str());
}

void DiscardTakenOverFiles(TakenOver which, const std::wstring& folder, const std::wstring& packageFolder,
                           const std::wstring& keep) {
    const std::wstring kept = KeptFolder(keep, which);
    if (!kept.empty()) {
        for (const wchar_t* name : kKalnixFiles) DeleteFileW((kept + L"\\" + name).c_str());
        RemoveDirectoryW(kept.c_str());
    }
    if (!folder.empty() && !SamePath(folder, packageFolder)) RemoveDirectoryW(folder.c_str());
}
