// Run by dpi_test.sh once for each display scale, in a prefix whose DPI it set: KALNIX_TEST_DPI
// names the DPI the prefix runs at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "app/app_state.h"
#include "app/status_dialog.h"
#include "app/tray_icon.h"
#include "app/window_dpi.h"
#include "res/resource.h"
#include "support/icon_pixels.h"
#include "support/platform_fakes.h"
#include "support/test_support.h"

namespace {

struct Scale {
    UINT dpi;
    int smallIcon;  // SM_CXSMICON: what the notification area shows
    RECT logo;      // where a 40 x 20 logo is drawn: at (0, 20) and its own size at 96 DPI
};
constexpr Scale kScales[] = {{96, 16, {0, 20, 40, 40}}, {144, 24, {0, 30, 60, 60}}, {192, 32, {0, 40, 80, 80}}};

const Scale& PrefixScale() {
    const char* named = std::getenv("KALNIX_TEST_DPI");
    UINT dpi = named ? static_cast<UINT>(std::atoi(named)) : 0;
    for (const Scale& scale : kScales) {
        if (scale.dpi == dpi) return scale;
    }
    ADD_FAILURE() << "KALNIX_TEST_DPI names no scale of this test: " << (named ? named : "(none)");
    return kScales[0];
}

class DpiTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_instance = GetModuleHandleW(nullptr);
        ResetSettingsKey();
        ASSERT_EQ(SystemDpi(), scale_.dpi) << "the prefix does not run at this DPI";
    }
    const Scale& scale_ = PrefixScale();
};

TEST_F(DpiTest, TrayIconHandedToTheShellHasTheSmallIconSize) {
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  g_instance, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(DpiOf(window), scale_.dpi) << "Kalnix's manifest makes it DPI aware";
    g_trayWindow = window;
    ShellRecorder shell;
    const struct { int state; UINT icon; } rows[] = {{kTrayStateEnabled, IDI_TRAY_ENABLED},
                                                     {kTrayStateDisabled, IDI_TRAY_DISABLED}};
    for (const auto& row : rows) {
        shell.Clear();
        UpdateTrayIcon(window, row.state, nullptr);
        ASSERT_EQ(shell.Calls().size(), 2u);
        ASSERT_EQ(shell.Calls()[0].message, static_cast<DWORD>(NIM_ADD));
        HICON icon = shell.Calls()[0].record.hIcon;
        EXPECT_EQ(IconEdge(icon), scale_.smallIcon);
        EXPECT_TRUE(IconShows(icon, row.icon)) << "drawn at that size, not scaled from another";
        shell.Clear();
        ReloadTrayIcon();
        ASSERT_EQ(shell.Calls().size(), 1u);
        EXPECT_EQ(IconEdge(shell.Calls()[0].record.hIcon), scale_.smallIcon);
    }
    DeleteTrayIcon();
    g_trayWindow = nullptr;
    DestroyWindow(window);
}

// The status dialog as it shows: its logo (here a solid red block of 40 x 20 pixels) at the
// place the template's layout gives it at 96 DPI and its size, both scaled, and solid to its
// edges (the filter lets no transparency from around the picture bleed in).
TEST_F(DpiTest, StatusDialogDrawsTheLogoScaledAtItsPlace) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 40;
    info.bmiHeader.biHeight = 20;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    LogoRecord logo = {};
    logo.handle = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(logo.handle, nullptr);
    for (int i = 0; i < 40 * 20; ++i) static_cast<DWORD*>(bits)[i] = 0xFFFF0000;
    GetObjectW(logo.handle, sizeof(logo.bitmap), &logo.bitmap);
    g_logoRecord = &logo;

    HWND dialog = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_STATUS), nullptr, StatusDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(DpiOf(dialog), scale_.dpi);
    ShowWindow(dialog, SW_SHOWNOACTIVATE);
    RECT client;
    GetClientRect(dialog, &client);
    RECT red = {};
    int redPixels = 0;
    WaitUntil([&] {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = GetDC(dialog);
        red = {client.right, client.bottom, 0, 0};
        redPixels = 0;
        for (int y = 0; y < client.bottom / 2; ++y) {
            for (int x = 0; x < client.right / 2; ++x) {
                if (GetPixel(dc, x, y) != RGB(255, 0, 0)) continue;
                ++redPixels;
                red = {std::min<LONG>(red.left, x), std::min<LONG>(red.top, y), std::max<LONG>(red.right, x + 1),
                       std::max<LONG>(red.bottom, y + 1)};
            }
        }
        ReleaseDC(dialog, dc);
        return redPixels > 0;
    }, 3000);
    EXPECT_EQ(redPixels, (red.right - red.left) * (red.bottom - red.top)) << "a fringe inside the logo";
    EXPECT_TRUE(EqualRect(&red, &scale_.logo)) << red.left << "," << red.top << " - " << red.right << "," << red.bottom;

    SendMessageW(dialog, WM_CLOSE, 0, 0);
    DestroyWindow(dialog);
    g_logoRecord = nullptr;
    DeleteObject(logo.handle);
}

}  // namespace
