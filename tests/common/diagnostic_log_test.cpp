#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "common/diagnostic_log.h"
#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

class DiagnosticLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override { RemoveFile(LogPathBesideExecutable()); }
    std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
};

TEST_F(DiagnosticLogTest, WritesEightBitLinesWithCrLfBesideTheExecutable) {
    LogFormatted(L"RGPP Failed: %d\n", 5);
    LogMessage(L"CA: Entering SetRunKey");
    LogFormatted(L"RSVE Failed: %d\n", -5);
    EXPECT_EQ(Log(), "RGPP Failed: 5\r\n\r\nCA: Entering SetRunKey\r\nRSVE Failed: -5\r\n\r\n");
}

TEST_F(DiagnosticLogTest, StandardGateLogsOnlyForOne) {
    for (DWORD gate : {0u, 2u, 0xFFFFFFFFu}) {
        SetSettingDword(L"EnableLogging", gate);
        LogMessage(L"silent");
    }
    // Longer than 4 bytes, opening with a 1: the read fails (Windows may still have filled
    // the buffer), and a failed read is a missing value.
    const BYTE eightBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    for (DWORD type : {static_cast<DWORD>(REG_BINARY), static_cast<DWORD>(REG_QWORD)}) {
        SetSettingRaw(L"EnableLogging", type, eightBytes, sizeof(eightBytes));
        LogMessage(L"silent");
    }
    DeleteSettingValue(L"EnableLogging");
    LogMessage(L"silent");
    DeleteSettingsKey();
    LogMessage(L"silent");
    EXPECT_EQ(Log(), "");

    // The gate is read at every message: switching it on takes effect at once.
    SetSettingDword(L"EnableLogging", 1);
    LogMessage(L"heard");
    EXPECT_EQ(Log(), "heard\r\n");
}

// In the program itself (as in Kalnix.exe) a policy's EnableLogging wins over the local one,
// at every message; the installer library's gate is seen in its own tests.
TEST_F(DiagnosticLogTest, APolicyDecidesTheProgramsGateOverTheLocalValue) {
    PolicyCleanup policies;
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    struct Case { DWORD policy, local; bool logs; };
    const Case cases[] = {
        {1, kAbsent, true}, {1, 0, true}, {0, 1, false}, {2, 1, false},
        {kAbsent, 1, true},  // the policy removed: the local value again
    };
    for (const Case& c : cases) {
        DeletePolicyKey();
        DeleteSettingValue(L"EnableLogging");
        if (c.policy != kAbsent) SetPolicyDword(L"EnableLogging", c.policy);
        if (c.local != kAbsent) SetSettingDword(L"EnableLogging", c.local);
        RemoveFile(LogPathBesideExecutable());
        LogMessage(L"line");
        EXPECT_EQ(Log(), c.logs ? "line\r\n" : "") << "policy " << c.policy << ", local " << c.local;
    }
}

TEST_F(DiagnosticLogTest, CharacterWithoutEightBitFormDoesNotLoseTheLine) {
    LogMessage(L"caf\u00e9 \u20ac end");
    LogMessage(L"next");
    EXPECT_EQ(Log(), "caf\xe9 ? end\r\nnext\r\n");
}

TEST_F(DiagnosticLogTest, LongMessagesAreCutToTheLineAndKeepTheirNewline) {
    std::wstring fits(1022, L'a');
    LogMessage(fits.c_str());
    EXPECT_EQ(Log(), std::string(1022, 'a') + "\r\n");

    RemoveFile(LogPathBesideExecutable());
    std::wstring tooLong(5000, L'b');
    LogMessage(tooLong.c_str());
    EXPECT_EQ(Log(), std::string(1022, 'b') + "\r\n");

    RemoveFile(LogPathBesideExecutable());
    LogFormatted(L"%ls!", tooLong.c_str());
    EXPECT_EQ(Log(), std::string(1022, 'b') + "\r\n");
}

TEST_F(DiagnosticLogTest, FileHeldByAnotherWriterLosesTheLineSilently) {
    std::wstring path = LogPathBesideExecutable();
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LogMessage(L"lost");
    CloseHandle(held);
    LogMessage(L"kept");
    EXPECT_EQ(Log(), "kept\r\n");
}

