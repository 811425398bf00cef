#include <gtest/gtest.h>

#include <windows.h>

#include "ca_library.h"
#include "support/test_support.h"

namespace {

// A setting the user already has is kept at a reinstallation, whatever its type: only a
// value that is not there at all counts as missing.
TEST(SettingExistsTest, AnyValueOfThatNameCountsAndNothingElse) {
    CaLibrary library(L"diagnostic");
    ASSERT_TRUE(library.Loaded());
    const DWORD dword = 7;
    const wchar_t text[] = L"%SystemRoot%";
    const BYTE bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
        const wchar_t* asked;
        int exists;
    };
    const Case cases[] = {
        {"REG_DWORD", REG_DWORD, &dword, sizeof(dword), L"Action", 1},
        {"REG_SZ", REG_SZ, text, sizeof(text), L"Action", 1},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, text, sizeof(text), L"Action", 1},
        {"REG_BINARY of 8 bytes", REG_BINARY, bytes, sizeof(bytes), L"Action", 1},
        {"empty REG_BINARY", REG_BINARY, bytes, 0, L"Action", 1},
        {"another name only", REG_DWORD, &dword, sizeof(dword), L"AlarmTime", 0},
        {"the start of the name only", REG_DWORD, &dword, sizeof(dword), L"Act", 0},
    };
    for (const Case& c : cases) {
        ResetSettingsKey();
        SetSettingRaw(L"Action", c.type, c.data, c.size);
        RemoveFile(LogPathBesideExecutable());
        EXPECT_EQ(library.SettingExists(c.asked), c.exists) << c.name;
        EXPECT_EQ(TestLog(), "CA: Entering SettingExists\r\n") << c.name;
    }
    DeleteSettingsKey();
    EXPECT_EQ(library.SettingExists(L"Action"), 0) << "no settings key";
    RemoveFile(LogPathBesideExecutable());
}

// The test program runs as the prefix's user, an administrator: a test of group membership
// in place of the account itself would answer yes.
TEST(IsLocalSystemTest, AnAdministratorsProcessIsNotLocalSystem) {
    OpenLogGateFor(L"diagnostic");
    CaLibrary library(L"diagnostic");
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.IsLocalSystem(), 0);
    EXPECT_EQ(TestLog(), "CA: Entering IsLocalSystem\r\n");
    RemoveFile(LogPathBesideExecutable());
}

}  // namespace
