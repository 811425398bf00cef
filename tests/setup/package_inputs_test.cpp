// What the Windows Installer packages take from the command line and hand between their actions:
// the properties, the install folder's kind, the actions' data and the settings carried in it.
#include <gtest/gtest.h>

#include <algorithm>

#include "setup/custom_action_data.h"
#include "setup/install_folder_kind.h"
#include "setup/package_options.h"
#include "setup/settings_snapshot.h"
#include "support/test_support.h"

namespace {

TEST(PackageOptions, TakeOnlyWhatTheSetupProgramTakes) {
    const struct {
        const wchar_t* text;
        bool accepted;
        DWORD seconds;
    } alarmTimes[] = {{L"5", true, 5},      {L"60", true, 60},   {L"060", true, 60},        {L"4", false, 0},
                      {L"61", false, 0},    {L"0", false, 0},    {L"", false, 0},           {L"5x", false, 0},
                      {L"-5", false, 0},    {L" 5", false, 0},   {L"4294967301", false, 0}, {L"000000015", true, 15}};
    for (const auto& c : alarmTimes) {
        DWORD seconds = 0;
        EXPECT_EQ(c.accepted, ParseAlarmTimeOption(c.text, &seconds)) << c.text;
        if (c.accepted) {
            EXPECT_EQ(c.seconds, seconds) << c.text;
        }
    }
    for (const wchar_t* mode : {L"0", L"3", L"", L"01", L"1 ", L"a"}) {
        DWORD value = 0;
        EXPECT_FALSE(ParseModeOption(mode, &value)) << mode;
    }
}

TEST(InstallFolderKind, FollowsTheSetupProgramsJudgement) {
    const std::wstring programFiles = L"C:\\Program Files", x86 = L"C:\\Program Files (x86)", windows = L"C:\\Windows";
    const struct {
        const wchar_t* folder;
        InstallFolderKind kind;
    } cases[] = {
        {L"C:\\Program Files\\Kalnix", InstallFolderKind::InProgramFiles},
        {L"c:\\program files\\Sub\\Kalnix", InstallFolderKind::InProgramFiles},
        {L"C:\\Program Files Extra\\Kalnix", InstallFolderKind::Outside},
        {L"C:\\Program Files (x86)\\Kalnix", InstallFolderKind::Outside},
        {L"D:\\Kalnix", InstallFolderKind::Outside},
        {L"C:\\Program Files", InstallFolderKind::SystemFolder},
        {L"C:\\Program Files (x86)", InstallFolderKind::SystemFolder},
        {L"D:\\", InstallFolderKind::SystemFolder},
        {L"C:\\WINDOWS\\Kalnix", InstallFolderKind::InWindowsFolder},
        {L"C:\\WindowsApps\\Kalnix", InstallFolderKind::Outside},
        {L"\\\\server\\share\\Kalnix", InstallFolderKind::NotOnADrive},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.kind, ClassifyInstallFolder(c.folder, programFiles, x86, windows)) << c.folder;
    }
}

TEST(ActionData, FieldsAreFoundByTheirWholeName) {
    std::wstring data;
    ASSERT_TRUE(AppendField(&data, L"folder", L"C:\\Program Files\\Kalnix"));
    ASSERT_TRUE(AppendField(&data, L"logfolder", L""));
    ASSERT_TRUE(AppendField(&data, L"settings", L"Action:4:02000000,LidCloseScheme:3:00ff"));
    EXPECT_FALSE(AppendField(&data, L"mode", L"1|folder=C:\\Elsewhere"));
    EXPECT_EQ(L"C:\\Program Files\\Kalnix", FieldOf(data, L"folder"));
    EXPECT_EQ(L"", FieldOf(data, L"logfolder"));
    EXPECT_EQ(L"", FieldOf(data, L"mode"));
    EXPECT_EQ(L"", FieldOf(data, L"fold"));

    std::vector<SettingValue> values;
    ASSERT_TRUE(DecodeSettings(FieldOf(data, L"settings"), &values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(std::vector<BYTE>({0x00, 0xff}), values[1].data);
    EXPECT_EQ(FieldOf(data, L"settings"), EncodeSettings(values));
    for (const wchar_t* bad : {L"Action:4:0", L"Action:4:zz", L":4:00", L"Action:x:00", L"Action"}) {
        EXPECT_FALSE(DecodeSettings(bad, &values)) << bad;
    }
}

// Kalnix's longest value, its record of the lid closures (20 lines of 160 characters), comes out
// of the settings key and through an action's data whole, for a rollback to put back.
TEST(ActionData, CarryTheRecordOfTheLidClosuresWhole) {
    std::wstring record;
    for (wchar_t line = 0; line < 20; ++line) record += std::wstring(159, static_cast<wchar_t>(L'a' + line)) + L'\0';
    record += L'\0';
    const BYTE* bytes = reinterpret_cast<const BYTE*>(record.data());
    const std::vector<BYTE> written(bytes, bytes + record.size() * sizeof(wchar_t));
    SetSettingRaw(L"LidClosures", REG_MULTI_SZ, written.data(), static_cast<DWORD>(written.size()));
    std::vector<SettingValue> read, carried;
    ASSERT_TRUE(ReadSettingsKey(&read));
    DeleteSettingValue(L"LidClosures");
    ASSERT_TRUE(DecodeSettings(EncodeSettings(read), &carried));
    auto found = std::find_if(carried.begin(), carried.end(),
                              [](const SettingValue& value) { return value.name == L"LidClosures"; });
    ASSERT_NE(carried.end(), found);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), found->type);
    EXPECT_EQ(written, found->data);
}

}  // namespace
