#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ca_library.h"
#include "support/test_support.h"

namespace {

constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RunValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

RunValue ReadRunValue() {
    RunValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"Kalnix", nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.exists = RegQueryValueExW(key, L"Kalnix", nullptr, &value.type, value.data.data(), &size) ==
                       ERROR_SUCCESS;
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

// The command's UTF-16 code units with the terminating NUL, as REG_SZ stores them.
std::vector<BYTE> StoredForm(const std::wstring& command) {
    auto bytes = reinterpret_cast<const BYTE*>(command.c_str());
    return std::vector<BYTE>(bytes, bytes + (command.size() + 1) * sizeof(wchar_t));
}

class RunKeyTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        OpenLogGateFor(GetParam());
        ASSERT_TRUE(library_.Loaded());
        library_.DeleteRunKey();
        RemoveFile(LogPathBesideExecutable());
    }
    void TearDown() override {
        library_.DeleteRunKey();
        RemoveFile(LogPathBesideExecutable());
    }
    CaLibrary library_{GetParam()};
};

TEST_P(RunKeyTest, WritesCommandAsStringWithItsNul) {
    const std::wstring commands[] = {
        L"\"C:\\Program Files\\Kalnix\\Kalnix.exe\" -fresh",
        L"",
        std::wstring(1000, L'x'),
    };
    for (const std::wstring& command : commands) {
        EXPECT_EQ(library_.SetRunKey(command.c_str()), 1);
        RunValue value = ReadRunValue();
        ASSERT_TRUE(value.exists);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value.data.size(), (command.size() + 1) * 2);
        EXPECT_EQ(value.data, StoredForm(command));
    }
    EXPECT_EQ(TestLog(), "CA: Entering SetRunKey\r\nCA: Entering SetRunKey\r\nCA: Entering SetRunKey\r\n");
}

TEST_P(RunKeyTest, SecondCommandReplacesTheFirst) {
    EXPECT_EQ(library_.SetRunKey(L"C:\\Old\\Kalnix.exe"), 1);
    EXPECT_EQ(library_.SetRunKey(L"C:\\New\\Kalnix.exe -fresh"), 1);
    EXPECT_EQ(ReadRunValue().data, StoredForm(L"C:\\New\\Kalnix.exe -fresh"));
}

TEST_P(RunKeyTest, DeleteRemovesTheValueAndSucceedsWhenItIsAbsent) {
    EXPECT_EQ(library_.SetRunKey(L"C:\\Kalnix\\Kalnix.exe"), 1);
    RemoveFile(LogPathBesideExecutable());
    EXPECT_EQ(library_.DeleteRunKey(), 1);
    EXPECT_FALSE(ReadRunValue().exists);
    EXPECT_EQ(library_.DeleteRunKey(), 1);
    EXPECT_FALSE(ReadRunValue().exists);
    EXPECT_EQ(TestLog(), "CA: Entering DeleteRunKey\r\nCA: Entering DeleteRunKey\r\n");
}

INSTANTIATE_TEST_SUITE_P(Builds, RunKeyTest, ::testing::ValuesIn(kCaBuilds), CaBuildName);

}  // namespace
