// The machine's wake settings Kalnix changes and puts back: wake timers on battery against the
// stand-in power library, automatic maintenance's wake in the test prefix's registry, and a
// device's wake through a stand-in of the power tool's start. Log lines compared byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/device_wake.h"
#include "common/hibernate_timeout.h"
#include "common/maintenance_wake.h"
#include "common/power_guard.h"
#include "common/setting_list.h"
#include "common/wake_timers.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

const GUID kUserScheme = {0x11223344, 0x5566, 0x7788, {0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x03}};
constexpr DWORD kUnset = 99;
constexpr DWORD kEnable = 1, kImportantOnly = 2;

std::string Log() { return ReadFileBytes(LogPathBesideExecutable()); }
void ClearLog() { RemoveFile(LogPathBesideExecutable()); }

DWORD WakeTimers(bool onBattery) {
    return StandinSchemeSetting(kUserScheme, kSleepSubgroup, kWakeTimersSetting, onBattery, kUnset);
}

class WakeSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"EnableLogging", 1);
        SetSettingDword(L"PowerSettings1", 3);
        SetSettingDword(L"PowerSettings2", 3);
        TearDown();
        PresetPowerPolicy(PatternedPowerPolicy(0x80000004, 0x80000004));
        SetStandinActiveSchemeGuid(kUserScheme);
    }
    void TearDown() override {
        ClearPowerStandin();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMaintenanceKeyPath);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMaintenancePolicyKeyPath);
        ClearLog();
    }
};

