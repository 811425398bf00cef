// PrepareLogFolder: the setup program's logs go to a folder only administrators can write, and
// a log a user planted there is never written through. Wine keeps no owners or descriptors and
// makes no junctions, so what Windows would answer (a user as owner, a link) and the DACL set
// go through the library's calls (g_logFolder). A hard link, which Wine makes, is planted in the
// installer's tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ca_library.h"
#include "setup/exports.h"
#include "setup/log_folder.h"
#include "support/test_support.h"

namespace {

std::wstring g_userOwned;  // an item Windows would name a standard user as owner of
std::wstring g_linked;     // an item Windows would report as a junction or symbolic link
std::vector<std::wstring> g_createdWith;
std::vector<std::wstring> g_daclsSet;

bool SameItem(HANDLE handle, const std::wstring& path) {
    if (path.empty()) return false;
    HANDLE named = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    bool same = GetFileInformationByHandle(handle, &a) && GetFileInformationByHandle(named, &b) &&
                a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    if (!CreateDirectoryW(path, nullptr)) return FALSE;
    g_createdWith.push_back(attributes ? ToSddl(attributes->lpSecurityDescriptor) : L"<inherited>");
    return TRUE;
}

DWORD WINAPI OwnerAsWindowsWouldSay(HANDLE item, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                                    PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (!SameItem(item, g_userOwned)) return GetSecurityInfo(item, type, parts, owner, group, dacl, sacl, descriptor);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:S-1-5-21-1-2-3-1001", SDDL_REVISION_1, descriptor,
                                                              nullptr))
        return GetLastError();
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    return ERROR_SUCCESS;
}

DWORD WINAPI RecordingSetSecurityInfo(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION parts, PSID, PSID, PACL dacl, PACL) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (parts & PROTECTED_DACL_SECURITY_INFORMATION) {
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    g_daclsSet.push_back(ToSddl(&descriptor));
    return ERROR_SUCCESS;
}

BOOL WINAPI AttributesAsWindowsWouldSay(HANDLE item, LPBY_HANDLE_FILE_INFORMATION information) {
    if (!GetFileInformationByHandle(item, information)) return FALSE;
    if (SameItem(item, g_linked)) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

void WriteText(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
}

// The names under `folder` that end in the set-aside suffix and something after it.
std::vector<std::wstring> SetAside(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*" + kSetAsideSuffix + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// The folder's DACL: protected, administrators and SYSTEM in full, users read and execute.
const wchar_t kSafeDacl[] = L"(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

TEST(LogFolderTest, OnlyWhatAnAdministratorsProgramMadeIsUsed) {
    const std::wstring parent = MakeScratchDirectory(L"logfolder");
    const std::wstring folder = parent + L"\\Kalnix";
    const std::wstring log = folder + L"\\KalnixSetup.log";
    struct Case {
        const char* name;
        std::function<void()> plant;
        bool created;             // a new folder, with the administrators-only descriptor
        bool daclSetAgain;        // the existing folder kept and given that DACL again
        size_t asideInParent;     // what stood in the folder's place, set aside
        const wchar_t* freedLog;  // the log set aside in the folder, its name free again
        const char* line;         // why, in the library's log
    };
    const Case cases[] = {
        {"missing folder", [] {}, true, false, 0, nullptr, ""},
        {"folder and log of this account", [&] {
             CreateDirectoryW(folder.c_str(), nullptr);
             WriteText(log, "earlier run\r\n");
         }, false, true, 0, nullptr, ""},
        {"folder a user made", [&] {
             CreateDirectoryW(folder.c_str(), nullptr);
             WriteText(log, "planted\r\n");
             g_userOwned = folder;
         }, true, false, 1, nullptr, "\\Kalnix is owned by another account"},
        {"junction in the folder's place", [&] {
             CreateDirectoryW(folder.c_str(), nullptr);
             g_linked = folder;
         }, true, false, 1, nullptr, "CA: Not a plain folder: "},
        {"log a user made", [&] {
             CreateDirectoryW(folder.c_str(), nullptr);
             WriteText(log, "planted\r\n");
             g_userOwned = log;
         }, false, true, 0, L"KalnixSetup.log", "KalnixSetup.log is owned by another account"},
        {"log that is a link", [&] {
             CreateDirectoryW(folder.c_str(), nullptr);
             WriteText(folder + L"\\KalnixUninstall.log", "");
             g_linked = folder + L"\\KalnixUninstall.log";
         }, false, true, 0, L"KalnixUninstall.log", "CA: Not a plain file: "},
    };
    const LogFolderCalls real = g_logFolder;
    g_logFolder = {&RecordingCreateDirectory, &OwnerAsWindowsWouldSay, &RecordingSetSecurityInfo,
                   &AttributesAsWindowsWouldSay};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeScratchDirectory(L"logfolder");
        g_userOwned.clear();
        g_linked.clear();
        g_createdWith.clear();
        g_daclsSet.clear();
        c.plant();
        OpenLogGateFor(L"standard");

        EXPECT_TRUE(PrepareLogFolder(folder.c_str()));
        EXPECT_EQ(GetFileAttributesW(folder.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
                  static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_EQ(g_createdWith, c.created ? std::vector<std::wstring>{std::wstring(L"O:BAD:PAI") + kSafeDacl}
                                           : std::vector<std::wstring>{});
        EXPECT_EQ(g_daclsSet, c.daclSetAgain ? std::vector<std::wstring>{std::wstring(L"D:P") + kSafeDacl} : std::vector<std::wstring>{});
        EXPECT_EQ(SetAside(parent).size(), c.asideInParent);
        EXPECT_EQ(SetAside(folder).size(), c.freedLog ? 1u : 0u);
        if (c.freedLog) {
            EXPECT_FALSE(FileExists(folder + L"\\" + c.freedLog));
        }
        EXPECT_NE(ReadFileBytes(log), "planted\r\n");
        if (c.daclSetAgain && !c.freedLog) {
            EXPECT_EQ(ReadFileBytes(log), "earlier run\r\n");
        }
        std::string lines = ReadFileBytes(LogPathBesideExecutable());
        EXPECT_EQ(lines.find("CA: Entering PrepareLogFolder\r\n"), 0u) << lines;
        EXPECT_NE(lines.find(c.line), std::string::npos) << lines;
        EXPECT_EQ(lines.find("CA: Set aside as ") != std::string::npos, c.asideInParent || c.freedLog) << lines;
    }
    g_logFolder = real;
    RemoveFile(LogPathBesideExecutable());
}

}  // namespace
