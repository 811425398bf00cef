#include "setup/folder_security.h"

#include <sddl.h>

#include <string>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/owner_check.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

namespace {

NTSTATUS NTAPI NtCreateFileOfNtdll(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io,
                                   PLARGE_INTEGER size, ULONG attributes, ULONG share, ULONG disposition,
                                   ULONG options, PVOID extendedAttributes, ULONG extendedLength) {
    static const auto call = LoadedFunction<decltype(&::NtCreateFile)>(L"ntdll.dll", "NtCreateFile");
    constexpr NTSTATUS kProcedureNotFound = static_cast<NTSTATUS>(0xC000007A);
    if (!call) return kProcedureNotFound;
    return call(file, access, object, io, size, attributes, share, disposition, options, extendedAttributes,
                extendedLength);
}

// Read where userenv.dll reads it, so that the library need not load userenv. RRF_RT_REG_SZ
// alone takes the value's REG_EXPAND_SZ too, expanded ("%SystemDrive%\Users").
BOOL WINAPI ProfilesDirectoryOfRegistry(LPWSTR directory, LPDWORD chars) {
    DWORD bytes = *chars * sizeof(wchar_t);
    LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                               L"ProfilesDirectory", RRF_RT_REG_SZ, nullptr, directory, &bytes);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return FALSE;
    }
    *chars = bytes / sizeof(wchar_t);
    return TRUE;
}

bool RunsOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}


// FAT32 and exFAT keep no permissions: CreateDirectory would drop the descriptor silently.
bool DriveKeepsPermissions(const std::wstring& folder) {
    std::wstring root = folder.substr(0, 3);
    DWORD flags = 0;
    if (!g_folderSecurity.getVolumeInformation(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
        !(flags & FILE_PERSISTENT_ACLS)) {
        LogFormatted(L"CA: The drive of %ls keeps no permissions", folder.c_str());
        return false;
    }
    return true;
}

// A new folder is created with the descriptor, so that no one can open it in between.
bool CreateSafeFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    if (!g_folderSecurity.createDirectory(folder.c_str(), &attributes)) {
        LogFormatted(L"CA: CreateDirectory failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

// Each folder above the install folder: a missing one is created administrators-only, so no
// user can rename it and put another folder in its place; an existing one must not be a
// junction or link, which would send the files elsewhere.
bool PrepareParents(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    for (size_t end = folder.find(L'\\', 3); end != std::wstring::npos; end = folder.find(L'\\', end + 1)) {
        std::wstring parent = folder.substr(0, end);
        DWORD attributes = g_folderSecurity.getFileAttributes(parent.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateSafeFolder(parent, descriptor)) return false;
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            LogFormatted(L"CA: Not a plain folder: %ls", parent.c_str());
            return false;
        }
    }
    return true;
}

bool OwnedByAdministrators(HANDLE folder) {
    return OwnedByAdministratorsOrSystem(g_folderSecurity.getSecurityInfo, folder, SE_FILE_OBJECT);
}

// Anything else in the folder would keep its own owner and permissions: a DLL a user put
// there would load into the elevated Kalnix.
bool HoldsOnlyKalnixFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        LogFormatted(L"CA: Could not list %ls: %d", folder.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    bool onlyKalnix = true;
    do {
        if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !IsKalnixFile(entry.cFileName)) {
            LogFormatted(L"CA: %ls holds %ls, which is not Kalnix's", folder.c_str(), entry.cFileName);
            onlyKalnix = false;
        }
    } while (onlyKalnix && FindNextFileW(search, &entry));
    FindClose(search);
    return onlyKalnix;
}

// An existing folder is checked and secured through one handle, opened on the folder itself
// and not on what a junction points to, so nothing can be swapped in between. It gets the
// owner and the protected DACL; Windows passes the inheritable ACEs on to Kalnix's files.
bool SecureExistingFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    ScopedFile handle(CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
        LogFormatted(L"CA: Could not open %ls: %d", folder.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(handle.get(), &information)) {
        LogFormatted(L"CA: GetFileInformationByHandle failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LogFormatted(L"CA: Not a plain folder: %d", static_cast<int>(attributes));
        return false;
    }
    if (!OwnedByAdministrators(handle.get())) {
        LogFormatted(L"CA: %ls is owned by neither Administrators nor SYSTEM", folder.c_str());
        return false;
    }
    if (!HoldsOnlyKalnixFiles(folder)) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    DWORD status = g_folderSecurity.setSecurityInfo(handle.get(), SE_FILE_OBJECT, parts, owner, nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: SetSecurityInfo failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

}  // namespace

FolderSecurityCalls g_folderSecurity = {&::GetVolumeInformationW,
                                        &::GetFileAttributesW,
                                        &::CreateDirectoryW,
                                        &::GetSecurityInfo,
                                        &::SetSecurityInfo,
                                        &NtCreateFileOfNtdll,
                                        &::GetFileInformationByHandle,
                                        &::GetDriveTypeW,
                                        &ProfilesDirectoryOfRegistry,
                                        &RunsOnWine};

bool IsKalnixFile(const wchar_t* name) {
    // The only files an existing install folder may hold: what setup and Kalnix put there.
    static const wchar_t* const kKalnixFiles[] = {L"Kalnix.exe", L"Uninstall.exe", L"KalnixSetup.log",
                                                  L"Kalnix.log", L"KalnixTask.xml"};
    for (const wchar_t* allowed : kKalnixFiles) {
        if (CompareStringOrdinal(name, -1, allowed, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

bool __stdcall SecureFolder(const wchar_t* folder) {
    LogMessage(L"CA: Entering SecureFolder");
    std::wstring path = folder;
    // Only a full path on a drive letter: its root is where the volume is asked.
    if (path.size() < 4 || path[1] != L':' || path[2] != L'\\') {
        LogFormatted(L"CA: Not a folder on a drive: %ls", folder);
        return false;
    }
    if (!DriveKeepsPermissions(path)) return false;
    // The descriptor the SDDL conversion allocates.
    ScopedLocal descriptor;
    if (MakeSafeFolderDescriptor(&descriptor) != ERROR_SUCCESS) return false;
    if (!PrepareParents(path, descriptor.get())) return false;
    DWORD attributes = g_folderSecurity.getFileAttributes(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return CreateSafeFolder(path, descriptor.get());
    return SecureExistingFolder(path, descriptor.get());
}
