#include "common/seam_shell.h"

#include <oleacc.h>

#include "common/com_library.h"
#include "common/desktop_shell.h"

namespace {

// oleacc's property services, through COM from System32 (common/accessible_role.h uses them).
HRESULT WINAPI CreateAccPropServices(IAccPropServices** services) {
    const ComFunctions& com = Com();
    if (!com.createInstance) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return com.createInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(services));
}

}  // namespace

ShellSeam g_shellSeam = {
    &::Shell_NotifyIconW,
    &::ShellExecuteW,
    OpenThroughDesktopShell,
    CreateAccPropServices,
    &::ShellExecuteExW,
};
