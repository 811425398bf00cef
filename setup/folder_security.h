#pragma once

#include <windows.h>

#include <winternl.h>

#include <aclapi.h>
#include <sddl.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"

// The calls through which a folder is checked and given its security descriptor. Wine keeps
// no security descriptor for files (it shows every file as its one user's, with full
// control), reports every drive as a fixed one keeping permissions and makes no junctions, so
// tests swap these to show what Windows would answer and to read back what was asked for.
struct FolderSecurityCalls {
    decltype(&::GetVolumeInformationW) getVolumeInformation;
    decltype(&::GetFileAttributesW) getFileAttributes;
    decltype(&::CreateDirectoryW) createDirectory;
    decltype(&::GetSecurityInfo) getSecurityInfo;
    decltype(&::SetSecurityInfo) setSecurityInfo;
    // ntdll's NtCreateFile: a folder or file opened or created by its name in the folder above.
    decltype(&::NtCreateFile) createFile;
    decltype(&::GetFileInformationByHandle) getFileInformation;
    decltype(&::GetDriveTypeW) getDriveType;
    // The folder that holds the users' profiles, as GetProfilesDirectoryW gives it.
    BOOL(WINAPI* getProfilesDirectory)(LPWSTR directory, LPDWORD chars);
    // True on Wine, whose one user, an administrator, owns every file.
    bool (*runsOnWine)();
};
extern FolderSecurityCalls g_folderSecurity;

// Owner Administrators; inheritance removed; Administrators and SYSTEM full control, Users
// read and execute; every ACE inherited by subfolders and files.
constexpr const wchar_t kSafeFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// That descriptor, made into `descriptor`: ERROR_SUCCESS, or the conversion's error, logged.
// Inline: the log folder's code is also built without the rest of this file's.
inline DWORD MakeSafeFolderDescriptor(ScopedLocal* descriptor) {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSafeFolderSddl, SDDL_REVISION_1, descriptor->put(),
                                                             nullptr)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    LogFormatted(L"CA: ConvertStringSecurityDescriptorToSecurityDescriptor failed: %d", static_cast<int>(error));
    return error;
}

// One of the files that setup and Kalnix put in Kalnix's folder (any case).
bool IsKalnixFile(const wchar_t* name);
