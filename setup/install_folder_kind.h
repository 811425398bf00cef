#pragma once

#include <string>

// Where an install folder lies, as the setup program judges it before it checks the folder
// itself: inside Program Files the folder keeps what it inherits; elsewhere it gets permissions
// of its own, unless those belong to the system.
enum class InstallFolderKind {
    InProgramFiles,   // below the architecture's Program Files: checked, never re-permissioned
    Outside,          // anywhere else on a drive: created or secured administrators-only
    NotOnADrive,      // not "X:\...": a share or a device path
    SystemFolder,     // a drive's root or a Program Files folder itself
    InWindowsFolder,  // the Windows folder or anything in it
};

// `folder` is a full path without a trailing backslash; `programFiles` the architecture's
// Program Files, `otherProgramFiles` the other one ("" on 32-bit Windows); any case.
InstallFolderKind ClassifyInstallFolder(const std::wstring& folder, const std::wstring& programFiles,
                                        const std::wstring& otherProgramFiles, const std::wstring& windows);

// True when `path` is `folder` or lies inside it, by whole path components, any case.
bool IsInFolder(const std::wstring& path, const std::wstring& folder);
