#include <gtest/gtest.h>

#include "common/settings_store.h"
#include "support/test_support.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override {
        if (g_settingsKey) CloseProcessSettingsKey();
        RemoveFile(LogPathBesideExecutable());
    }
    std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
};

TEST_F(SettingsStoreTest, ReadsDwordAndFourByteValuesOfOtherTypes) {
    SetSettingDword(L"Action", 2);
    const BYTE binary[4] = {0x78, 0x56, 0x34, 0x12};
    SetSettingRaw(L"AlarmTime", REG_BINARY, binary, 4);
    HKEY key = nullptr;
    OpenSettingsKey(&key);
    ASSERT_NE(key, nullptr);
    DWORD action = 0, alarm = 0;
    EXPECT_TRUE(ReadSettingDword(L"Action", &action, key));
    EXPECT_TRUE(ReadSettingDword(L"AlarmTime", &alarm, key));
    RegCloseKey(key);
    EXPECT_EQ(action, 2u);
    EXPECT_EQ(alarm, 0x12345678u);
    EXPECT_EQ(Log(), "");
}

TEST_F(SettingsStoreTest, ReadFailuresLogStatusAndKeepThePreset) {
    const BYTE five[5] = {1, 2, 3, 4, 5};
    SetSettingRaw(L"PowerSettings1", REG_BINARY, five, 5);
    HKEY key = nullptr;
    OpenSettingsKey(&key);
    ASSERT_NE(key, nullptr);
    DWORD missing = 77, tooLong = 88;
    EXPECT_FALSE(ReadSettingDword(L"Action", &missing, key));
    EXPECT_FALSE(ReadSettingDword(L"PowerSettings1", &tooLong, key));
    RegCloseKey(key);
    EXPECT_EQ(missing, 77u);
    EXPECT_EQ(tooLong, 88u);
    EXPECT_EQ(Log(), "RQVE Failed: 2\r\n\r\nRQVE Failed: 234\r\n\r\n");
}

TEST_F(SettingsStoreTest, MissingKeyIsLoggedByTheGateOnlyWhenLoggingCanBeRead) {
    // With the key gone the gate reads 0: the failure is not logged anywhere.
    DeleteSettingsKey();
    HKEY key = reinterpret_cast<HKEY>(1);
    OpenSettingsKey(&key);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(Log(), "");
}

TEST_F(SettingsStoreTest, ProcessHandleWritesDwordsAndLogsRefusedWrites) {
    OpenProcessSettingsKey();
    ASSERT_NE(g_settingsKey, nullptr);
    WriteSettingDword(L"Action", 1);
    WriteSettingDword(L"AlarmTime", 45);
    EXPECT_EQ(GetSettingDword(L"Action", 0), 1u);
    EXPECT_EQ(GetSettingDword(L"AlarmTime", 0), 45u);
    CloseProcessSettingsKey();
    EXPECT_EQ(g_settingsKey, nullptr);

    // No process handle: the write is refused and logged with the registry status.
    WriteSettingDword(L"Action", 2);
    EXPECT_EQ(GetSettingDword(L"Action", 0), 1u);
    EXPECT_EQ(Log(), "RSVE Failed: 6\r\n\r\n");
}

}  // namespace
