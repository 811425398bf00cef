#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/loaded_function.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"
#include "common/folder_rights.h"
#include "setup/folder_security.h"

namespace {

constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kNameTooLong = static_cast<NTSTATUS>(0xC0000106);

// Enough to read a folder's owner and permissions and to open what it holds.
constexpr ACCESS_MASK kFolderAccess = READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

enum class FolderWork { Check, Secure };

// The folders of the path, each held open from its check until the export returns. Opened
// without FILE_SHARE_DELETE, none of them can be renamed or deleted meanwhile, and one that
// another program holds open to delete or rename cannot be opened at all.
class HeldFolders {
public:
    HeldFolders() = default;
    ~HeldFolders() {
        for (auto handle = handles_.rbegin(); handle != handles_.rend(); ++handle) CloseHandle(*handle);
    }
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    void Hold(HANDLE folder) { handles_.push_back(folder); }
    HANDLE Last() const { return handles_.empty() ? nullptr : handles_.back(); }

private:
    std::vector<HANDLE> handles_;
};

struct Walk {
    FolderWork work;
    PSECURITY_DESCRIPTOR descriptor;  // given to the folders created, and to an existing install folder
    PSID wineUser;
    BY_HANDLE_FILE_INFORMATION profiles;
    std::wstring* reason;
    HeldFolders held;
    bool installFolderExisted;
    ObjectGrant lastGrant;  // of the last folder checked
};

bool Refuse(std::wstring* reason, const std::wstring& path, const std::wstring& why) {
    *reason = path + L" " + why;
    LogFormatted(L"CA: %ls", reason->c_str());
    return false;
}

int ErrorOfStatus(NTSTATUS status) {
    static const auto toError = LoadedFunction<ULONG(WINAPI*)(NTSTATUS)>(L"ntdll.dll", "RtlNtStatusToDosError");
    return static_cast<int>(toError ? toError(status) : static_cast<ULONG>(status));
}

bool Failed(std::wstring* reason, const std::wstring& path, const wchar_t* call, int code, const wchar_t* what) {
    LogFormatted(L"CA: %ls failed: %d", call, code);
    return Refuse(reason, path, std::wstring(what) + L" (error " + std::to_wstring(code) + L")");
}

// `name` in the folder `parent` (or the full NT path `name` when there is none), never
// through a reparse point: a junction or link is opened itself, not what it points to.
NTSTATUS OpenBelow(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                   ULONG options, PSECURITY_DESCRIPTOR descriptor, HANDLE* opened) {
    *opened = nullptr;
    if (name.size() > 0x7FFF) return kNameTooLong;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, parent, descriptor);
    IO_STATUS_BLOCK io = {};
    return g_folderSecurity.createFile(opened, access | SYNCHRONIZE, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                       share, disposition,
                                       options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

NTSTATUS OpenFolderBelow(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG disposition,
                         PSECURITY_DESCRIPTOR descriptor, HANDLE* opened) {
    return OpenBelow(parent, name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, FILE_DIRECTORY_FILE,
                     descriptor, opened);
}

struct PathParts {
    std::wstring root;  // "C:\"
    std::vector<std::wstring> names;
};

// Windows' path rules drop a trailing dot or blank, and read a colon as a stream: such a
// name would have the setup program write to another folder than the one checked here.
bool IsPlainName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ') return false;
    return std::none_of(name.begin(), name.end(),
                        [](wchar_t c) { return c < 32 || wcschr(L":*?\"<>|/", c) != nullptr; });
}

// "X:\" and at least one plain name, one trailing backslash allowed.
bool SplitFolderPath(std::wstring folder, PathParts* parts) {
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.size() < 4) return false;
    wchar_t drive = towupper(folder[0]);
    if (drive < L'A' || drive > L'Z' || folder[1] != L':' || folder[2] != L'\\') return false;
    parts->root = folder.substr(0, 3);
    for (size_t start = 3;;) {
        size_t end = folder.find(L'\\', start);
        std::wstring name = folder.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!IsPlainName(name)) return false;
        parts->names.push_back(name);
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

// A removable drive can be changed on another computer, and FAT32 or exFAT keep no
// permissions at all.
bool DriveIsFit(const std::wstring& root, std::wstring* reason) {
    if (g_folderSecurity.getDriveType(root.c_str()) != DRIVE_FIXED)
        return Refuse(reason, root, L"is not a fixed drive");
    DWORD flags = 0;
    if (!g_folderSecurity.getVolumeInformation(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
        !(flags & FILE_PERSISTENT_ACLS))
        return Refuse(reason, root, L"is a drive that keeps no permissions");
    return true;
}

// Wine shows its one user, an administrator, as the owner of every file with full control:
// there that user counts with the administrators. Empty on Windows.
std::vector<BYTE> WineUser() {
    std::vector<BYTE> user;
    ScopedHandle token;
    DWORD size = 0;
    if (!g_folderSecurity.runsOnWine() || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return user;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) user.clear();
    return user;
}

PSID SidOfUser(std::vector<BYTE>& user) {
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

bool ReadProfilesFolder(BY_HANDLE_FILE_INFORMATION* identity, std::wstring* reason) {
    wchar_t directory[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    if (!g_folderSecurity.getProfilesDirectory(directory, &chars))
        return Failed(reason, L"The users' profiles folder", L"GetProfilesDirectory", static_cast<int>(GetLastError()),
                      L"could not be found");
    ScopedFile folder(CreateFileW(directory, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid() || !g_folderSecurity.getFileInformation(folder.get(), identity))
        return Failed(reason, directory, L"CreateFile", static_cast<int>(GetLastError()), L"could not be opened");
    return true;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& one, const BY_HANDLE_FILE_INFORMATION& other) {
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}

// A folder on the path, open as `folder`: a plain folder, not the profiles' one, whose owner
// and permissions keep users from changing what lies at `path`.
bool CheckFolder(Walk& walk, HANDLE folder, const std::wstring& path, FolderPlace place) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!g_folderSecurity.getFileInformation(folder, &information))
        return Failed(walk.reason, path, L"GetFileInformationByHandle", static_cast<int>(GetLastError()),
                      L"could not be read");
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Refuse(walk.reason, path, L"is a junction or link");
    // A later user's profile could take the name of a folder made there.
    if (SameFile(information, walk.profiles)) return Refuse(walk.reason, path, L"holds the users' profiles");
    ScopedLocal descriptor;
    DWORD status =
        g_folderSecurity.getSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, nullptr, nullptr, descriptor.put());
    if (status != ERROR_SUCCESS)
        return Failed(walk.reason, path, L"GetSecurityInfo", static_cast<int>(status), L"could not be read");
    walk.lastGrant = ReadObjectGrant(descriptor.get(), walk.wineUser);
    const wchar_t* refusal = FolderRefusal(walk.lastGrant, place);
    return refusal ? Refuse(walk.reason, path, refusal) : true;
}

// A file a user owns keeps that owner when setup writes it, and a file with a second name
// (a hard link) may be a user's own file under Kalnix's name.
bool IsSafeKalnixFile(Walk& walk, HANDLE folder, const std::wstring& path, const WIN32_FIND_DATAW& entry) {
    std::wstring holds = std::wstring(L"holds ") + entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsKalnixFile(entry.cFileName))
        return Refuse(walk.reason, path, holds + L", which is not Kalnix's");
    HANDLE opened = nullptr;
    NTSTATUS status = OpenBelow(folder, entry.cFileName, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE, nullptr, &opened);
    if (status == kFileIsADirectory) return Refuse(walk.reason, path, holds + L", which is not Kalnix's");
    if (!NT_SUCCESS(status))
        return Failed(walk.reason, path + L"\\" + entry.cFileName, L"NtCreateFile", ErrorOfStatus(status),
                      L"could not be opened");
    ScopedFile file(opened);
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!g_folderSecurity.getFileInformation(file.get(), &information))
        return Failed(walk.reason, path, L"GetFileInformationByHandle", static_cast<int>(GetLastError()),
                      L"could not be read");
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Refuse(walk.reason, path, holds + L", which is a link");
    if (information.nNumberOfLinks != 1)
        return Refuse(walk.reason, path,
                      holds + L", which has " + std::to_wstring(information.nNumberOfLinks) + L" names (hard links)");
    PSID owner = nullptr;
    ScopedLocal descriptor;
    DWORD read = g_folderSecurity.getSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                  nullptr, nullptr, nullptr, descriptor.put());
    if (read != ERROR_SUCCESS)
        return Failed(walk.reason, path, L"GetSecurityInfo", static_cast<int>(read), L"could not be read");
    if (!IsAdministratorSid(owner, walk.wineUser))
        return Refuse(walk.reason, path, holds + L", owned by neither Administrators, SYSTEM nor TrustedInstaller");
    return true;
}

