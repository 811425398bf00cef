#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <set>
#include <string>

#include "ca_library.h"
#include "support/arch_facts.h"
#include "support/pe_image.h"
#include "support/test_support.h"

namespace {

// Each export with the bytes its arguments take on x86.
const std::pair<const char*, int> kExports[] = {
    {"DeleteRunKey", 0},         {"InstallDriverAndStart", 4}, {"InstallKalnixTask", 8}, {"RemoveDriver", 0},
    {"RestorePowerSettings", 0}, {"SavePowerSettings", 0},     {"SetRunKey", 4},         {"TerminateUIProcess", 0},
    {"SecureFolder", 4},         {"EndInstalledKalnix", 4},    {"IsLocalSystem", 0},     {"SettingExists", 4},
    {"WriteTaskHead", 4},        {"TaskIsRegistered", 0},     {"TakeOverX86Settings", 0},
    {"PowerSettingsAreSaved", 0},     {"SecureInstallFolder", 12}, {"CheckInstallFolder", 12},
    {"SetLogPath", 4},            {"PrepareLogFolder", 4},  {"RunKalnixTask", 0},        {"TaskIsAbsent", 0},
    // The Windows Installer packages' custom actions, each given the installation's MSIHANDLE.
    {"PlanKalnixPackage", 4},     {"SecureKalnixFolder", 4},  {"UndoKalnixFolder", 4},   {"WriteKalnixSettings", 4},
    {"UndoKalnixSettings", 4},    {"RegisterKalnixStart", 4}, {"UndoKalnixStart", 4},    {"RegisterKalnixEvents", 4},
    {"UndoKalnixEvents", 4},      {"CompleteKalnixTakeOver", 4}, {"StartKalnixForUser", 4}, {"StopKalnix", 4},
    {"RemoveKalnixStart", 4},     {"RestoreKalnixStart", 4},  {"RemoveKalnixSettings", 4},
    {"PutBackKalnixSettings", 4}, {"UndoKalnixTakeOver", 4},  {"EndStartedKalnix", 4},
    {"MsiPackageInstalled", 12},
    {"StopKalnixService", 4},     {"StartKalnixServiceAgain", 4}, {"InstallKalnixService", 4},
    {"UndoKalnixService", 4},     {"RemoveKalnixService", 4},     {"PutBackKalnixService", 4},
    {"InstallProtectionService", 4}, {"StartProtectionService", 0}, {"StopProtectionService", 0},
    {"RemoveProtectionService", 0}, {"ProtectionServiceInstalled", 0},
};

std::set<std::string> ExpectedExportNames() {
    std::set<std::string> names;
    for (const auto& [name, bytes] : kExports) names.insert(ExportName(name, bytes));
    return names;
}

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || !value) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

class CaBuildTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(CaBuildTest, ExportTableHoldsExactlyTheSetupProgramsNames) {
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    const IMAGE_DATA_DIRECTORY& entry =
        NtHeaders(library.Module())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);
    auto directory = AtRva<IMAGE_EXPORT_DIRECTORY>(library.Module(), entry.VirtualAddress);
    EXPECT_STREQ(AtRva<char>(library.Module(), directory->Name), "KalnixCA.dll");

    std::set<std::string> names;
    auto nameRvas = AtRva<DWORD>(library.Module(), directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) names.insert(AtRva<char>(library.Module(), nameRvas[i]));
    EXPECT_EQ(names, ExpectedExportNames());
    EXPECT_EQ(directory->NumberOfFunctions, std::size(kExports));
    for (const std::string& name : ExpectedExportNames()) EXPECT_NE(library.Resolve(name.c_str()), nullptr) << name;
    // None of the other spellings of a stdcall name is there.
    for (const char* other : {"SetRunKey@4", "SetRunKey", "_SetRunKey@4"}) {
        if (ExportName("SetRunKey", 4) != other) {
            EXPECT_EQ(library.Resolve(other), nullptr) << other;
        }
    }
}

TEST_P(CaBuildTest, ImportsSystemLibrariesOnly) {
    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    const std::vector<std::string> system = {"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll", "ole32.dll",
                                             "OLEAUT32.dll"};
    std::vector<std::string> imports = ImportedModules(library.Module());
    for (const std::string& name : imports) EXPECT_TRUE(IsOneOf(name, system)) << name;
    EXPECT_FALSE(imports.empty());
}

