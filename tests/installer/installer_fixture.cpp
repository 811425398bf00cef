#include "installer_fixture.h"

#include <shlobj.h>

#include "support/kalnix_process.h"
#include "support/test_support.h"

std::wstring SystemPath(const wchar_t* tail) {
    wchar_t buffer[MAX_PATH] = {};
    GetSystemDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer) + tail;
}

DWORD RunSetup(const wchar_t* program, const std::wstring& options) {
    return RunAndWait(L"\"" + std::wstring(program) + L"\" " + options, 120000);
}
DWORD RunSetup(const std::wstring& options) { return RunSetup(KALNIX_SETUP_W, options); }
DWORD RunSetupWithDriver(const std::wstring& options) {
    return RunSetup(KALNIX_TEST_BIN_DIR_W L"\\KalnixSetupWithDriver.exe", options);
}

bool RunUninstallAndWait(const std::wstring& folder) {
    if (RunAndWait(L"\"" + folder + L"\\Uninstall.exe\" /S", 30000) != 0) return false;
    return WaitUntil([folder] {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return false;
        }
        return !FileExists(folder);
    }, 60000);
}

DWORD ReadDword(HKEY root, const wchar_t* key, const wchar_t* value) {
    DWORD data = 0xDEADBEEF, size = sizeof(data);
    RegGetValueW(root, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size);
    return data;
}

DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    DWORD state = 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"Kalnix", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool SetupLogHas(const char* line) { return ReadFileBytes(SetupLog()).find(line) != std::string::npos; }

bool TaskFileLeft(const std::wstring& folder) {
    return FileExists(folder + L"\\KalnixTask.xml");
}

void ExpectNothingInstalledBut(const std::wstring& folder) {
    EXPECT_FALSE(FileExists(folder + L"\\Kalnix.exe"));
    EXPECT_FALSE(FileExists(folder + L"\\Uninstall.exe"));
    EXPECT_FALSE(MachineKeyExists(L"Software\\Kalnix"));
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    EXPECT_FALSE(MachineKeyExists(kEventSourceKey));
    EXPECT_EQ(L"<missing>", ReadMachineString(kRunKey, L"Kalnix"));
    EXPECT_FALSE(TaskRegistered());
    EXPECT_EQ(0u, ServiceState());
    EXPECT_TRUE(KalnixServices().empty());
    EXPECT_EQ(L"<missing>", StartMenuEntryTarget(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(KalnixTrayWindows().empty());
    EXPECT_TRUE(KalnixProcessIds().empty());
}

void ExpectNothingInstalled() {
    EXPECT_FALSE(FileExists(InstallDir()));
    ExpectNothingInstalledBut(InstallDir());
}

void MakeTheTaskToolInert() {
    ASSERT_TRUE(CopyFileW(KALNIX_TEST_BIN_DIR_W L"\\installer_inert_tool.exe", SystemPath(L"\\schtasks.exe").c_str(), FALSE));
    // Wine would run its own built-in tool in place of the file.
    const wchar_t native[] = L"native";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"schtasks.exe",
                                             REG_SZ, native, sizeof(native)));
}