// Listed by name (Wine cannot list a folder by handle); the folder is held open without
// FILE_SHARE_DELETE, so the name still leads to it.
bool HoldsOnlySafeKalnixFiles(Walk& walk, HANDLE folder, const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return Failed(walk.reason, path, L"FindFirstFile", static_cast<int>(GetLastError()), L"could not be listed");
    bool safe = true;
    do {
        if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L".."))
            safe = IsSafeKalnixFile(walk, folder, path, entry);
    } while (safe && FindNextFileW(search, &entry));
    FindClose(search);
    return safe;
}

// Checking, what setup creates later inherits the entries of the folder it is created in: the
// last existing folder's for the folders still missing and Kalnix.exe, or the install folder's
// for Kalnix.exe. (Securing, what is created gets permissions of its own.)
bool CheckWhatIsCreated(Walk& walk, const std::wstring& path, bool createsFolders) {
    if (walk.work != FolderWork::Check) return true;
    const wchar_t* refusal = InheritanceRefusal(walk.lastGrant, createsFolders);
    return refusal ? Refuse(walk.reason, path, refusal) : true;
}

// From the drive's root down, each folder opened by its name in the one above. A missing
// folder is created administrators-only when securing; when checking, what is missing is new.
bool WalkPath(Walk& walk, const PathParts& parts) {
    HANDLE opened = nullptr;
    NTSTATUS status = OpenFolderBelow(nullptr, L"\\??\\" + parts.root, kFolderAccess, FILE_OPEN, nullptr, &opened);
    if (!NT_SUCCESS(status))
        return Failed(walk.reason, parts.root, L"NtCreateFile", ErrorOfStatus(status), L"could not be opened");
    walk.held.Hold(opened);
    if (!CheckFolder(walk, opened, parts.root, FolderPlace::DriveRoot)) return false;
    std::wstring path = parts.root;
    for (size_t i = 0; i < parts.names.size(); ++i) {
        bool last = i + 1 == parts.names.size();
        path += (i ? L"\\" : L"") + parts.names[i];
        ACCESS_MASK access = kFolderAccess | (last && walk.work == FolderWork::Secure ? WRITE_DAC | WRITE_OWNER : 0);
        status = OpenFolderBelow(walk.held.Last(), parts.names[i], access, FILE_OPEN, nullptr, &opened);
        if (status == kObjectNameNotFound) {
            const std::wstring above = path.substr(0, i ? path.rfind(L'\\') : parts.root.size());
            if (walk.work == FolderWork::Check) return CheckWhatIsCreated(walk, above, true);
            status = OpenFolderBelow(walk.held.Last(), parts.names[i], access, FILE_CREATE, walk.descriptor, &opened);
            if (!NT_SUCCESS(status))
                return Failed(walk.reason, path, L"NtCreateFile", ErrorOfStatus(status), L"could not be created");
            walk.held.Hold(opened);
            continue;
        }
        if (status == kNotADirectory) return Refuse(walk.reason, path, L"is a file, not a folder");
        if (!NT_SUCCESS(status))
            return Failed(walk.reason, path, L"NtCreateFile", ErrorOfStatus(status), L"could not be opened");
        walk.held.Hold(opened);
        if (!CheckFolder(walk, opened, path,
                         last ? FolderPlace::ExistingInstallFolder : FolderPlace::AboveInstallFolder))
            return false;
        if (last) {
            if (!CheckWhatIsCreated(walk, path, false) || !HoldsOnlySafeKalnixFiles(walk, opened, path)) return false;
            walk.installFolderExisted = true;
        }
    }
    return true;
}

