#include "app/window_dpi.h"

#include "common/loaded_function.h"
#include "common/seam_displays.h"

namespace {

// Windows 10 1607 added these (so the headers for Windows 7 do not declare them); older
// systems lack them and have one DPI for everything. The window's own goes through the seam.
struct DpiFunctions {
    UINT(WINAPI* forSystem)();
    int(WINAPI* metricsForDpi)(int index, UINT dpi);
};

const DpiFunctions& Dpi() {
    static const DpiFunctions functions = {
        LoadedFunction<UINT(WINAPI*)()>(L"user32", "GetDpiForSystem"),
        LoadedFunction<int(WINAPI*)(int, UINT)>(L"user32", "GetSystemMetricsForDpi"),
    };
    return functions;
}

int MetricForDpi(int index, UINT dpi) {
    if (Dpi().metricsForDpi) return Dpi().metricsForDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

}  // namespace

UINT SystemDpi() {
    if (Dpi().forSystem) return Dpi().forSystem();
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

UINT DpiOf(HWND window) {
    // 0 for a window that is not (any more) a window.
    UINT dpi = window ? g_displaySeam.dpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

int ScaledToDpi(int pixelsAt96, UINT dpi) {
    return MulDiv(pixelsAt96, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

int SmallIconSize(UINT dpi) { return MetricForDpi(SM_CXSMICON, dpi); }

int LargeIconSize(UINT dpi) { return MetricForDpi(SM_CXICON, dpi); }
