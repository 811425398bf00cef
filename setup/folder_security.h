#pragma once

#include <windows.h>

#include <aclapi.h>

// The two calls that give a folder its security descriptor. Wine keeps no security
// descriptor for files, so tests swap these to read back what was asked for.
struct FolderSecurityCalls {
    decltype(&::CreateDirectoryW) createDirectory;
    decltype(&::SetNamedSecurityInfoW) setNamedSecurityInfo;
};
extern FolderSecurityCalls g_folderSecurity;

// Owner Administrators; inheritance removed; Administrators and SYSTEM full control, Users
// read and execute; every ACE inherited by subfolders and files.
constexpr const wchar_t kSafeFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
