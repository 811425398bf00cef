#include "dialog_driver.h"

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "app/hyperlink.h"
#include "res/resource.h"

namespace {

constexpr int kPlainStaticId = 2000;

// The status dialog's template with its two links, plus a static created without a font.
INT_PTR CALLBACK LinkTestDialogProc(HWND dialog, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        HWND plain = CreateWindowExW(0, L"STATIC", L"no font", WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 10, 80, 20,
                                     dialog, reinterpret_cast<HMENU>(kPlainStaticId), g_instance, nullptr);
        MakeStaticLink(GetDlgItem(dialog, IDC_WEBSITE_LINK));
        MakeStaticLink(GetDlgItem(dialog, IDC_CONFIGURE_LINK));
        MakeStaticLink(plain);
    }
    return FALSE;
}

HANDLE Prop(HWND window, const wchar_t* name) { return GetPropW(window, name); }
HFONT CurrentFont(HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); }

LOGFONTW FontOf(HANDLE font) {
    LOGFONTW logFont = {};
    EXPECT_EQ(GetObjectW(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    return logFont;
}

class HyperlinkTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        dialog_ = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_STATUS), nullptr, LinkTestDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
        links_ = {GetDlgItem(dialog_, IDC_WEBSITE_LINK), GetDlgItem(dialog_, IDC_CONFIGURE_LINK),
                  GetDlgItem(dialog_, kPlainStaticId)};
    }
    void TearDown() override {
        if (IsWindow(dialog_)) DestroyWindow(dialog_);
        ReleaseCapture();
        DialogTest::TearDown();
    }
    HWND dialog_ = nullptr;
    std::vector<HWND> links_;
};

TEST_F(HyperlinkTest, ParentIsSubclassedOnceAndEachLinkKeepsItsFontWithAnUnderlinedCopy) {
    EXPECT_EQ(GetWindowLongPtrW(dialog_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(LinkParentProc));
    HANDLE replaced = Prop(dialog_, kLinkOriginalProcProp);
    EXPECT_NE(replaced, nullptr);
    EXPECT_NE(replaced, reinterpret_cast<HANDLE>(LinkParentProc));  // would recurse forever

    HFONT dialogFont = CurrentFont(dialog_);
    HGDIOBJ systemFont = GetStockObject(SYSTEM_FONT);
    for (HWND link : links_) {
        SCOPED_TRACE(GetDlgCtrlID(link));
        EXPECT_EQ(GetWindowLongPtrW(link, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(LinkControlProc));
        EXPECT_TRUE(GetWindowLongPtrW(link, GWL_STYLE) & SS_NOTIFY);
        EXPECT_EQ(Prop(link, kLinkFromStaticProp), reinterpret_cast<HANDLE>(1));
        // The static without a font draws with the system font; its link copies that one.
        HANDLE original = Prop(link, kLinkOriginalFontProp);
        EXPECT_EQ(original, link == links_[2] ? systemFont : dialogFont);
        EXPECT_EQ(CurrentFont(link), link == links_[2] ? nullptr : dialogFont);
        LOGFONTW plain = FontOf(original);
        LOGFONTW underlined = FontOf(Prop(link, kLinkUnderlineFontProp));
        EXPECT_EQ(underlined.lfUnderline, 1);
        EXPECT_EQ(underlined.lfHeight, plain.lfHeight);
        EXPECT_STREQ(underlined.lfFaceName, plain.lfFaceName);
    }
}

TEST_F(HyperlinkTest, OnlyLinksAreColouredDarkBlue) {
    HDC dc = CreateCompatibleDC(nullptr);
    int links = 0, others = 0;
    for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Static") != 0) continue;
        bool isLink = Prop(child, kLinkFromStaticProp) != nullptr;
        SetTextColor(dc, RGB(1, 2, 3));
        LRESULT brush = SendMessageW(dialog_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(child));
        EXPECT_NE(brush, 0);  // the dialog's own handling still chooses the background
        if (isLink) EXPECT_EQ(GetTextColor(dc), kLinkTextColor);
        else EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
        (isLink ? links : others)++;
    }
    DeleteDC(dc);
    EXPECT_EQ(links, 3);
    EXPECT_EQ(others, 4);
}

TEST_F(HyperlinkTest, HoverUnderlinesAndTakesTheMouseUntilThePointerLeaves) {
    for (HWND link : links_) {
        SCOPED_TRACE(GetDlgCtrlID(link));
        HANDLE original = Prop(link, kLinkOriginalFontProp);
        HANDLE underline = Prop(link, kLinkUnderlineFontProp);
        RECT client;
        GetClientRect(link, &client);
        auto move = [&](int x, int y) { SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); };
        auto hovered = [&] { return GetCapture() == link && CurrentFont(link) == underline; };
        auto normal = [&] { return GetCapture() != link && CurrentFont(link) == original; };

        move(1, 1);
        EXPECT_TRUE(hovered());
        move(client.right - 1, client.bottom - 1);
        EXPECT_TRUE(hovered());
        move(client.right, 1);  // the right edge is outside
        EXPECT_TRUE(normal());
        move(1, 1);
        SetCapture(dialog_);  // taken away, e.g. by a window the click opened
        EXPECT_EQ(CurrentFont(link), underline);
        move(1, 1);
        EXPECT_TRUE(hovered());
        move(-1, -1);
        EXPECT_TRUE(normal());

        EXPECT_EQ(SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
                  TRUE);
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    }
}