// An existing folder keeps its permissions only until setup gives it its own, through the
// handle that was checked. Windows passes the inheritable ACEs on to Kalnix's files.
bool GiveOwnPermissions(Walk& walk, const std::wstring& folder) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(walk.descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(walk.descriptor, &owner, &defaulted);
    SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    DWORD status =
        g_folderSecurity.setSecurityInfo(walk.held.Last(), SE_FILE_OBJECT, parts, owner, nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS)
        return Failed(walk.reason, folder, L"SetSecurityInfo", static_cast<int>(status),
                      L"could not be given its permissions");
    return true;
}

bool UseInstallFolder(const std::wstring& folder, FolderWork work, std::wstring* reason) {
    PathParts parts;
    if (!SplitFolderPath(folder, &parts)) return Refuse(reason, folder, L"is not a full path of a folder on a drive");
    if (!DriveIsFit(parts.root, reason)) return false;
    ScopedLocal descriptor;
    if (DWORD error = MakeSafeFolderDescriptor(&descriptor)) {
        return Refuse(reason, folder, L"could not be prepared (error " + std::to_wstring(error) + L")");
    }
    std::vector<BYTE> wineUser = WineUser();
    Walk walk = {work, descriptor.get(), SidOfUser(wineUser), {}, reason, {}, false, {}};
    if (!ReadProfilesFolder(&walk.profiles, reason) || !WalkPath(walk, parts)) return false;
    return work == FolderWork::Check || !walk.installFolderExisted || GiveOwnPermissions(walk, folder);
}

bool RunInstallFolderWork(const wchar_t* folder, FolderWork work, wchar_t* reason, DWORD reasonChars) {
    std::wstring why;
    bool accepted = UseInstallFolder(folder ? folder : L"", work, &why);
    if (reason && reasonChars > 0) {
        size_t length = std::min<size_t>(why.size(), reasonChars - 1);
        wmemcpy(reason, why.data(), length);
        reason[length] = L'\0';
    }
    return accepted;
}

}  // namespace

bool __stdcall SecureInstallFolder(const wchar_t* folder, wchar_t* reason, unsigned long reasonChars) {
    LogMessage(L"CA: Entering SecureInstallFolder");
    return RunInstallFolderWork(folder, FolderWork::Secure, reason, reasonChars);
}

bool __stdcall CheckInstallFolder(const wchar_t* folder, wchar_t* reason, unsigned long reasonChars) {
    LogMessage(L"CA: Entering CheckInstallFolder");
    return RunInstallFolderWork(folder, FolderWork::Check, reason, reasonChars);
}
