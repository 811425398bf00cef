// SecureFolder: the folder that holds the task definition is writable by administrators
// only. Wine keeps no security descriptor for files, so the drive's flags, the owner and
// junctions are answered, and the descriptor read back, through the calls the library makes
// (g_folderSecurity); the library's own file is run as well, for what Wine does show.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "ca_library.h"
#include "setup/exports.h"
#include "setup/folder_security.h"
#include "support/test_support.h"

namespace {

// What the library asked for, as the system would hand it back: one entry per folder created
// or secured.
struct Call {
    std::wstring path;
    SECURITY_INFORMATION parts = 0;
    std::wstring sddl;
};
std::vector<Call> g_calls;
DWORD g_setResult = ERROR_SUCCESS;
// What Windows would answer where Wine cannot: the drive's flags, the folder's owner, a
// component that is a junction.
DWORD g_volumeFlags = FILE_CASE_PRESERVED_NAMES | FILE_PERSISTENT_ACLS;
const wchar_t* g_ownerSddl = L"O:BA";
std::wstring g_junction;

BOOL WINAPI FakeGetVolumeInformation(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
    if (wcslen(root) != 3 || root[1] != L':' || root[2] != L'\\') return FALSE;
    *flags = g_volumeFlags;
    return TRUE;
}

DWORD WINAPI FakeGetFileAttributes(LPCWSTR path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && g_junction == path) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    g_calls.push_back({path, 0, attributes ? ToSddl(attributes->lpSecurityDescriptor) : L"<inherited>"});
    return CreateDirectoryW(path, nullptr);
}

DWORD WINAPI FakeGetSecurityInfo(HANDLE, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner, PSID*, PACL*,
                                 PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    if (type != SE_FILE_OBJECT || parts != OWNER_SECURITY_INFORMATION || !owner || !descriptor)
        return ERROR_INVALID_PARAMETER;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(g_ownerSddl, SDDL_REVISION_1, descriptor, nullptr))
        return GetLastError();
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    return ERROR_SUCCESS;
}

// The folder the handle is open on, by its path's file index.
std::wstring FolderOfHandle(HANDLE handle, const std::wstring& candidate) {
    BY_HANDLE_FILE_INFORMATION opened = {}, named = {};
    HANDLE byName = CreateFileW(candidate.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool same = byName != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &opened) &&
                GetFileInformationByHandle(byName, &named) && opened.nFileIndexLow == named.nFileIndexLow &&
                opened.nFileIndexHigh == named.nFileIndexHigh;
    if (byName != INVALID_HANDLE_VALUE) CloseHandle(byName);
    return same ? candidate : L"<another object>";
}
std::wstring g_expectedFolder;

DWORD WINAPI RecordingSetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID owner,
                                      PSID group, PACL dacl, PACL sacl) {
    if (type != SE_FILE_OBJECT || group || sacl) return ERROR_INVALID_PARAMETER;
    // The descriptor the folder would then carry.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (parts & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    g_calls.push_back({FolderOfHandle(handle, g_expectedFolder), parts, ToSddl(&descriptor)});
    return g_setResult;
}

// Swaps the library's calls for the recording ones for one test.
class FolderSecurityTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_folderSecurity;
        g_folderSecurity.getVolumeInformation = &FakeGetVolumeInformation;
        g_folderSecurity.getFileAttributes = &FakeGetFileAttributes;
        g_folderSecurity.createDirectory = &RecordingCreateDirectory;
        g_folderSecurity.getSecurityInfo = &FakeGetSecurityInfo;
        g_folderSecurity.setSecurityInfo = &RecordingSetSecurityInfo;
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
    }
    void TearDown() override { g_folderSecurity = saved_; }

private:
    FolderSecurityCalls saved_;
};

