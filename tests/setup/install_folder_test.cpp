// SecureInstallFolder and CheckInstallFolder: Kalnix's folder and every folder above it. Wine
// keeps no security descriptor for files, so the owners and permissions Windows would show,
// junctions, the drive and the profiles folder are answered, and the folders created or
// secured recorded, through the calls the library makes (g_folderSecurity); the folders, the
// opening by handle, the files and their hard links are real. The library's own file is run
// as well, for what Wine shows.
#include <gtest/gtest.h>

#include <windows.h>

#include <winternl.h>

#include <aclapi.h>
#include <sddl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ca_library.h"
#include "setup/exports.h"
#include "setup/folder_security.h"
#include "support/test_support.h"

namespace {

struct CaseInsensitive {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return lstrcmpiW(a.c_str(), b.c_str()) < 0; }
};

const wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const wchar_t kAdministratorsOnlyWithInheritance[] =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
// C:\ as Windows sets it up: signed-in users may create folders there.
const wchar_t kDriveRoot[] =
    L"O:SYD:(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;BA)(A;;FA;;;BA)"
    L"(A;OICI;0x1200a9;;;BU)";
const wchar_t kProgramFiles[] =
    L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
// A folder an administrator made under C:\, with what it inherits from there.
const wchar_t kMadeUnderTheRoot[] =
    L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
    L"(A;OICIIOID;SDGXGWGR;;;AU)";
const SECURITY_INFORMATION kOwnerAndProtectedDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// What Windows would show, by path; anything else is administrators-only.
std::map<std::wstring, std::wstring, CaseInsensitive> g_descriptors;
std::wstring g_junction;
std::wstring g_profiles;
UINT g_driveType = DRIVE_FIXED;
DWORD g_volumeFlags = FILE_PERSISTENT_ACLS;
// What the library asked for: folders created, and the existing one given its permissions.
struct Recorded {
    std::wstring path;
    SECURITY_INFORMATION parts;
    std::wstring sddl;
};
std::vector<Recorded> g_recorded;
// Called with each folder whose descriptor the library reads, while it holds the path open.
void (*g_whileChecking)(const std::wstring& path) = nullptr;

std::wstring PathOf(HANDLE handle) {
    wchar_t path[1024];
    DWORD length = GetFinalPathNameByHandleW(handle, path, 1024, VOLUME_NAME_DOS);
    std::wstring result(path, length < 1024 ? length : 0);
    return result.compare(0, 4, L"\\\\?\\") == 0 ? result.substr(4) : result;
}

DWORD WINAPI ShownSecurityInfo(HANDLE handle, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL* dacl,
                               PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    if (g_whileChecking) g_whileChecking(PathOf(handle));
    auto shown = g_descriptors.find(PathOf(handle));
    const wchar_t* sddl = shown == g_descriptors.end() ? kAdministratorsOnly : shown->second.c_str();
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor, nullptr))
        return GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    if (owner) GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    if (dacl) GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    return ERROR_SUCCESS;
}

DWORD WINAPI RecordingSetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE, SECURITY_INFORMATION parts, PSID owner, PSID,
                                      PACL dacl, PACL) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (parts & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    g_recorded.push_back({PathOf(handle), parts, ToSddl(&descriptor)});
    return ERROR_SUCCESS;
}

NTSTATUS NTAPI RecordingNtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io,
                                     PLARGE_INTEGER size, ULONG attributes, ULONG share, ULONG disposition,
                                     ULONG options, PVOID extended, ULONG extendedLength) {
    static const auto real = reinterpret_cast<decltype(&::NtCreateFile)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    NTSTATUS status =
        real(file, access, object, io, size, attributes, share, disposition, options, extended, extendedLength);
    if (status >= 0 && disposition == FILE_CREATE)
        g_recorded.push_back({PathOf(*file), 0, ToSddl(object->SecurityDescriptor)});
    return status;
}

