// SecureFolder: the folder that Kalnix runs from, and the one that holds the task definition,
// are writable by administrators only. Wine keeps no security descriptor for files, so the
// descriptor is read back through the two calls the library makes (g_folderSecurity); the
// library's own file is run as well, for what Wine does show.
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

// What the library asked for, as the system would hand it back.
struct Recorded {
    std::wstring path;
    SECURITY_INFORMATION parts = 0;
    std::wstring sddl;
    int calls = 0;
};
Recorded g_recorded;
DWORD g_setResult = ERROR_SUCCESS;

std::wstring ToSddl(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"<none>";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    ++g_recorded.calls;
    g_recorded.path = path;
    g_recorded.sddl = attributes ? ToSddl(attributes->lpSecurityDescriptor) : L"<inherited>";
    return CreateDirectoryW(path, nullptr);
}

DWORD WINAPI RecordingSetNamedSecurityInfo(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID owner,
                                           PSID group, PACL dacl, PACL sacl) {
    ++g_recorded.calls;
    g_recorded.path = path;
    g_recorded.parts = parts;
    if (type != SE_FILE_OBJECT || group || sacl) return ERROR_INVALID_PARAMETER;
    // The descriptor the folder would then carry.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (parts & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    g_recorded.sddl = ToSddl(&descriptor);
    return g_setResult;
}

// Swaps the library's calls for the recording ones for one test.
class FolderSecurityTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_folderSecurity;
        g_folderSecurity = {&RecordingCreateDirectory, &RecordingSetNamedSecurityInfo};
        g_recorded = Recorded();
        g_setResult = ERROR_SUCCESS;
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
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

TEST_F(FolderSecurityTest, ANewFolderIsCreatedWithAdministratorsOnlyPermissions) {
    std::wstring parent = MakeScratchDirectory(L"secure-new");
    std::wstring folder = parent + L"\\Kalnix";
    RemoveDirectoryW(folder.c_str());

    EXPECT_TRUE(SecureFolder(folder.c_str()));
    EXPECT_EQ(1, g_recorded.calls) << "created once, never changed afterwards";
    EXPECT_EQ(folder, g_recorded.path);
    EXPECT_EQ(kAdministratorsOnlyWithInheritance, g_recorded.sddl);
    EXPECT_TRUE(FileExists(folder));
    EXPECT_EQ("CA: Entering SecureFolder\r\n", TestLog());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(FolderSecurityTest, AnExistingFolderGetsTheOwnerAndAProtectedDacl) {
    std::wstring folder = MakeScratchDirectory(L"secure-existing");
    ASSERT_TRUE(CopyFileTo(ExecutableDirectory() + L"\\" + L"setup_folder_security_tests.exe", folder + L"\\a.exe"));

    EXPECT_TRUE(SecureFolder(folder.c_str()));
    EXPECT_EQ(1, g_recorded.calls);
    EXPECT_EQ(folder, g_recorded.path);
    EXPECT_EQ(static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                PROTECTED_DACL_SECURITY_INFORMATION),
              g_recorded.parts);
    EXPECT_EQ(kAdministratorsOnly, g_recorded.sddl);
    EXPECT_EQ("CA: Entering SecureFolder\r\n", TestLog());
}

TEST_F(FolderSecurityTest, FailuresAreReportedAndChangeNothing) {
    std::wstring scratch = MakeScratchDirectory(L"secure-failures");
    std::wstring file = scratch + L"\\plain.txt";
    ASSERT_TRUE(CopyFileTo(ExecutableDirectory() + L"\\setup_folder_security_tests.exe", file));
    struct Case {
        const char* what;
        std::wstring folder;
        DWORD setResult;
        const char* log;
        int calls;
    } cases[] = {
        {"permissions refused", scratch, ERROR_ACCESS_DENIED,
         "CA: Entering SecureFolder\r\nCA: SetNamedSecurityInfo failed: 5\r\n", 1},
        {"parent missing", scratch + L"\\missing\\Kalnix", ERROR_SUCCESS,
         "CA: Entering SecureFolder\r\nCA: CreateDirectory failed: 3\r\n", 1},
        {"a file, not a folder", file, ERROR_SUCCESS, "CA: Entering SecureFolder\r\nCA: Not a plain folder: 32\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveFile(LogPathBesideExecutable());
        g_recorded = Recorded();
        g_setResult = c.setResult;
        EXPECT_FALSE(SecureFolder(c.folder.c_str()));
        EXPECT_EQ(c.log, TestLog());
        EXPECT_EQ(c.calls, g_recorded.calls);
    }
    EXPECT_FALSE(FileExists(scratch + L"\\missing"));
}

// The library's own file under Wine, through the name the setup program resolves.
class SecureFolderExportTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(SecureFolderExportTest, CreatesTheFolderOrAcceptsAnExistingOneAndRefusesAFile) {
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    OpenLogGateFor(GetParam());
    std::wstring scratch = MakeScratchDirectory(L"secure-export");
    std::wstring folder = scratch + L"\\Kalnix";
    RemoveDirectoryW(folder.c_str());

    EXPECT_EQ(1, library.SecureFolder(folder.c_str()));
    EXPECT_TRUE(FileExists(folder));
    EXPECT_EQ(1, library.SecureFolder(folder.c_str())) << "an existing folder";
    ASSERT_TRUE(CopyFileTo(ExecutableDirectory() + L"\\setup_folder_security_tests.exe", scratch + L"\\file"));
    EXPECT_EQ(0, library.SecureFolder((scratch + L"\\file").c_str()));
    EXPECT_EQ("CA: Entering SecureFolder\r\nCA: Entering SecureFolder\r\nCA: Entering SecureFolder\r\n"
              "CA: Not a plain folder: 32\r\n",
              TestLog());
    RemoveDirectoryW(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Builds, SecureFolderExportTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
