#pragma once

#include <windows.h>

#include <aclapi.h>

// The calls through which a folder is checked and given its security descriptor. Wine keeps
// no security descriptor for files, reports every drive as keeping permissions, names the
// Unix user as every file's owner and makes no junctions, so tests swap these to show what
// Windows would answer and to read back what was asked for.
struct FolderSecurityCalls {
    decltype(&::GetVolumeInformationW) getVolumeInformation;
    decltype(&::GetFileAttributesW) getFileAttributes;
    decltype(&::CreateDirectoryW) createDirectory;
    decltype(&::GetSecurityInfo) getSecurityInfo;
    decltype(&::SetSecurityInfo) setSecurityInfo;
};
extern FolderSecurityCalls g_folderSecurity;

// Owner Administrators; inheritance removed; Administrators and SYSTEM full control, Users
// read and execute; every ACE inherited by subfolders and files.
constexpr const wchar_t kSafeFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