BOOL WINAPI ShownFileInformation(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    if (!GetFileInformationByHandle(handle, information)) return FALSE;
    if (!g_junction.empty() && lstrcmpiW(PathOf(handle).c_str(), g_junction.c_str()) == 0)
        information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

UINT WINAPI ShownDriveType(LPCWSTR) { return g_driveType; }

BOOL WINAPI ShownVolumeInformation(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
    *flags = g_volumeFlags;
    return TRUE;
}

BOOL WINAPI ShownProfilesDirectory(LPWSTR directory, LPDWORD chars) {
    if (*chars <= g_profiles.size()) return FALSE;
    wcscpy(directory, g_profiles.c_str());
    return TRUE;
}

bool NotWine() { return false; }

class InstallFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_folderSecurity;
        g_folderSecurity.getSecurityInfo = &ShownSecurityInfo;
        g_folderSecurity.setSecurityInfo = &RecordingSetSecurityInfo;
        g_folderSecurity.createFile = &RecordingNtCreateFile;
        g_folderSecurity.getFileInformation = &ShownFileInformation;
        g_folderSecurity.getDriveType = &ShownDriveType;
        g_folderSecurity.getVolumeInformation = &ShownVolumeInformation;
        g_folderSecurity.getProfilesDirectory = &ShownProfilesDirectory;
        g_folderSecurity.runsOnWine = &NotWine;
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
    }
    void TearDown() override {
        g_folderSecurity = saved_;
        g_whileChecking = nullptr;
    }

    // Relative paths are in `scratch`. Each scratch folder has its own profiles folder "Users".
    void Prepare(const std::wstring& scratch) {
        g_descriptors = {{L"C:\\", kDriveRoot}};
        g_junction.clear();
        g_recorded.clear();
        g_driveType = DRIVE_FIXED;
        g_volumeFlags = FILE_PERSISTENT_ACLS;
        g_profiles = scratch + L"\\Users";
        CreateDirectoryW(g_profiles.c_str(), nullptr);
        RemoveFile(LogPathBesideExecutable());
    }

private:
    FolderSecurityCalls saved_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Replaced(std::wstring text, const std::wstring& scratch) {
    for (size_t at; (at = text.find(L"%S")) != std::wstring::npos;) text.replace(at, 2, scratch);
    return text;
}

using FolderExport = bool(__stdcall*)(const wchar_t*, wchar_t*, unsigned long);

// Calls `use` on `folder`; the reason written back, and the log, name what was refused.
void ExpectOutcome(FolderExport use, const char* entry, const std::wstring& folder, const std::wstring& refusal) {
    wchar_t reason[512];
    wmemset(reason, L'*', 512);
    EXPECT_EQ(refusal.empty(), use(folder.c_str(), reason, 512));
    EXPECT_EQ(refusal, reason);
    std::string refusalLine = refusal.empty() ? "" : "CA: " + Narrow(refusal) + "\r\n";
    EXPECT_EQ(std::string("CA: Entering ") + entry + "\r\n" + refusalLine, TestLog());
}

