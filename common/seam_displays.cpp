#include "common/seam_displays.h"

#include "common/loaded_function.h"
#include "common/user32_functions.h"

namespace {

LONG WINAPI GetDisplayConfigBufferSizesIfPresent(UINT32 flags, UINT32* paths, UINT32* modes) {
    auto fn = User32().getDisplayConfigBufferSizes;
    return fn ? fn(flags, paths, modes) : ERROR_NOT_SUPPORTED;
}

LONG WINAPI QueryDisplayConfigIfPresent(UINT32 flags, UINT32* pathCount, DISPLAYCONFIG_PATH_INFO* paths,
                                        UINT32* modeCount, DISPLAYCONFIG_MODE_INFO* modes,
                                        DISPLAYCONFIG_TOPOLOGY_ID* topology) {
    auto fn = User32().queryDisplayConfig;
    return fn ? fn(flags, pathCount, paths, modeCount, modes, topology) : ERROR_NOT_SUPPORTED;
}

UINT WINAPI DpiForWindowIfPresent(HWND window) {
    static const auto fn = LoadedFunction<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    return fn ? fn(window) : 0;
}

}  // namespace

DisplaySeam g_displaySeam = {
    GetDisplayConfigBufferSizesIfPresent,
    QueryDisplayConfigIfPresent,
    ReadMonitorConnections,
    &::DefWindowProcW,
    DpiForWindowIfPresent,
};
