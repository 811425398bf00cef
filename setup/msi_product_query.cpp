#include <windows.h>

#include <msi.h>

#include "common/diagnostic_log.h"
#include "common/system_library.h"
#include "setup/package_actions.h"

// The setup program has no msi.dll of its own: the system's is loaded from System32 for the
// question and let go again.
bool __stdcall MsiPackageInstalled(const wchar_t* upgradeCode, wchar_t* productCode, unsigned long productCodeChars) {
    LogMessage(L"CA: Entering MsiPackageInstalled");
    constexpr unsigned long kProductCodeChars = 39;
    if (productCodeChars < kProductCodeChars) return false;
    productCode[0] = L'\0';
    HMODULE msi = LoadSystemLibrary(L"msi.dll");
    if (!msi) {
        LogFormatted(L"CA: LoadLibrary failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    auto enumRelated = reinterpret_cast<decltype(&::MsiEnumRelatedProductsW)>(
        reinterpret_cast<void*>(GetProcAddress(msi, "MsiEnumRelatedProductsW")));
    UINT status = enumRelated ? enumRelated(upgradeCode, 0, 0, productCode) : ERROR_PROC_NOT_FOUND;
    FreeLibrary(msi);
    if (status != ERROR_SUCCESS && status != ERROR_NO_MORE_ITEMS) {
        LogFormatted(L"CA: MsiEnumRelatedProducts failed: %d", static_cast<int>(status));
    }
    return status == ERROR_SUCCESS;
}