TEST_F(InstallFolderTest, AcceptsOnlyAPathNoUserCanChange) {
    const std::wstring exe = ExecutableDirectory() + L"\\setup_folder_security_tests.exe";
    const std::wstring underRoot = L"C:\\kalnix-install-folder-test";
    RemoveDirectoryW(underRoot.c_str());
    struct Case {
        const char* what;
        std::wstring folder;  // relative to the scratch folder, or a full path
        std::vector<std::wstring> folders, files;
        std::vector<std::pair<std::wstring, std::wstring>> hardLinks;    // file, its second name
        std::vector<std::pair<std::wstring, std::wstring>> descriptors;  // path, SDDL
        bool check;                                                      // CheckInstallFolder, as in Program Files
        std::wstring refusal;                                            // %S: the scratch folder
        std::vector<Recorded> recorded;
        std::wstring junction = L"";  // shown as a junction
    } cases[] = {
        {"an ancestor with inherited Authenticated Users Modify", L"Tools\\Kalnix", {L"Tools"}, {}, {},
         {{L"Tools", kMadeUnderTheRoot}}, false, L"%S\\Tools lets non-administrators delete or rename it", {}},
        {"a parent granting FILE_DELETE_CHILD", L"Shared\\Kalnix", {L"Shared", L"Shared\\Kalnix"}, {}, {},
         {{L"Shared", L"O:BAD:P(A;OICI;FA;;;BA)(A;;0x1200e9;;;BU)"}}, false,
         L"%S\\Shared lets non-administrators delete or rename what it holds", {}},
        {"a profile folder", L"Users\\bob\\Kalnix", {L"Users\\bob"}, {}, {}, {}, false,
         L"%S\\Users holds the users' profiles", {}},
        {"Program Files", L"Program Files\\Kalnix", {L"Program Files"}, {}, {}, {{L"Program Files", kProgramFiles}},
         true, L"", {}},
        // Setup creates Vendor\Kalnix and Kalnix.exe below it, inheriting Users: Modify.
        {"a folder that passes Users: Modify to the subfolders and files created in it", L"Vendor\\Sub\\Kalnix",
         {L"Vendor"}, {}, {}, {{L"Vendor", L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;0x1301bf;;;BU)"}}, true,
         L"%S\\Vendor passes on to what is created in it more than read and execute for non-administrators", {}},
        {"an existing install folder that passes Users: Modify to Kalnix.exe", L"Kalnix", {L"Kalnix"}, {}, {},
         {{L"Kalnix", L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OIIO;0x1301bf;;;BU)"}}, true,
         L"%S\\Kalnix passes on to what is created in it more than read and execute for non-administrators", {}},
        {"a new folder under a fixed drive's root", underRoot, {}, {}, {}, {}, false, L"",
         {{underRoot, 0, kAdministratorsOnlyWithInheritance}}},
        {"missing folders are created administrators-only", L"New\\Kalnix", {}, {}, {}, {}, false, L"",
         {{L"New", 0, kAdministratorsOnlyWithInheritance}, {L"New\\Kalnix", 0, kAdministratorsOnlyWithInheritance}}},
        {"an existing folder with a user-owned Kalnix.exe", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\Kalnix.exe"}, {},
         {{L"Kalnix\\Kalnix.exe", L"O:S-1-5-21-1-2-3-1001"}}, false,
         L"%S\\Kalnix holds Kalnix.exe, owned by neither Administrators, SYSTEM nor TrustedInstaller", {}},
        {"a hard-linked file", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\Kalnix.exe", L"users.log"},
         {{L"users.log", L"Kalnix\\Kalnix.log"}}, {}, false,
         L"%S\\Kalnix holds Kalnix.log, which has 2 names (hard links)", {}},
        {"a file no one but Kalnix puts there", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\powrprof.dll"}, {}, {}, false,
         L"%S\\Kalnix holds powrprof.dll, which is not Kalnix's", {}},
        {"an existing folder that lets users write more than read and execute", L"Kalnix", {L"Kalnix"}, {}, {},
         {{L"Kalnix", L"O:BAD:(A;;FA;;;BA)(A;;0x1201a9;;;BU)"}}, false,
         L"%S\\Kalnix lets non-administrators do more than read and execute in it", {}},
        {"a junction among the parents", L"Link\\Kalnix", {L"Link"}, {}, {}, {}, false,
         L"%S\\Link is a junction or link", {}, L"Link"},
        {"a clean existing folder", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\Kalnix.exe", L"Kalnix\\KALNIX.LOG"}, {}, {},
         false, L"", {{L"Kalnix", kOwnerAndProtectedDacl, kAdministratorsOnly}}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring scratch = MakeScratchDirectory((L"install-folder-" + std::to_wstring(++number)).c_str());
        Prepare(scratch);
        auto full = [&](const std::wstring& path) { return path[1] == L':' ? path : scratch + L"\\" + path; };
        for (const std::wstring& folder : c.folders) ASSERT_TRUE(CreateDirectoryW(full(folder).c_str(), nullptr));
        for (const std::wstring& file : c.files) ASSERT_TRUE(CopyFileTo(exe, full(file)));
        for (const auto& [file, name] : c.hardLinks)
            ASSERT_TRUE(CreateHardLinkW(full(name).c_str(), full(file).c_str(), nullptr));
        for (const auto& [path, sddl] : c.descriptors) g_descriptors[full(path)] = sddl;
        if (!c.junction.empty()) g_junction = full(c.junction);
        bool existed = FileExists(full(c.folder));

        if (c.check)
            ExpectOutcome(&CheckInstallFolder, "CheckInstallFolder", full(c.folder), Replaced(c.refusal, scratch));
        else
            ExpectOutcome(&SecureInstallFolder, "SecureInstallFolder", full(c.folder), Replaced(c.refusal, scratch));
        ASSERT_EQ(c.recorded.size(), g_recorded.size());
        for (size_t i = 0; i < c.recorded.size(); ++i) {
            EXPECT_EQ(full(c.recorded[i].path), g_recorded[i].path);
            EXPECT_EQ(c.recorded[i].parts, g_recorded[i].parts);
            EXPECT_EQ(c.recorded[i].sddl, g_recorded[i].sddl);
        }
        if (!existed) {
            EXPECT_EQ(!c.check && c.refusal.empty(), FileExists(full(c.folder))) << "nothing written";
        }
    }
    RemoveDirectoryW(underRoot.c_str());
}

// Each folder of the path stays open from its check until the export returns, and none can be
// renamed meanwhile: a parent swapped for another after its check would send Kalnix's files
// wherever that one leads.
std::wstring g_heldParent;
std::vector<DWORD> g_renameErrors;

void TryToRenameTheFolders(const std::wstring& path) {
    if (lstrcmpiW(path.c_str(), (g_heldParent + L"\\Kalnix").c_str()) != 0) return;
    for (const std::wstring& folder : {g_heldParent, g_heldParent + L"\\Kalnix"}) {
        const std::wstring moved = folder + L"-moved";
        g_renameErrors.push_back(MoveFileW(folder.c_str(), moved.c_str()) ? 0 : GetLastError());
        if (g_renameErrors.back() == 0) MoveFileW(moved.c_str(), folder.c_str());
    }
}

TEST_F(InstallFolderTest, NoFolderOfThePathCanBeRenamedWhileItIsUsed) {
    std::wstring scratch = MakeScratchDirectory(L"install-folder-held");
    Prepare(scratch);
    g_heldParent = scratch + L"\\Parent";
    ASSERT_TRUE(CreateDirectoryW(g_heldParent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((g_heldParent + L"\\Kalnix").c_str(), nullptr));
    g_renameErrors.clear();
    g_whileChecking = &TryToRenameTheFolders;
    for (FolderExport use : {&CheckInstallFolder, &SecureInstallFolder}) {
        wchar_t reason[512] = {};
        EXPECT_TRUE(use((g_heldParent + L"\\Kalnix").c_str(), reason, 512)) << Narrow(reason);
    }
    EXPECT_EQ(std::vector<DWORD>(4, ERROR_SHARING_VIOLATION), g_renameErrors);
    EXPECT_TRUE(MoveFileW(g_heldParent.c_str(), (g_heldParent + L"-moved").c_str())) << "let go once it returned";
}

TEST_F(InstallFolderTest, RefusesADriveThatIsNotFixedOrKeepsNoPermissions) {
    struct Case {
        UINT driveType;
        DWORD volumeFlags;
        const wchar_t* refusal;
    } cases[] = {
        {DRIVE_REMOVABLE, FILE_PERSISTENT_ACLS, L"C:\\ is not a fixed drive"},
        {DRIVE_FIXED, FILE_CASE_PRESERVED_NAMES, L"C:\\ is a drive that keeps no permissions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.refusal));
        std::wstring scratch = MakeScratchDirectory(L"install-folder-drive");
        Prepare(scratch);
        g_driveType = c.driveType;
        g_volumeFlags = c.volumeFlags;
        ExpectOutcome(&SecureInstallFolder, "SecureInstallFolder", scratch + L"\\Kalnix", c.refusal);
        EXPECT_FALSE(FileExists(scratch + L"\\Kalnix"));
    }
}

// The library's own file under Wine, through the names the setup program resolves: Wine's one
// user owns every file there, and counts as an administrator; the test's temporary folder is
// in that user's profile.
class InstallFolderExportTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(InstallFolderExportTest, CreatesChecksAndTakesBackAFolderAndRefusesOneInTheProfile) {
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    OpenLogGateFor(GetParam());
    const std::wstring parent = std::wstring(L"C:\\kalnix-export-") + GetParam(), folder = parent + L"\\Kalnix";
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(parent.c_str());
    std::wstring reason;

    EXPECT_EQ(1, library.SecureInstallFolder(folder.c_str(), &reason)) << Narrow(reason);
    EXPECT_TRUE(FileExists(folder));
    EXPECT_EQ(1, library.CheckInstallFolder(folder.c_str(), &reason)) << Narrow(reason);
    EXPECT_EQ(1, library.SecureInstallFolder(folder.c_str(), &reason)) << "an existing folder: " << Narrow(reason);
    std::wstring profileFolder = MakeScratchDirectory(L"export-profile") + L"\\Kalnix";
    EXPECT_EQ(0, library.SecureInstallFolder(profileFolder.c_str(), &reason));
    EXPECT_EQ(L"C:\\users holds the users' profiles", reason);
    EXPECT_FALSE(FileExists(profileFolder));
    EXPECT_EQ("CA: Entering SecureInstallFolder\r\nCA: Entering CheckInstallFolder\r\n"
              "CA: Entering SecureInstallFolder\r\nCA: Entering SecureInstallFolder\r\n"
              "CA: C:\\users holds the users' profiles\r\n",
              TestLog());
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(parent.c_str());
}

INSTANTIATE_TEST_SUITE_P(Builds, InstallFolderExportTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
