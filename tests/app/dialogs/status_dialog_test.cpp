#include "dialog_driver.h"

#include <atomic>
#include <vector>

#include "app/app_state.h"
#include "app/hyperlink.h"
#include "app/status_dialog.h"
#include "app/tray_window.h"
#include "common/seam_sessions.h"
#include "common/seam_shell.h"
#include "protect/protection_modes.h"
#include "res/resource.h"
#include "support/message_pump.h"
#include "support/test_support.h"

namespace {

class StatusDialogTest : public DialogTest {
protected:
    // Opens the dialog modally and runs `script` on the shown dialog.
    void Run(const std::function<void(HWND)>& script) {
        INT_PTR result = -1;
        DriveModal([&] {
            result = DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_STATUS), nullptr, StatusDialogProc, 0);
        }, [&] {
            HWND dialog = WaitForDialog(L"Kalnix", nullptr);
            ASSERT_NE(dialog, nullptr);
            script(dialog);
        });
        EXPECT_EQ(result, 0);
    }
    OpenRecorder opened_;
};

BOOL WINAPI Elevated(HANDLE, PSID, PBOOL member) { *member = TRUE; return TRUE; }
BOOL WINAPI NotElevated(HANDLE, PSID, PBOOL member) { *member = FALSE; return TRUE; }
BOOL WINAPI CheckFails(HANDLE, PSID, PBOOL member) {
    *member = FALSE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// The link shows the host and opens its https address, never with an administrator's token.
TEST_F(StatusDialogTest, WebsiteLinkOpensTheHttpsAddressUnelevatedAndEscapeDoesNotClose) {
    struct Case {
        const char* name;
        BOOL(WINAPI* membership)(HANDLE, PSID, PBOOL);
        HRESULT desktopAnswer;
        bool throughDesktop, addressShown;
    };
    const Case cases[] = {
        {"without administrator rights Kalnix opens it itself", NotElevated, S_OK, false, false},
        {"elevated, the desktop's shell opens it", Elevated, S_OK, true, false},
        {"a membership check that fails counts as elevated", CheckFails, S_OK, true, false},
        {"the shell could not open it: the address is shown", Elevated, S_FALSE, true, true},
        {"no shell answers: the address is shown", Elevated, REGDB_E_CLASSNOTREG, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlatformScope platform;
        g_sessionSeam.checkTokenMembership = c.membership;
        OpenRecorder opened(c.desktopAnswer);
        Run([&](HWND dialog) {
            EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_WEBSITE_LINK)), kWebsiteHost);
            EXPECT_NE(GetPropW(dialog, kLinkOriginalProcProp), nullptr);
            for (int link : {IDC_WEBSITE_LINK, IDC_CONFIGURE_LINK})
                EXPECT_EQ(GetPropW(GetDlgItem(dialog, link), kLinkFromStaticProp), reinterpret_cast<HANDLE>(1));
            PostKey(dialog, VK_ESCAPE);
            PostLinkClick(dialog, IDC_WEBSITE_LINK);  // handled after the Escape key
            ASSERT_TRUE(WaitUntil([&] { return opened.Count() == 1; }, 5000));
            OpenRequest request = opened.Last();
            EXPECT_EQ(request.throughDesktop, c.throughDesktop);
            EXPECT_EQ(request.file, L"https://" + std::wstring(kWebsiteHost) + L"/");
            if (!c.throughDesktop) {
                EXPECT_EQ(request.owner, nullptr);
                EXPECT_EQ(request.verb, L"open");
                EXPECT_FALSE(request.parameters);
                EXPECT_FALSE(request.directory);
                EXPECT_EQ(request.show, SW_SHOWNORMAL);
            }
            // A message box shows before its own loop handles this.
            SendMessageW(dialog, WM_NULL, 0, 0);
            HWND box = FindDialog(L"Kalnix", dialog);
            EXPECT_EQ(box != nullptr, c.addressShown);
            if (box) {
                EXPECT_NE(VisibleChildTexts(box, L"Static").find(request.file), std::wstring::npos)
                    << testing::PrintToString(VisibleChildTexts(box, L"Static"));
                PostMessageW(box, WM_CLOSE, 0, 0);
                EXPECT_TRUE(WaitUntilGone(box));
            }
            EXPECT_TRUE(IsWindowVisible(dialog));
            PostClick(dialog, IDCLOSE);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
    }
}

// The top row of a link's text as painted now: where its focus rectangle runs.
std::vector<COLORREF> TopRowOfText(HWND link) {
    RedrawWindow(link, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(link, &client);
    std::vector<COLORREF> row;
    HDC dc = GetDC(link);
    for (int x = 0; x < client.right; ++x) row.push_back(GetPixel(dc, x, 0));
    ReleaseDC(link, dc);
    return row;
}

// A keyboard user reaches both links with Tab, sees which one has the focus, and opens it with
// Enter or Space as with a click; Enter on a link does not press the default button.
TEST_F(StatusDialogTest, TabReachesEachLinkWhichEnterAndSpaceOpen) {
    Run([&](HWND dialog) {
        HWND website = GetDlgItem(dialog, IDC_WEBSITE_LINK);
        HWND configure = GetDlgItem(dialog, IDC_CONFIGURE_LINK);
        ASSERT_TRUE(WaitUntil([&] { return FocusedWindow() == GetDlgItem(dialog, IDCLOSE); }, 5000));
        const std::vector<COLORREF> unfocused = TopRowOfText(website);

        PostKey(dialog, VK_TAB);
        ASSERT_TRUE(WaitUntil([&] { return FocusedWindow() == website; }, 5000));
        // The focus moves before the link has handled it: its picture follows within the wait.
        EXPECT_TRUE(WaitUntil([&] { return TopRowOfText(website) != unfocused; }, 5000)) << "no focus rectangle";
        PostKey(dialog, VK_RETURN);
        EXPECT_TRUE(WaitUntil([&] { return opened_.Count() == 1; }, 5000));
        PostKey(dialog, VK_SPACE);
        EXPECT_TRUE(WaitUntil([&] { return opened_.Count() == 2; }, 5000));
        EXPECT_TRUE(IsWindowVisible(dialog)) << "Enter went to the link, not to Close";

        PostKey(dialog, VK_TAB);
        ASSERT_TRUE(WaitUntil([&] { return FocusedWindow() == configure; }, 5000));
        EXPECT_TRUE(WaitUntil([&] { return TopRowOfText(website) == unfocused; }, 5000))
            << "the rectangle leaves with the focus";
        for (UINT key : {VK_SPACE, VK_RETURN}) {
            PostKey(dialog, key);
            HWND settings = WaitForDialog(L"Settings", dialog);
            ASSERT_NE(settings, nullptr) << key;
            PostClick(settings, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(settings));
        }
        EXPECT_EQ(opened_.Count(), 2);

        PostKey(dialog, VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return FocusedWindow() == GetDlgItem(dialog, IDCLOSE); }, 5000));
        PostClick(dialog, IDCLOSE);
        EXPECT_TRUE(WaitUntilGone(dialog));
    });
}

