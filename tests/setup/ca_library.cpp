#include "ca_library.h"

#include <cwchar>

#include "support/test_support.h"

namespace {

using NoArgExport = DWORD(WINAPI*)();
using OneArgExport = DWORD(WINAPI*)(const wchar_t*);
using TwoArgExport = DWORD(WINAPI*)(const wchar_t*, const wchar_t*);

int LowByte(DWORD result) { return static_cast<int>(result & 0xFF); }

}  // namespace

std::wstring CaLibraryPath(const wchar_t* build) {
    return std::wstring(KALNIX_BIN_DIR_W) + L"\\" + build + L"\\KalnixCA.dll";
}

CaLibrary::CaLibrary(const wchar_t* build) : module_(LoadLibraryW(CaLibraryPath(build).c_str())) {}

CaLibrary::~CaLibrary() {
    if (module_) FreeLibrary(module_);
}

FARPROC CaLibrary::Resolve(const char* decoratedName) const {
    return module_ ? GetProcAddress(module_, decoratedName) : nullptr;
}

// A missing export gives 0xFF, which no export returns, so the caller's check fails.
#define KALNIX_CALL(type, name, ...)                                                 \
    do {                                                                             \
        auto function = reinterpret_cast<type>(reinterpret_cast<void*>(Resolve(name)));                     \
        return function ? LowByte(function(__VA_ARGS__)) : 0xFF;                     \
    } while (0)

int CaLibrary::InstallDriverAndStart(const wchar_t* driverPath) const {
    KALNIX_CALL(OneArgExport, "_InstallDriverAndStart@4", driverPath);
}
int CaLibrary::RemoveDriver() const { KALNIX_CALL(NoArgExport, "_RemoveDriver@0"); }
int CaLibrary::TerminateUIProcess() const { KALNIX_CALL(NoArgExport, "_TerminateUIProcess@0"); }
int CaLibrary::InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command) const {
    KALNIX_CALL(TwoArgExport, "_InstallKalnixTask@8", taskFilePath, command);
}
int CaLibrary::SetRunKey(const wchar_t* command) const { KALNIX_CALL(OneArgExport, "_SetRunKey@4", command); }
int CaLibrary::DeleteRunKey() const { KALNIX_CALL(NoArgExport, "_DeleteRunKey@0"); }
int CaLibrary::SavePowerSettings() const { KALNIX_CALL(NoArgExport, "_SavePowerSettings@0"); }
int CaLibrary::RestorePowerSettings() const { KALNIX_CALL(NoArgExport, "_RestorePowerSettings@0"); }

void OpenLogGateFor(const wchar_t* build) {
    ResetSettingsKey();
    if (wcscmp(build, L"standard") == 0) SetSettingDword(L"EnableLogging", 1);
    RemoveFile(LogPathBesideExecutable());
}

std::string TestLog() { return ReadFileBytes(LogPathBesideExecutable()); }
