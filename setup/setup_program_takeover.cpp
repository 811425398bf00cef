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

// Empties and removes the folder; "" when done, else why it was left.
std::wstring RemoveFolderOfKalnix(const std::wstring& folder) {
    wchar_t reason[512] = {};
    if (!CheckInstallFolder(folder.c_str(), reason, 512)) return reason;
    for (const wchar_t* name : kKalnixFiles) DeleteFileW((folder + L"\\" + name).c_str());
    RemoveDirectoryW(folder.c_str());
    if (Exists(folder + L"\\Kalnix.exe")) return folder + L"\\Kalnix.exe could not be removed";
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
                                  StepLog& log) {
    DeleteEntry(0);
    log.Line(L"The setup program's Apps & Features entry Kalnix is removed: this package's is the one left.");
    if (install.folder.empty()) return;
    if (SamePath(install.folder, packageFolder)) {
        DeleteFileW((install.folder + L"\\Uninstall.exe").c_str());
        log.Line(L"The setup program's uninstaller in " + install.folder + L" is removed.");
        return;
    }
    std::wstring left = RemoveFolderOfKalnix(install.folder);
    if (left.empty()) {
        log.Line(L"The setup program's files in " + install.folder + L" are removed.");
    } else {
        log.Line(L"The setup program's folder " + install.folder + L" is left as it is: " + left + L".");
    }
}

void CompleteX86TakeOver(const SetupProgramInstall& install, StepLog& log) {
    if (!DeleteX86Settings()) log.Line(L"The 32-bit Kalnix's settings key could not be deleted.");
    ScopedKey run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, run.put()) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(run.get(), L"Kalnix");
    }
    DeleteEntry(KEY_WOW64_32KEY);
    std::wstring left = install.folder.empty() ? L"" : RemoveFolderOfKalnix(install.folder);
    if (left.empty()) {
        log.Line(L"The 32-bit Kalnix's Run value, files and Apps & Features entry are removed.");
    } else {
        log.Line(L"The 32-bit Kalnix's folder " + install.folder + L" is left as it is: " + left + L".");
    }
}
