#include "setup/folder_security.h"

#include <sddl.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

FolderSecurityCalls g_folderSecurity = {&::CreateDirectoryW, &::SetNamedSecurityInfoW};

namespace {

// A new folder is created with the descriptor, so that no one can open it in between.
bool CreateSafeFolder(const wchar_t* folder, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    if (!g_folderSecurity.createDirectory(folder, &attributes)) {
        LogFormatted(L"CA: CreateDirectory failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

// An existing folder gets the owner and the protected DACL; Windows passes the inheritable
// ACEs on to what the folder already holds.
bool SecureExistingFolder(const wchar_t* folder, PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    DWORD status = g_folderSecurity.setNamedSecurityInfo(const_cast<wchar_t*>(folder), SE_FILE_OBJECT, parts,
                                                         owner, nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: SetNamedSecurityInfo failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

}  // namespace

bool __stdcall SecureFolder(const wchar_t* folder) {
    LogMessage(L"CA: Entering SecureFolder");
    // The descriptor the SDDL conversion allocates.
    ScopedLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSafeFolderSddl, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
        LogFormatted(L"CA: ConvertStringSecurityDescriptorToSecurityDescriptor failed: %d",
                     static_cast<int>(GetLastError()));
        return false;
    }
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return CreateSafeFolder(folder, descriptor.get());
    // A junction or link would hand the permissions, and later the files, to another folder.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LogFormatted(L"CA: Not a plain folder: %d", static_cast<int>(attributes));
        return false;
    }
    return SecureExistingFolder(folder, descriptor.get());
}
