#include "setup/install_folder_kind.h"

#include <windows.h>

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IsInFolder(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || path.size() < folder.size()) return false;
    if (!SameText(path.substr(0, folder.size()), folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\';
}

InstallFolderKind ClassifyInstallFolder(const std::wstring& folder, const std::wstring& programFiles,
                                        const std::wstring& otherProgramFiles, const std::wstring& windows) {
    if (IsInFolder(folder, programFiles) && !SameText(folder, programFiles)) return InstallFolderKind::InProgramFiles;
    if (folder.size() < 3 || folder[1] != L':' || folder[2] != L'\\') return InstallFolderKind::NotOnADrive;
    if (folder.size() <= 3 || SameText(folder, programFiles) ||
        (!otherProgramFiles.empty() && SameText(folder, otherProgramFiles))) {
        return InstallFolderKind::SystemFolder;
    }
    if (IsInFolder(folder, windows)) return InstallFolderKind::InWindowsFolder;
    return InstallFolderKind::Outside;
}
