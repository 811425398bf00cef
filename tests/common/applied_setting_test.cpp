#include <gtest/gtest.h>

#include <string>

#include "common/applied_setting.h"
#include "common/settings_store.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kAbsent = 0xFFFFFFFF;
constexpr DWORD kPreset = 77;

class AppliedSettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        OpenProcessSettingsKey();
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override {
        CloseProcessSettingsKey();
        RemoveFile(LogPathBesideExecutable());
    }
    std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
    PolicyCleanup policies_;
};

// A policy wins and is read quietly: the local value is not even read then, so its absence
// logs nothing. A policy that is no 4-byte REG_DWORD is none, and a value out of range is
// handed on as read.
TEST_F(AppliedSettingTest, APolicyWinsOverTheLocalValueWhichIsReadAsBeforeWithoutOne) {
    const std::string kMissing = "RQVE Failed: 2\r\n\r\n";
    struct Case {
        const char* shows;
        LocalRead local;
        DWORD localValue, policy;
        bool read;
        DWORD value;
        std::string log;
    };
    const Case cases[] = {
        {"quiet: local", LocalRead::Quiet, 2, kAbsent, true, 2, ""},
        {"quiet: policy", LocalRead::Quiet, 2, 7, true, 7, ""},
        {"quiet: neither", LocalRead::Quiet, kAbsent, kAbsent, false, kPreset, ""},
        {"process key: policy, no local", LocalRead::ProcessKey, kAbsent, 0, true, 0, ""},
        {"process key: neither", LocalRead::ProcessKey, kAbsent, kAbsent, false, kPreset, kMissing},
        {"fresh key: policy out of range", LocalRead::FreshKey, 1, 100000, true, 100000, ""},
        {"fresh key: neither", LocalRead::FreshKey, kAbsent, kAbsent, false, kPreset, kMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        DeleteSettingValue(L"RestAfter");
        DeletePolicyKey();
        if (c.localValue != kAbsent) SetSettingDword(L"RestAfter", c.localValue);
        if (c.policy != kAbsent) SetPolicyDword(L"RestAfter", c.policy);
        RemoveFile(LogPathBesideExecutable());
        DWORD value = kPreset;
        EXPECT_EQ(ReadAppliedSettingDword(L"RestAfter", &value, c.local), c.read);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(Log(), c.log);
    }
    DeletePolicyKey();
    const wchar_t kText[] = L"9";
    SetPolicyRaw(L"RestAfter", REG_SZ, kText, sizeof(kText));
    const BYTE eightBytes[8] = {9, 0, 0, 0, 0, 0, 0, 0};
    SetPolicyRaw(L"AlarmTime", REG_QWORD, eightBytes, sizeof(eightBytes));
    SetSettingDword(L"RestAfter", 60);
    SetSettingDword(L"AlarmTime", 15);
    DWORD restAfter = 0, alarmTime = 0;
    EXPECT_TRUE(ReadAppliedSettingDword(L"RestAfter", &restAfter, LocalRead::Quiet));
    EXPECT_TRUE(ReadAppliedSettingDword(L"AlarmTime", &alarmTime, LocalRead::ProcessKey));
    EXPECT_EQ(restAfter, 60u) << "a text is no policy";
    EXPECT_EQ(alarmTime, 15u) << "eight bytes are no policy";
}

// No tattooing: the local value was never touched, and comes back at the next read.
TEST_F(AppliedSettingTest, RemovingThePolicyBringsTheLocalValueBack) {
    SetSettingDword(L"HideTrayIcon", 0);
    SetPolicyDword(L"HideTrayIcon", 1);
    DWORD hide = kPreset;
    EXPECT_TRUE(ReadAppliedSettingDword(L"HideTrayIcon", &hide, LocalRead::FreshKey));
    EXPECT_EQ(hide, 1u);
    EXPECT_EQ(GetSettingDword(L"HideTrayIcon", kAbsent), 0u);
    DeletePolicyKey();
    EXPECT_TRUE(ReadAppliedSettingDword(L"HideTrayIcon", &hide, LocalRead::FreshKey));
    EXPECT_EQ(hide, 0u);
}

}  // namespace
