#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>

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

// The uninstaller keeps the settings key only for what is the user's: a saved value of any
// kind, never Kalnix's own settings.
TEST(PowerSettingsAreSavedTest, EachSavedValueCountsAndKalnixsOwnSettingsDoNot) {
    CaLibrary library(L"diagnostic");
    ASSERT_TRUE(library.Loaded());
    const DWORD dword = 0;
    const BYTE scheme[16] = {};
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
    };
    const Case saved[] = {
        {L"PowerSettings1", REG_DWORD, &dword, sizeof(dword)},
        {L"PowerSettings2", REG_DWORD, &dword, sizeof(dword)},
        {L"LidCloseScheme", REG_BINARY, scheme, sizeof(scheme)},
        {L"LidCloseAction", REG_DWORD, &dword, sizeof(dword)},
        {L"LidCloseWritten", REG_DWORD, &dword, sizeof(dword)},
        {L"HibernateScheme", REG_BINARY, scheme, sizeof(scheme)},
        {L"HibernateTimeout", REG_DWORD, &dword, sizeof(dword)},
        {L"HibernateWritten", REG_DWORD, &dword, sizeof(dword)},
    };
    for (const Case& c : saved) {
        ResetSettingsKey();
        SetSettingRaw(c.name, c.type, c.data, c.size);
        RemoveFile(LogPathBesideExecutable());
        EXPECT_EQ(library.PowerSettingsAreSaved(), 1) << std::string(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(TestLog(), "CA: Entering PowerSettingsAreSaved\r\n");
    }
    ResetSettingsKey();
    for (const wchar_t* own : {L"Action", L"AlarmTime", L"EnableLogging", L"HideTrayIcon", L"AlarmWithExternalDisplay",
                               L"RestAfter", L"HibernateAfter", L"StandbyDrainAlert"}) {
        SetSettingDword(own, 1);
    }
    EXPECT_EQ(library.PowerSettingsAreSaved(), 0) << "Kalnix's own settings only";
    DeleteSettingsKey();
    EXPECT_EQ(library.PowerSettingsAreSaved(), 0) << "no settings key";
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
