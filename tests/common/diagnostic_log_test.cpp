#include <gtest/gtest.h>

#include <string>

#include "common/diagnostic_log.h"
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

}  // namespace
