#include "setup/log_folder.h"

#include <cwchar>
#include <string>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"
#include "setup/folder_security.h"

LogFolderCalls g_logFolder = {&::CreateDirectoryW, &::GetSecurityInfo, &::SetSecurityInfo,
                              &::GetFileInformationByHandle};

namespace {

// Every log that the setup program, the uninstaller and this library write in the folder.
const wchar_t* const kLogNames[] = {L"KalnixSetup.log", L"KalnixUninstall.log", L"Kalnix.log"};

// A folder that keeps coming back as another's after being set aside is given up on.
constexpr int kFolderAttempts = 3;

// The item at `path` itself, never what a link there points to.
bool OpenItself(const std::wstring& path, DWORD access, ScopedFile& item) {
    item.Reset(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return item.valid();
}

bool IsOwnAccount(PSID sid) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenUser, &info, sizeof(info), &size) && EqualSid(sid, info.user.User.Sid);
}

// Administrators, SYSTEM or the account running this program: a standard user can give a file
// none of these owners.
bool OwnedByTrustedAccount(HANDLE item) {
    PSID owner = nullptr;
    ScopedLocal descriptor;
    if (g_logFolder.getSecurityInfo(item, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                    nullptr, descriptor.put()) != ERROR_SUCCESS ||
        !owner) {
        return false;
    }
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid) ||
           IsOwnAccount(owner);
}

// A plain folder or file as `wantFolder` says, not a link of any kind, made by a trusted
// account. A file with a second name is the name of another file, wherever that lies.
bool IsTrusted(HANDLE item, bool wantFolder, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!g_logFolder.getFileInformation(item, &information)) {
        LogFormatted(L"CA: GetFileInformationByHandle failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    bool isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || isFolder != wantFolder) {
        LogFormatted(L"CA: Not a plain %ls: %ls", wantFolder ? L"folder" : L"file", path.c_str());
        return false;
    }
    if (!wantFolder && information.nNumberOfLinks != 1) {
        LogFormatted(L"CA: %ls has %d names", path.c_str(), static_cast<int>(information.nNumberOfLinks));
        return false;
    }
    if (!OwnedByTrustedAccount(item)) {
        LogFormatted(L"CA: %ls is owned by another account", path.c_str());
        return false;
    }
    return true;
}

// Renames whatever stands at `path` beside it; a link is renamed itself, not its target. It is
// kept, not deleted: an administrator may want to see what was planted.
bool SetAside(const std::wstring& path) {
    wchar_t suffix[64];
    swprintf(suffix, 64, L"%ls%lu-%lu", kSetAsideSuffix, static_cast<unsigned long>(GetCurrentProcessId()),
             static_cast<unsigned long>(GetTickCount()));
    std::wstring aside = path + suffix;
    if (!MoveFileExW(path.c_str(), aside.c_str(), 0)) {
        LogFormatted(L"CA: MoveFileEx failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    LogFormatted(L"CA: Set aside as %ls", aside.c_str());
    return true;
}

bool ApplyDacl(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    DWORD status = g_logFolder.setSecurityInfo(folder, SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                               nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS) {
        LogFormatted(L"CA: SetSecurityInfo failed: %d", static_cast<int>(status));
        return false;
    }
    return true;
}

// A new folder is created administrators-only, so no one can open it in between. An existing
// one is taken when a trusted account made it, and given that DACL again; anything else there
// (a user's folder, a junction, a file) is set aside and the folder made anew.
bool HoldSafeFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
        if (g_logFolder.createDirectory(folder.c_str(), &attributes)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            LogFormatted(L"CA: CreateDirectory failed: %d", static_cast<int>(GetLastError()));
            return false;
        }
        ScopedFile existing;
        if (OpenItself(folder, READ_CONTROL | WRITE_DAC, existing) && IsTrusted(existing.get(), true, folder)) {
            return ApplyDacl(existing.get(), descriptor);
        }
        existing.Reset();
        if (!SetAside(folder)) return false;
    }
    LogFormatted(L"CA: %ls keeps coming back", folder.c_str());
    return false;
}

// A log already there is written on only when a trusted account made it; anything else is set
// aside, so that no line goes where a user chose.
bool ClearForLog(const std::wstring& path) {
    ScopedFile existing;
    if (!OpenItself(path, READ_CONTROL | FILE_READ_ATTRIBUTES, existing)) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    } else if (IsTrusted(existing.get(), false, path)) {
        return true;
    }
    existing.Reset();
    return SetAside(path);
}

}  // namespace

bool __stdcall SetLogPath(const wchar_t* path) { return SetLogFilePath(path); }

bool __stdcall PrepareLogFolder(const wchar_t* folder) {
    LogMessage(L"CA: Entering PrepareLogFolder");
    ScopedLocal descriptor;
    if (MakeSafeFolderDescriptor(&descriptor) != ERROR_SUCCESS) return false;
    std::wstring path = folder;
    if (!HoldSafeFolder(path, descriptor.get())) return false;
    for (const wchar_t* name : kLogNames) {
        if (!ClearForLog(path + L"\\" + name)) return false;
    }
    return true;
}