// Owner Administrators; Administrators and SYSTEM full control, Users read and execute,
// each passed on to subfolders and files; nothing inherited from above.
const wchar_t kAdministratorsOnlyWithInheritance[] =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const SECURITY_INFORMATION kOwnerAndProtectedDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Paths below are relative to each case's own scratch folder; "folder" is the one secured.
TEST_F(FolderSecurityTest, SecuresOnlyAFolderNoUserCouldHavePrepared) {
    const std::wstring exe = ExecutableDirectory() + L"\\setup_folder_security_tests.exe";
    struct Case {
        const char* what;
        std::wstring folder;
        std::vector<std::wstring> subfolders;  // made first, in this order
        std::vector<std::wstring> files;
        DWORD volumeFlags;
        const wchar_t* owner;
        std::wstring junction;
        DWORD setResult;
        bool secured;
        const char* log;  // after the entry line; %F is the folder, %S the scratch folder
        std::vector<Call> calls;
    } cases[] = {
        {"a new folder", L"Kalnix", {}, {}, FILE_PERSISTENT_ACLS, L"O:BA", L"", ERROR_SUCCESS, true, "",
         {{L"Kalnix", 0, kAdministratorsOnlyWithInheritance}}},
        {"missing parents are created administrators-only", L"Tools\\Sub\\Kalnix", {}, {}, FILE_PERSISTENT_ACLS,
         L"O:BA", L"", ERROR_SUCCESS, true, "",
         {{L"Tools", 0, kAdministratorsOnlyWithInheritance},
          {L"Tools\\Sub", 0, kAdministratorsOnlyWithInheritance},
          {L"Tools\\Sub\\Kalnix", 0, kAdministratorsOnlyWithInheritance}}},
        {"a drive without permissions (FAT32, exFAT)", L"Kalnix", {}, {}, FILE_CASE_PRESERVED_NAMES, L"O:BA", L"",
         ERROR_SUCCESS, false, "CA: The drive of %F keeps no permissions\r\n", {}},
        {"a junction among the parents", L"Link\\Kalnix", {L"Link"}, {}, FILE_PERSISTENT_ACLS, L"O:BA", L"Link",
         ERROR_SUCCESS, false, "CA: Not a plain folder: %S\\Link\r\n", {}},
        {"an existing folder a user owns", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\Kalnix.exe"}, FILE_PERSISTENT_ACLS,
         L"O:S-1-5-21-1-2-3-1001", L"", ERROR_SUCCESS, false,
         "CA: %F is owned by neither Administrators nor SYSTEM\r\n", {}},
        {"a file no one but Kalnix puts there", L"Kalnix", {L"Kalnix"}, {L"Kalnix\\Kalnix.exe", L"Kalnix\\powrprof.dll"},
         FILE_PERSISTENT_ACLS, L"O:BA", L"", ERROR_SUCCESS, false, "CA: %F holds powrprof.dll, which is not Kalnix's\r\n",
         {}},
        {"a subfolder", L"Kalnix", {L"Kalnix", L"Kalnix\\Kalnix.log"}, {}, FILE_PERSISTENT_ACLS, L"O:SY", L"",
         ERROR_SUCCESS, false, "CA: %F holds Kalnix.log, which is not Kalnix's\r\n", {}},
        {"an earlier installation owned by SYSTEM", L"Kalnix", {L"Kalnix"},
         {L"Kalnix\\KALNIX.EXE", L"Kalnix\\Uninstall.exe", L"Kalnix\\KalnixSetup.log", L"Kalnix\\Kalnix.log",
          L"Kalnix\\KalnixTask.xml"},
         FILE_PERSISTENT_ACLS, L"O:SY", L"", ERROR_SUCCESS, true, "",
         {{L"Kalnix", kOwnerAndProtectedDacl, kAdministratorsOnly}}},
        {"an empty folder owned by Administrators, permissions refused", L"Kalnix", {L"Kalnix"}, {},
         FILE_PERSISTENT_ACLS, L"O:BA", L"", ERROR_ACCESS_DENIED, false, "CA: SetSecurityInfo failed: 5\r\n",
         {{L"Kalnix", kOwnerAndProtectedDacl, kAdministratorsOnly}}},
        {"a file, not a folder", L"Kalnix", {}, {L"Kalnix"}, FILE_PERSISTENT_ACLS, L"O:BA", L"", ERROR_SUCCESS, false,
         "CA: Not a plain folder: 32\r\n", {}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring scratch = MakeScratchDirectory((L"secure-" + std::to_wstring(++number)).c_str());
        for (const std::wstring& subfolder : c.subfolders)
            ASSERT_TRUE(CreateDirectoryW((scratch + L"\\" + subfolder).c_str(), nullptr));
        for (const std::wstring& file : c.files) ASSERT_TRUE(CopyFileTo(exe, scratch + L"\\" + file));
        std::wstring folder = scratch + L"\\" + c.folder;
        g_calls.clear();
        g_volumeFlags = c.volumeFlags;
        g_ownerSddl = c.owner;
        g_junction = c.junction.empty() ? L"" : scratch + L"\\" + c.junction;
        g_setResult = c.setResult;
        g_expectedFolder = folder;
        RemoveFile(LogPathBesideExecutable());

        EXPECT_EQ(c.secured, SecureFolder(folder.c_str()));
        std::string log = c.log;
        for (size_t at; (at = log.find("%F")) != std::string::npos;) log.replace(at, 2, Narrow(folder));
        for (size_t at; (at = log.find("%S")) != std::string::npos;) log.replace(at, 2, Narrow(scratch));
        EXPECT_EQ("CA: Entering SecureFolder\r\n" + log, TestLog());
        ASSERT_EQ(c.calls.size(), g_calls.size());
        for (size_t i = 0; i < c.calls.size(); ++i) {
            EXPECT_EQ(scratch + L"\\" + c.calls[i].path, g_calls[i].path);
            EXPECT_EQ(c.calls[i].parts, g_calls[i].parts);
            EXPECT_EQ(c.calls[i].sddl, g_calls[i].sddl);
        }
        if (c.subfolders.empty() && c.files.empty()) {
            EXPECT_EQ(c.secured, FileExists(folder));
        }
    }
}

// The library's own file under Wine, through the name the setup program resolves.
class SecureFolderExportTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(SecureFolderExportTest, CreatesTheFolderAndRefusesOneNotOwnedByAdministratorsAndAFile) {
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    OpenLogGateFor(GetParam());
    std::wstring scratch = MakeScratchDirectory(L"secure-export");
    std::wstring folder = scratch + L"\\Kalnix";
    RemoveDirectoryW(folder.c_str());

    EXPECT_EQ(1, library.SecureFolder(folder.c_str()));
    EXPECT_TRUE(FileExists(folder));
    // Wine names its Unix user as every file's owner: an existing folder is then not accepted.
    EXPECT_EQ(0, library.SecureFolder(folder.c_str())) << "an existing folder";
    ASSERT_TRUE(CopyFileTo(ExecutableDirectory() + L"\\setup_folder_security_tests.exe", scratch + L"\\file"));
    EXPECT_EQ(0, library.SecureFolder((scratch + L"\\file").c_str()));
    EXPECT_EQ("CA: Entering SecureFolder\r\nCA: Entering SecureFolder\r\nCA: " + Narrow(folder) +
                  " is owned by neither Administrators nor SYSTEM\r\nCA: Entering SecureFolder\r\n"
                  "CA: Not a plain folder: 32\r\n",
              TestLog());
    RemoveDirectoryW(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Builds, SecureFolderExportTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
