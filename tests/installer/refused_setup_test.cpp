// What the setup program refuses before anything changes: an install folder it must not use,
// bad options, and the x86 setup program on 64-bit Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer_fixture.h"
#include "support/installed_kalnix.h"
#include "support/test_support.h"

namespace {

TEST_F(SilentInstall, StopsWithExitCode7BeforeAnythingWhenTheFolderIsRefused) {
    std::wstring programFiles = InstallDir().substr(0, InstallDir().size() - wcslen(L"\\Kalnix"));
    wchar_t windows[MAX_PATH] = {}, profile[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    // An existing folder whose Kalnix.exe is a second name of a user's file: setup would write
    // into that file.
    const std::wstring linked = L"C:\\Linked\\Kalnix", usersFile = L"C:\\users-file.exe";
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Linked", nullptr) && CreateDirectoryW(linked.c_str(), nullptr));
    ASSERT_TRUE(CopyFileTo(KALNIX_TEST_BIN_DIR_W L"\\installer_inert_tool.exe", usersFile));
    ASSERT_TRUE(CreateHardLinkW((linked + L"\\Kalnix.exe").c_str(), usersFile.c_str(), nullptr));
    const std::string usersBytes = ReadFileBytes(usersFile);
    struct Case {
        std::wstring folder;
        std::string line;
    } cases[] = {
        {linked, "Install folder C:\\Linked\\Kalnix refused: C:\\Linked\\Kalnix holds Kalnix.exe, which has 2 names "
                 "(hard links)."},
        {std::wstring(profile) + L"\\Kalnix", "refused: C:\\users holds the users' profiles."},
        // Folders whose permissions belong to the system are never changed (NSIS itself
        // refuses a drive's root).
        {programFiles, "is a system folder: setup does not change its permissions."},
        {std::wstring(windows) + L"\\Kalnix", "is in the Windows folder: setup does not change its permissions."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        RemoveFile(SetupLog());
        EXPECT_EQ(7u, RunSetup(L"/S /D=" + c.folder));
        std::string log = ReadFileBytes(SetupLog());
        EXPECT_NE(std::string::npos, log.find(c.line + "\r\nInstallation failed: nothing was installed.\r\n")) << log;
        ExpectNothingInstalled();
        EXPECT_FALSE(FileExists(c.folder + L"\\Uninstall.exe"));
        EXPECT_FALSE(FileExists(c.folder + L"\\KalnixSetup.log"));
        EXPECT_FALSE(FileExists(std::wstring(windows) + L"\\Kalnix"));
        EXPECT_FALSE(FileExists(L"C:\\KalnixSetup.log"));
        EXPECT_FALSE(FileExists(L"C:\\Kalnix.exe"));
    }
    EXPECT_EQ(usersBytes, ReadFileBytes(usersFile)) << "nothing written through the link";
    EXPECT_FALSE(FileExists(std::wstring(profile) + L"\\Kalnix"));
    EXPECT_TRUE(PolicyIsTheUsers());
}

// Each of these is refused before anything changes.
TEST_F(BadOptions, AreRefusedWithExitCode2AndNothingChanged) {
    const wchar_t* cases[] = {
        L"/S /ALARMTIME=4",   L"/S /ALARMTIME=61", L"/S /ALARMTIME=0",  L"/S /ALARMTIME=",
        L"/S /ALARMTIME=abc", L"/S /ALARMTIME=5x", L"/S /ALARMTIME=-5", L"/S /ALARMTIME=4294967301",
        L"/S /MODE=0",        L"/S /MODE=3",       L"/S /MODE=",        L"/S /MODE=01",
        L"/S /MODE=a",        L"/S /MODE=1 /ALARM=20",
    };
    for (const wchar_t* options : cases) {
        EXPECT_EQ(2u, RunSetup(options)) << options;
        ExpectNothingInstalled();
    }
    EXPECT_TRUE(PolicyIsTheUsers());
}

#ifdef _WIN64
// The x86 setup program of the x86 build tree, run in this 64-bit prefix.
const wchar_t kX86SetupProgram[] = KALNIX_X86_SETUP_W;

// On 64-bit Windows the x86 setup program refuses before anything changes: a 32-bit Kalnix
// there would read Software\WOW6432Node\Kalnix, where Group Policy never writes.
TEST_F(BadOptions, TheX86SetupProgramIsRefusedOn64BitWindowsWithExitCode6) {
    if (!IsChildRun(L"KALNIX_X86_RUNS")) GTEST_SKIP() << "this machine runs 64-bit code only";
    ASSERT_TRUE(FileExists(kX86SetupProgram)) << "build the x86 tree first";
    EXPECT_EQ(6u, RunSetup(kX86SetupProgram, L"/S"));
    ExpectNothingInstalled();
    wchar_t programFilesX86[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86, MAX_PATH);
    EXPECT_FALSE(FileExists(std::wstring(programFilesX86) + L"\\Kalnix"));
    EXPECT_FALSE(MachineKeyExists(L"Software\\WOW6432Node\\Kalnix"));
    EXPECT_TRUE(PolicyIsTheUsers());
}
#endif

}  // namespace