TEST_F(StatusDialogTest, EveryWayOfClosingLetsTheNextOpeningShow) {
    enum Way { kCloseButton, kEnterKey, kCloseBox, kDone };
    for (Way way : {kCloseButton, kEnterKey, kCloseBox, kDone}) {
        SCOPED_TRACE(way);
        // Each opening shows only if the previous way of closing cleared the open flag.
        Run([&](HWND dialog) {
            if (way == kCloseButton) PostClick(dialog, IDCLOSE);
            if (way == kEnterKey) PostKey(dialog, VK_RETURN);
            if (way == kCloseBox || way == kDone) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
    }
}

TEST_F(StatusDialogTest, ConfigureLinkOpensSettingsOverTheDialogWhichStaysUsable) {
    Run([&](HWND dialog) {
        PostLinkClick(dialog, IDC_CONFIGURE_LINK);
        HWND settings = WaitForDialog(L"Settings", dialog);
        ASSERT_NE(settings, nullptr);
        EXPECT_FALSE(IsWindowEnabled(dialog));
        PostClick(settings, IDCANCEL);
        EXPECT_TRUE(WaitUntilGone(settings));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_TRUE(IsWindowEnabled(dialog));
        PostLinkClick(dialog, IDC_WEBSITE_LINK);
        EXPECT_TRUE(WaitUntil([&] { return opened_.Count() == 1; }, 5000));
        PostClick(dialog, IDCLOSE);
        EXPECT_TRUE(WaitUntilGone(dialog));
    });
}

// Records the dialogs the test thread creates and activates.
struct DialogLog {
    std::atomic<int> created{0};
    HWND windows[8] = {};
    std::vector<HWND> activated;
} g_dialogLog;

LRESULT CALLBACK RecordDialogs(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0) {
        if (code == HCBT_CREATEWND && g_dialogLog.created < 8) {
            g_dialogLog.windows[g_dialogLog.created] = window;
            ++g_dialogLog.created;  // after the store: the driver thread reads the count first
        }
        if (code == HCBT_ACTIVATE) g_dialogLog.activated.push_back(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI AlwaysAdministrator(HANDLE, PSID, PBOOL member) { *member = TRUE; return TRUE; }
BOOL WINAPI NoShell(DWORD, PNOTIFYICONDATAW) { return TRUE; }

TEST_F(StatusDialogTest, DoubleClickWhileShownBringsUpNoSecondDialog) {
    PlatformScope platform;
    g_sessionSeam.checkTokenMembership = AlwaysAdministrator;
    g_shellSeam.notifyIcon = NoShell;
    SetProtectionSettings(0, AlarmDelaySeconds());
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordDialogs, nullptr, GetCurrentThreadId());
    CreateTrayWindow(TrayLid::Posted);
    ASSERT_NE(g_trayWindow, nullptr);
    const LPARAM doubleClick = MAKELPARAM(WM_LBUTTONDBLCLK, 1);

    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        g_dialogLog.created = 0;
        DriveModal([&] { SendMessageW(g_trayWindow, kTrayCallbackMessage, 0, doubleClick); }, [&] {
            HWND dialog = WaitForDialog(L"Kalnix", g_trayWindow);
            ASSERT_NE(dialog, nullptr);
            // Handled once the call returns: the shown dialog is brought forward, no second one made.
            SendMessageW(g_trayWindow, kTrayCallbackMessage, 0, doubleClick);
            EXPECT_EQ(g_dialogLog.created, 1);
            PostLinkClick(dialog, IDC_WEBSITE_LINK);
            EXPECT_TRUE(WaitUntil([&] { return opened_.Count() == opening + 1; }, 5000));
            EXPECT_TRUE(IsWindowVisible(dialog));
            PostClick(dialog, IDCLOSE);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        for (HWND window : g_dialogLog.activated) EXPECT_NE(window, g_dialogLog.windows[1]);
    }

    UnhookWindowsHookEx(hook);
    DestroyWindow(g_trayWindow);
    g_trayWindow = nullptr;
    DropMessages();  // the tray window's WM_QUIT
}

// A 3 x 2 premultiplied logo: top row opaque red, half-transparent red, transparent;
// bottom row opaque blue.
HBITMAP CreateTestLogo() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 3;
    info.bmiHeader.biHeight = 2;  // bottom-up, as the logo's DIB section
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const DWORD pixels[6] = {0xFF0000FF, 0xFF0000FF, 0xFF0000FF,    // bottom-up: last row first
                             0xFFFF0000, 0x80800000, 0x00000000};
    if (bitmap) memcpy(bits, pixels, sizeof(pixels));
    return bitmap;
}

TEST_F(StatusDialogTest, LogoIsBlendedAtItsPlaceAndAbsentLogosLeaveTheBackground) {
    LogoRecord logo = {};
    logo.handle = CreateTestLogo();
    ASSERT_NE(logo.handle, nullptr);
    GetObjectW(logo.handle, sizeof(logo.bitmap), &logo.bitmap);
    LogoRecord noBitmap = {};
    LogoRecord* saved = g_logoRecord;

    struct Case { LogoRecord* record; bool drawn; };
    const Case cases[] = {{&logo, true}, {&logo, true}, {&noBitmap, false}, {nullptr, false}};
    for (const Case& c : cases) {
        g_logoRecord = c.record;
        Run([&](HWND dialog) {
            // Background at (10, 5), then the logo's corners and the pixels around them.
            const POINT spots[] = {{10, 5}, {0, kLogoTop}, {1, kLogoTop}, {2, kLogoTop}, {0, kLogoTop + 1},
                                   {0, kLogoTop - 1}, {3, kLogoTop}};
            COLORREF px[7] = {};
            auto paintAndRead = [&] {
                // Painted on the dialog's thread before the message returns; the first paint
                // may still be overtaken by the window being mapped, hence the retries.
                InvalidateRect(dialog, nullptr, TRUE);
                SendMessageW(dialog, WM_PAINT, 0, 0);
                HDC dc = GetDC(dialog);
                for (int i = 0; i < 7; ++i) px[i] = GetPixel(dc, spots[i].x, spots[i].y);
                ReleaseDC(dialog, dc);
                return !c.drawn || px[1] == RGB(255, 0, 0);
            };
            WaitUntil(paintAndRead, 2000);
            COLORREF background = px[0];
            auto alike = [](COLORREF a, COLORREF b) {
                return abs(GetRValue(a) - GetRValue(b)) <= 2 && abs(GetGValue(a) - GetGValue(b)) <= 2 &&
                       abs(GetBValue(a) - GetBValue(b)) <= 2;
            };
            COLORREF half = RGB(128 + GetRValue(background) * 127 / 255, GetGValue(background) * 127 / 255,
                                GetBValue(background) * 127 / 255);
            EXPECT_EQ(px[1], c.drawn ? RGB(255, 0, 0) : background);
            EXPECT_TRUE(alike(px[2], c.drawn ? half : background));
            EXPECT_EQ(px[3], background);
            EXPECT_EQ(px[4], c.drawn ? RGB(0, 0, 255) : background);
            EXPECT_EQ(px[5], background);
            EXPECT_EQ(px[6], background);
            PostClick(dialog, IDCLOSE);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
    }
    g_logoRecord = saved;
    DeleteObject(logo.handle);
}

}  // namespace