TEST_F(WakeSettingsTest, WakeTimersOnBatteryAreTurnedOffSavedAndOnlyKalnixsValueTakenBack) {
    struct Case {
        const char* shows;
        DWORD before;
        bool userChangesMeanwhile;  // to Enable, after Kalnix wrote Disable
        bool release;               // RestorePowerSettings, as at exit or uninstall
        DWORD finally;
        const char* log;
    } cases[] = {
        {"Enable is turned off and comes back", kEnable, false, false, kEnable,
         "Wake timers on battery set to 0 (Disable)\r\nWake timers on battery restored to 1\r\n"},
        {"Important only too; the release puts it back", kImportantOnly, false, true, kImportantOnly,
         "Wake timers on battery set to 0 (Disable)\r\nEntering RestorePowerSettings\r\n"
         "Wake timers on battery restored to 2\r\n"},
        {"a value the user chose meanwhile stays", kImportantOnly, true, false, kEnable,
         "Wake timers on battery set to 0 (Disable)\r\nWake timers on battery restored to 2\r\n"},
        {"Disable is left alone", 0, false, true, 0, "Entering RestorePowerSettings\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        SetUp();
        PresetSchemeSetting(kUserScheme, kSleepSubgroup, kWakeTimersSetting, true, c.before);
        PresetSchemeSetting(kUserScheme, kSleepSubgroup, kWakeTimersSetting, false, kEnable);
        EnforceWakeTimersOff();
        EXPECT_EQ(WakeTimers(true), 0u);
        EXPECT_EQ(WakeTimers(false), kEnable) << "mains power is left as it is";
        EXPECT_EQ(SettingExists(kSavedWakeTimers), c.before != 0);
        if (c.userChangesMeanwhile) PresetSchemeSetting(kUserScheme, kSleepSubgroup, kWakeTimersSetting, true, kEnable);
        EXPECT_TRUE(c.release ? RestorePowerSettings() : RestoreWakeTimers());
        EXPECT_EQ(WakeTimers(true), c.finally);
        for (const wchar_t* leftover : {kSavedWakeTimers, kWrittenWakeTimers, kSavedWakeTimersScheme})
            EXPECT_FALSE(SettingExists(leftover));
        EXPECT_EQ(Log(), c.log);
    }
}

DWORD MaintenanceWake() {
    DWORD value = kUnset, size = sizeof(value);
    RegGetValueW(HKEY_LOCAL_MACHINE, kMaintenanceKeyPath, kMaintenanceWakeValue, RRF_RT_REG_DWORD, nullptr, &value,
                 &size);
    return value;
}

void SetMaintenanceWake(const wchar_t* path, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value != kUnset)
        RegSetValueExW(key, kMaintenanceWakeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

TEST_F(WakeSettingsTest, AutomaticMaintenanceIsKeptFromWakingAndItsValueComesBack) {
    struct Case {
        const char* shows;
        bool offered;       // Windows has the setting's key
        DWORD before;       // kUnset: no value
        bool policy;        // Windows' own Group Policy sets it
        DWORD laterChoice;  // kUnset: nobody changes it after Kalnix
        DWORD afterOff, finally;
        const char* log;
    } cases[] = {
        {"no value: 0 written, then deleted", true, kUnset, false, kUnset, 0, kUnset,
         "Automatic maintenance may no longer wake the laptop\r\n"
         "Automatic maintenance's wake restored to Windows' default\r\n"},
        {"1 becomes 0 and comes back", true, 1, false, kUnset, 0, 1,
         "Automatic maintenance may no longer wake the laptop\r\nAutomatic maintenance's wake restored to 1\r\n"},
        {"a later choice stays", true, 1, false, 1, 0, 1, "Automatic maintenance may no longer wake the laptop\r\n"},
        {"0 is left alone", true, 0, false, kUnset, 0, 0, ""},
        {"Group Policy wins", true, 1, true, kUnset, 1, 1,
         "Automatic maintenance's wake is set by Group Policy: Kalnix leaves it alone\r\n"},
        {"not on this Windows", false, kUnset, false, kUnset, kUnset, kUnset, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        SetUp();
        if (c.offered) SetMaintenanceWake(kMaintenanceKeyPath, c.before);
        if (c.policy) SetMaintenanceWake(kMaintenancePolicyKeyPath, 1);
        EXPECT_EQ(MaintenanceWakeOffered(), c.offered);
        EnforceMaintenanceWakeOff();
        EXPECT_EQ(MaintenanceWake(), c.afterOff);
        EXPECT_EQ(MaintenanceWakeChanged(), c.afterOff != c.before);
        if (c.laterChoice != kUnset) SetMaintenanceWake(kMaintenanceKeyPath, c.laterChoice);
        EXPECT_TRUE(RestoreMaintenanceWake());
        EXPECT_EQ(MaintenanceWake(), c.finally);
        EXPECT_FALSE(MaintenanceWakeChanged());
        EXPECT_FALSE(SettingExists(kSavedMaintenanceWake));
        // Logged once a run: only the first case with the policy says so.
        EXPECT_EQ(Log(), c.log);
    }
}

// The power tool's start, stood in: what it was asked, and a real process that ends with the
// exit code the tool would give (1 for a device it does not know).
std::vector<std::wstring> g_toolCalls;

BOOL WINAPI ExitLikeTheTool(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                            BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                            LPPROCESS_INFORMATION process) {
    g_toolCalls.push_back(std::wstring(application) + L"|" + commandLine);
    wchar_t interpreter[MAX_PATH];
    GetSystemDirectoryW(interpreter, MAX_PATH);
    wcscat(interpreter, L"\\cmd.exe");
    std::wstring exit = wcsstr(commandLine, L"Gone device") ? L"cmd.exe /c exit 1" : L"cmd.exe /c exit 0";
    return CreateProcessW(interpreter, &exit[0], nullptr, nullptr, inherit, flags, nullptr, nullptr, startup, process);
}

std::vector<std::wstring> Disarmed() {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kalnix", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return names;
    SettingList list;
    ReadSettingList(key, kDisarmedWakeDevicesValue, &list);
    RegCloseKey(key);
    for (int i = 0; i < list.count; ++i) names.emplace_back(list.names[i]);
    return names;
}

TEST_F(WakeSettingsTest, EachRecordedDeviceIsAllowedAgainByTheSystemsToolAndARefusedOneStaysRecorded) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring tool = std::wstring(system) + L"\\powercfg.exe";
    g_toolCalls.clear();
    const wchar_t* failedCall = L"";
    for (const wchar_t* unfit : {L"", L"Evil\" /hibernate off", L"Line\nbreak"}) {
        EXPECT_EQ(SwitchDeviceWake(unfit, false, ExitLikeTheTool, &failedCall), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    EXPECT_TRUE(g_toolCalls.empty()) << "a name that could end its argument never reaches the tool";
    EXPECT_EQ(SwitchDeviceWake(L"USB Root Hub", false, ExitLikeTheTool, &failedCall), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(g_toolCalls.size(), 1u);
    EXPECT_EQ(g_toolCalls[0], tool + L"|\"" + tool + L"\" /devicedisablewake \"USB Root Hub\"");

    const wchar_t kRecorded[] = L"Intel(R) Ethernet Connection I219-LM\0Gone device\0";
    SetSettingRaw(kDisarmedWakeDevicesValue, REG_MULTI_SZ, kRecorded, sizeof(kRecorded));
    g_toolCalls.clear();
    EXPECT_FALSE(RestoreDeviceWake(ExitLikeTheTool));
    EXPECT_EQ(g_toolCalls, (std::vector<std::wstring>{
                               tool + L"|\"" + tool + L"\" /deviceenablewake \"Intel(R) Ethernet Connection I219-LM\"",
                               tool + L"|\"" + tool + L"\" /deviceenablewake \"Gone device\""}));
    EXPECT_EQ(Disarmed(), std::vector<std::wstring>{L"Gone device"}) << "kept for a later try";
    EXPECT_EQ(Log(), "Intel(R) Ethernet Connection I219-LM may wake the laptop again\r\n"
                     "powercfg Failed: 22 (Gone device may not wake the laptop yet)\r\n\r\n");
}

}  // namespace