TEST_F(HyperlinkTest, WebsiteAddressFitsItsLinkInBothFonts) {
    HWND link = links_[0];
    wchar_t text[64] = {};
    GetWindowTextW(link, text, 64);
    RECT client;
    GetClientRect(link, &client);
    HDC dc = GetDC(link);
    for (const wchar_t* font : {kLinkOriginalFontProp, kLinkUnderlineFontProp}) {
        HGDIOBJ previous = SelectObject(dc, Prop(link, font));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
        EXPECT_LE(extent.cx, client.right) << testing::PrintToString(std::wstring(text));
        SelectObject(dc, previous);
    }
    ReleaseDC(link, dc);
}

std::vector<HWND> g_destroyed;
int g_propsLeft = 0;

BOOL CALLBACK CountLinkProps(HWND, LPWSTR name, HANDLE, ULONG_PTR) {
    if (!IS_INTRESOURCE(name) && wcsncmp(name, L"_Hyperlink_", 11) == 0) ++g_propsLeft;
    return TRUE;
}

// Looks at each window's properties when WM_NCDESTROY arrives, after every WM_DESTROY ran.
LRESULT CALLBACK InspectDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_NCDESTROY) {
        g_destroyed.push_back(call->hwnd);
        EnumPropsExW(call->hwnd, CountLinkProps, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(HyperlinkTest, DestroyLeavesNoPropertiesAndDeletesOnlyTheUnderlinedFonts) {
    std::vector<HANDLE> underlines;
    for (HWND link : links_) underlines.push_back(Prop(link, kLinkUnderlineFontProp));
    SendMessageW(links_[0], WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));  // destroyed while hovered
    std::vector<HWND> windows = {dialog_};
    for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) windows.push_back(child);
    EXPECT_EQ(windows.size(), 9u);

    g_destroyed.clear();
    g_propsLeft = 0;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, InspectDestroy, nullptr, GetCurrentThreadId());
    DestroyWindow(dialog_);
    UnhookWindowsHookEx(hook);

    // Every window of the dialog was looked at.
    for (HWND window : windows) EXPECT_NE(std::find(g_destroyed.begin(), g_destroyed.end(), window), g_destroyed.end());
    EXPECT_EQ(g_propsLeft, 0);
    for (HANDLE font : underlines) EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(GetObjectType(GetStockObject(SYSTEM_FONT)), static_cast<DWORD>(OBJ_FONT));
}

}  // namespace
