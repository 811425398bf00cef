#include "ca_library.h"

#include <cwchar>

#include "support/arch_facts.h"
#include "support/test_support.h"

namespace {

using NoArgExport = DWORD(WINAPI*)();
using OneArgExport = DWORD(WINAPI*)(const wchar_t*);
using TwoArgExport = DWORD(WINAPI*)(const wchar_t*, const wchar_t*);
using FolderExport = DWORD(WINAPI*)(const wchar_t*, wchar_t*, DWORD);

int LowByte(DWORD result) { return static_cast<int>(result & 0xFF); }

}  // namespace

std::wstring CaLibraryPath(const wchar_t* build) {
    return std::wstring(KALNIX_BIN_DIR_W) + L"\\" + build + L"\\KalnixCA.dll";
}

CaLibrary::CaLibrary(const wchar_t* build) : module_(LoadLibraryW(CaLibraryPath(build).c_str())) {
    SetLogPath(LogPathBesideExecutable().c_str());
}

CaLibrary::~CaLibrary() {
    if (module_) FreeLibrary(module_);
}

FARPROC CaLibrary::Resolve(const char* exportName) const {
    return module_ ? GetProcAddress(module_, exportName) : nullptr;
}

// A missing export gives 0xFF, which no export returns, so the caller's check fails.
#define KALNIX_CALL(type, name, ...)                                                 \
    do {                                                                             \
        auto function = reinterpret_cast<type>(reinterpret_cast<void*>(Resolve(name)));  \
        return function ? LowByte(function(__VA_ARGS__)) : 0xFF;                     \
    } while (0)

int CaLibrary::InstallDriverAndStart(const wchar_t* driverPath) const {
    KALNIX_CALL(OneArgExport, ExportName("InstallDriverAndStart", 4).c_str(), driverPath);
}
int CaLibrary::RemoveDriver() const { KALNIX_CALL(NoArgExport, ExportName("RemoveDriver", 0).c_str()); }
int CaLibrary::TerminateUIProcess() const { KALNIX_CALL(NoArgExport, ExportName("TerminateUIProcess", 0).c_str()); }
int CaLibrary::InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command) const {
    KALNIX_CALL(TwoArgExport, ExportName("InstallKalnixTask", 8).c_str(), taskFilePath, command);
}
int CaLibrary::SetRunKey(const wchar_t* command) const { KALNIX_CALL(OneArgExport, ExportName("SetRunKey", 4).c_str(), command); }
int CaLibrary::DeleteRunKey() const { KALNIX_CALL(NoArgExport, ExportName("DeleteRunKey", 0).c_str()); }
int CaLibrary::SavePowerSettings() const { KALNIX_CALL(NoArgExport, ExportName("SavePowerSettings", 0).c_str()); }
int CaLibrary::RestorePowerSettings() const { KALNIX_CALL(NoArgExport, ExportName("RestorePowerSettings", 0).c_str()); }
int CaLibrary::SecureFolder(const wchar_t* folder) const {
    KALNIX_CALL(OneArgExport, ExportName("SecureFolder", 4).c_str(), folder);
}
int CaLibrary::SecureInstallFolder(const wchar_t* folder, std::wstring* reason) const {
    return FolderCall("SecureInstallFolder", folder, reason);
}
int CaLibrary::CheckInstallFolder(const wchar_t* folder, std::wstring* reason) const {
    return FolderCall("CheckInstallFolder", folder, reason);
}
// The reason is cut at its terminator.
int CaLibrary::FolderCall(const char* name, const wchar_t* folder, std::wstring* reason) const {
    auto function = reinterpret_cast<FolderExport>(reinterpret_cast<void*>(Resolve(ExportName(name, 12).c_str())));
    if (!function) return 0xFF;
    wchar_t text[512];
    wmemset(text, L'*', 512);
    int result = LowByte(function(folder, text, 512));
    reason->assign(text, wcsnlen(text, 512));
    return result;
}

int CaLibrary::EndInstalledKalnix(const wchar_t* kalnixPath) const {
    KALNIX_CALL(OneArgExport, ExportName("EndInstalledKalnix", 4).c_str(), kalnixPath);
}
int CaLibrary::IsLocalSystem() const { KALNIX_CALL(NoArgExport, ExportName("IsLocalSystem", 0).c_str()); }
int CaLibrary::SettingExists(const wchar_t* name) const {
    KALNIX_CALL(OneArgExport, ExportName("SettingExists", 4).c_str(), name);
}
int CaLibrary::PowerSettingsAreSaved() const {
    KALNIX_CALL(NoArgExport, ExportName("PowerSettingsAreSaved", 0).c_str());
}
int CaLibrary::WriteTaskHead(const wchar_t* taskFilePath) const {
    KALNIX_CALL(OneArgExport, ExportName("WriteTaskHead", 4).c_str(), taskFilePath);
}
int CaLibrary::TaskIsRegistered() const { KALNIX_CALL(NoArgExport, ExportName("TaskIsRegistered", 0).c_str()); }
int CaLibrary::SetLogPath(const wchar_t* path) const {
    KALNIX_CALL(OneArgExport, ExportName("SetLogPath", 4).c_str(), path);
}
int CaLibrary::PrepareLogFolder(const wchar_t* folder) const {
    KALNIX_CALL(OneArgExport, ExportName("PrepareLogFolder", 4).c_str(), folder);
}
int CaLibrary::RunKalnixTask() const { KALNIX_CALL(NoArgExport, ExportName("RunKalnixTask", 0).c_str()); }
int CaLibrary::TaskIsAbsent() const { KALNIX_CALL(NoArgExport, ExportName("TaskIsAbsent", 0).c_str()); }

void OpenLogGateFor(const wchar_t* build) {
    ResetSettingsKey();
    if (wcscmp(build, L"standard") == 0) SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
}

std::string TestLog() { return ReadFileBytes(LogPathBesideExecutable()); }

int CaLibrary::InstallProtectionService(const wchar_t* kalnixExe) const {
    KALNIX_CALL(OneArgExport, ExportName("InstallProtectionService", 4).c_str(), kalnixExe);
}
int CaLibrary::StartProtectionService() const { KALNIX_CALL(NoArgExport, ExportName("StartProtectionService", 0).c_str()); }
int CaLibrary::StopProtectionService() const { KALNIX_CALL(NoArgExport, ExportName("StopProtectionService", 0).c_str()); }
int CaLibrary::RemoveProtectionService() const {
    KALNIX_CALL(NoArgExport, ExportName("RemoveProtectionService", 0).c_str());
}
int CaLibrary::ProtectionServiceInstalled() const {
    KALNIX_CALL(NoArgExport, ExportName("ProtectionServiceInstalled", 0).c_str());
}
