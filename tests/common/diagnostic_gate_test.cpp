#include <gtest/gtest.h>

#include "common/diagnostic_log.h"
#include "common/settings_store.h"
#include "support/test_support.h"

namespace {

// The diagnostic build logs unless EnableLogging is exactly 1, so also without the key.
TEST(DiagnosticGateTest, LogsUnlessEnableLoggingIsOne) {
    std::wstring log = LogPathBesideExecutable();
    RemoveFile(log);
    DeleteSettingsKey();
    HKEY key = nullptr;
    OpenSettingsKey(&key);  // logs its own failure
    ResetSettingsKey();
    LogMessage(L"absent");
    SetSettingDword(L"EnableLogging", 2);
    LogMessage(L"two");
    SetSettingDword(L"EnableLogging", 1);
    LogMessage(L"one");
    SetSettingDword(L"EnableLogging", 0);
    LogMessage(L"zero");
    // Longer than 4 bytes, opening with a 1: a failed read counts as a missing value.
    const BYTE eightBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    SetSettingRaw(L"EnableLogging", REG_QWORD, eightBytes, sizeof(eightBytes));
    LogMessage(L"eight bytes");
    EXPECT_EQ(ReadFileBytes(log), "ROKE Failed: 2\r\n\r\nabsent\r\ntwo\r\nzero\r\neight bytes\r\n");
    RemoveFile(log);
}

}  // namespace