// A caller that names the log's file sends every later line there, or, with an empty name,
// nowhere; without a name again the log is beside the executable once more.
TEST_F(DiagnosticLogTest, TheNamedFileTakesTheLines) {
    const std::wstring told = MakeScratchDirectory(L"told-log") + L"\\Told.log";
    struct Case {
        const wchar_t* path;
        bool accepted;
        const char* toldFile;
        const char* beside;
    };
    const std::wstring tooLong(32768, L'x');
    const Case cases[] = {
        {told.c_str(), true, "line\r\n", ""},
        {L"", true, "", ""},
        {tooLong.c_str(), false, "", ""},
        {nullptr, true, "", "line\r\n"},
    };
    for (const Case& c : cases) {
        RemoveFile(told);
        RemoveFile(LogPathBesideExecutable());
        EXPECT_EQ(SetLogFilePath(c.path), c.accepted);
        LogMessage(L"line");
        EXPECT_EQ(ReadFileBytes(told), c.toldFile);
        EXPECT_EQ(Log(), c.beside);
    }
}

// Kalnix.exe runs elevated: it keeps its log beside itself only in a folder nobody else may
// write to, and never writes through a link at the log's name. Elsewhere (a copy under C:\, a
// Kalnix.log planted as a second name of another file) it logs to %ProgramData%\Kalnix, the
// setup logs' folder, once the setup program has made that. Wine gives a folder that everyone
// may change the permissions it shows for it.
TEST(KalnixLogPlace, OnlyAFolderNobodyElseMayWriteToHoldsTheLogBesideKalnix) {
    wchar_t programData[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData));
    const std::wstring logFolder = std::wstring(programData) + L"\\Kalnix", setupFolderLog = logFolder + L"\\Kalnix.log";
    CreateDirectoryW(logFolder.c_str(), nullptr);
    const std::wstring victim = MakeScratchDirectory(L"log-place-victim") + L"\\victim.ini";
    const struct {
        const char* what;
        bool everyoneMayWrite, plantedLink, besideKalnix;
    } cases[] = {
        {"its own folder", false, false, true},
        {"a folder everyone may write to", true, false, false},
        {"a Kalnix.log that is a second name of another file", false, true, false},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(setupFolderLog);
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare((L"log-place-" + std::to_wstring(++number)).c_str()));
        const std::wstring folder = kalnix.Exe().substr(0, kalnix.Exe().rfind(L'\\'));
        if (c.everyoneMayWrite) {
            PSECURITY_DESCRIPTOR open = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                             &open, nullptr));
            BOOL present = FALSE, defaulted = FALSE;
            PACL dacl = nullptr;
            GetSecurityDescriptorDacl(open, &present, &dacl, &defaulted);
            EXPECT_EQ(ERROR_SUCCESS, SetNamedSecurityInfoW(&std::wstring(folder)[0], SE_FILE_OBJECT,
                                                           DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));
            LocalFree(open);
        }
        const std::string victimText = "[an administrator's file]\r\n";
        if (c.plantedLink) {
            HANDLE file = CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, file);
            DWORD written = 0;
            WriteFile(file, victimText.data(), static_cast<DWORD>(victimText.size()), &written, nullptr);
            CloseHandle(file);
            ASSERT_TRUE(CreateHardLinkW(kalnix.LogPath().c_str(), victim.c_str(), nullptr));
        }
        ASSERT_TRUE(kalnix.Start());
        EXPECT_EQ(0u, kalnix.End());
        std::string beside = ReadFileBytes(kalnix.LogPath()), elsewhere = ReadFileBytes(setupFolderLog);
        EXPECT_EQ(c.besideKalnix, beside.find(kSleepLines) != std::string::npos) << beside;
        EXPECT_EQ(!c.besideKalnix, elsewhere.find(kSleepLines) != std::string::npos) << elsewhere;
        if (c.plantedLink) {
            EXPECT_EQ(victimText, ReadFileBytes(victim));
        }
    }
    RemoveFile(setupFolderLog);
}

}  // namespace