TEST_P(CaBuildTest, CarriesVersionResourceAndDependencyFreeManifest) {
    std::wstring path = CaLibraryPath(GetParam());
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(VersionString(info, L"FileVersion"), L"1, 0, 0, 0");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1, 0, 0, 0");
    EXPECT_EQ(VersionString(info, L"FileDescription"), L"KalnixCA Dynamic Link Library");
    EXPECT_EQ(VersionString(info, L"ProductName"), L"KalnixCA Dynamic Link Library");
    EXPECT_EQ(VersionString(info, L"InternalName"), L"KalnixCA");
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"KalnixCA.dll");

    CaLibrary library(GetParam());
    ASSERT_TRUE(library.Loaded());
    HRSRC manifest = FindResourceW(library.Module(), MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(library.Module(), manifest))),
                     SizeofResource(library.Module(), manifest));
    EXPECT_NE(text.find("<assembly"), std::string::npos);
    EXPECT_EQ(text.find("dependency"), std::string::npos);
}

// Loading and unloading run nothing of the library's own: not even the diagnostic build,
// whose gate is open, writes a line.
TEST_P(CaBuildTest, LoadingAndUnloadingDoNothing) {
    OpenLogGateFor(GetParam());
    for (int i = 0; i < 3; ++i) {
        CaLibrary library(GetParam());
        ASSERT_TRUE(library.Loaded());
    }
    EXPECT_FALSE(FileExists(LogPathBesideExecutable()));
}

INSTANTIATE_TEST_SUITE_P(Builds, CaBuildTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

// The two builds differ only in the gate: the standard build writes when EnableLogging
// is 1, the diagnostic build unless it is 1 (so also when the value is absent). Neither reads
// Group Policy's EnableLogging: that is Kalnix.exe's alone.
TEST(CaLogGateTest, EachBuildWritesOnlyWhenItsGateIsOpen) {
    const std::string kLines = "CA: Entering SetRunKey\r\nCA: Entering DeleteRunKey\r\n";
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    struct Case {
        const wchar_t* build;
        const wchar_t* state;
        DWORD enableLogging;
        DWORD policy;
        bool logs;
    };
    const Case cases[] = {
        {L"standard", L"absent", kAbsent, kAbsent, false},  {L"diagnostic", L"absent", kAbsent, kAbsent, true},
        {L"standard", L"one", 1, kAbsent, true},            {L"diagnostic", L"one", 1, kAbsent, false},
        {L"standard", L"two", 2, kAbsent, false},           {L"diagnostic", L"two", 2, kAbsent, true},
        {L"standard", L"policy one", kAbsent, 1, false},    {L"diagnostic", L"policy one", kAbsent, 1, true},
        {L"standard", L"policy zero", 1, 0, true},
    };
    PolicyCleanup policies;
    for (const Case& c : cases) {
        ResetSettingsKey();
        DeletePolicyKey();
        if (c.enableLogging != kAbsent) SetSettingDword(L"EnableLogging", c.enableLogging);
        if (c.policy != kAbsent) SetPolicyDword(L"EnableLogging", c.policy);
        RemoveFile(LogPathBesideExecutable());
        CaLibrary library(c.build);
        ASSERT_TRUE(library.Loaded());
        EXPECT_EQ(library.SetRunKey(L"gate"), 1);
        EXPECT_EQ(library.DeleteRunKey(), 1);
        EXPECT_EQ(TestLog(), c.logs ? kLines : "") << c.build << L" " << c.state;
    }
    RemoveFile(LogPathBesideExecutable());
}

// Loaded by the setup program, the library writes beside nothing of that program's: until told
// a path (the setup program's secured log folder), it writes no log at all.
TEST(CaLogGateTest, TheLibraryLogsOnlyWhereTheSetupProgramTellsIt) {
    const std::wstring told = MakeScratchDirectory(L"ca-told") + L"\\Kalnix.log";
    OpenLogGateFor(L"diagnostic");
    HMODULE library = LoadLibraryW(CaLibraryPath(L"diagnostic").c_str());
    ASSERT_NE(library, nullptr);
    using DeleteRunKeyExport = DWORD(WINAPI*)();
    using SetLogPathExport = DWORD(WINAPI*)(const wchar_t*);
    auto deleteRunKey = reinterpret_cast<DeleteRunKeyExport>(
        reinterpret_cast<void*>(GetProcAddress(library, ExportName("DeleteRunKey", 0).c_str())));
    auto setLogPath = reinterpret_cast<SetLogPathExport>(
        reinterpret_cast<void*>(GetProcAddress(library, ExportName("SetLogPath", 4).c_str())));
    ASSERT_TRUE(deleteRunKey && setLogPath);
    EXPECT_EQ(deleteRunKey() & 0xFF, 1u);
    EXPECT_EQ(setLogPath(told.c_str()) & 0xFF, 1u);
    EXPECT_EQ(deleteRunKey() & 0xFF, 1u);
    FreeLibrary(library);
    EXPECT_FALSE(FileExists(LogPathBesideExecutable()));
    EXPECT_EQ(ReadFileBytes(told), "CA: Entering DeleteRunKey\r\n");
}

}  // namespace
