#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

// KalnixCA.dll as the setup program sees it: loaded by full path, every export resolved
// by the name the setup program uses (ExportName) and called through its real signature. The result is
// taken as the whole register a setup program receives; only its low byte is defined. Like the
// setup program, it tells the library where to log first: Kalnix.log beside this test program.
class CaLibrary {
public:
    // `build` is L"standard" or L"diagnostic".
    explicit CaLibrary(const wchar_t* build);
    ~CaLibrary();
    CaLibrary(const CaLibrary&) = delete;
    CaLibrary& operator=(const CaLibrary&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }
    FARPROC Resolve(const char* exportName) const;

    // Each returns the result's low byte (1 for true, 0 for false).
    int InstallDriverAndStart(const wchar_t* driverPath) const;
    int RemoveDriver() const;
    int TerminateUIProcess() const;
    int InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command) const;
    int SetRunKey(const wchar_t* command) const;
    int DeleteRunKey() const;
    int SavePowerSettings() const;
    int RestorePowerSettings() const;
    int SecureFolder(const wchar_t* folder) const;
    // The library writes `reason` into room for 512 characters.
    int SecureInstallFolder(const wchar_t* folder, std::wstring* reason) const;
    int CheckInstallFolder(const wchar_t* folder, std::wstring* reason) const;
    int EndInstalledKalnix(const wchar_t* kalnixPath) const;
    int IsLocalSystem() const;
    int SettingExists(const wchar_t* name) const;
    int PowerSettingsAreSaved() const;
    int WriteTaskHead(const wchar_t* taskFilePath) const;
    int TaskIsRegistered() const;
    int SetLogPath(const wchar_t* path) const;
    int PrepareLogFolder(const wchar_t* folder) const;
    int RunKalnixTask() const;
    int TaskIsAbsent() const;
    int InstallProtectionService(const wchar_t* kalnixExe) const;
    int StartProtectionService() const;
    int StopProtectionService() const;
    int RemoveProtectionService() const;
    int ProtectionServiceInstalled() const;

private:
    int FolderCall(const char* name, const wchar_t* folder, std::wstring* reason) const;

    HMODULE module_;
};

// Full path of bin\<build>\KalnixCA.dll.
std::wstring CaLibraryPath(const wchar_t* build);

// The log gate that makes a build write: EnableLogging 1 for the standard build, the value
// absent for the diagnostic build. Resets the settings key and removes the test's log.
void OpenLogGateFor(const wchar_t* build);
// Kalnix.log beside the test executable, as bytes.
std::string TestLog();

// Parameters and case names for tests that run against both builds.
inline const wchar_t* const kCaBuilds[] = {L"standard", L"diagnostic"};
inline std::string CaBuildName(const ::testing::TestParamInfo<const wchar_t*>& info) {
    return info.param[0] == L's' ? "Standard" : "Diagnostic";
}
