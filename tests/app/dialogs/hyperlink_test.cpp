#include "dialog_driver.h"

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "app/hyperlink.h"
#include "common/seam_shell.h"
#include "res/resource.h"
#include "support/platform_scope.h"

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
        g_annotations.clear();
        g_propServicesReferences = 0;
        g_shellSeam.createAccPropServices = CreateRecordingPropServices;
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
    PlatformScope platform_;
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
        EXPECT_TRUE(GetWindowLongPtrW(link, GWL_STYLE) & WS_TABSTOP) << "Tab reaches it";
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

// The system's link colour, read at every paint: a theme change shows at once.
class SystemColours {
public:
    SystemColours() : hotLight_(GetSysColor(COLOR_HOTLIGHT)) {}
    ~SystemColours() { SetHotLight(hotLight_); }
    void SetHotLight(COLORREF colour) {
        const int element = COLOR_HOTLIGHT;
        SetSysColors(1, &element, &colour);
    }
private:
    COLORREF hotLight_;
};

TEST_F(HyperlinkTest, OnlyLinksTakeTheSystemsLinkColour) {
    SystemColours colours;
    const COLORREF windowsBlue = RGB(0, 102, 204);  // Windows' own link colour
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const struct { COLORREF system, shown; } rows[] = {
        {windowsBlue, windowsBlue},
        {face, RGB(0, 0, 192)},  // unreadable on the dialog: the classic dark blue
    };
    for (const auto& row : rows) {
        colours.SetHotLight(row.system);
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
            if (isLink) EXPECT_EQ(GetTextColor(dc), row.shown);
            else EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
            (isLink ? links : others)++;
        }
        DeleteDC(dc);
        EXPECT_EQ(links, 3);
        EXPECT_EQ(others, 4);
    }
}

TEST(LinkColourTest, SystemColourKeptWhereReadableAndAlwaysInHighContrast) {
    const COLORREF darkBlue = RGB(0, 0, 192);
    const struct { const char* name; COLORREF link, background; bool highContrast; COLORREF shown; } rows[] = {
        {"Windows' blue on Windows' dialog", RGB(0, 102, 204), RGB(240, 240, 240), false, RGB(0, 102, 204)},
        {"Wine's light grey on light grey", RGB(224, 224, 224), RGB(245, 245, 245), false, darkBlue},
        {"just under 3:1", RGB(150, 150, 150), RGB(255, 255, 255), false, darkBlue},
        {"just over 3:1", RGB(145, 145, 145), RGB(255, 255, 255), false, RGB(145, 145, 145)},
        {"light link on a dark dialog", RGB(153, 235, 255), RGB(32, 32, 32), false, RGB(153, 235, 255)},
        {"high contrast black: its yellow", RGB(255, 255, 0), RGB(0, 0, 0), true, RGB(255, 255, 0)},
        {"high contrast keeps even a poor pair", RGB(0, 0, 0), RGB(10, 10, 10), true, RGB(0, 0, 0)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReadableLinkColor(row.link, row.background, row.highContrast), row.shown);
    }
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

// The dialog manager of a per-monitor aware dialog hands its controls a font made for the new
// DPI when the dialog moves to a display of another scale.
TEST_F(HyperlinkTest, FontFromOutsideBecomesThePlainFontWithANewUnderlinedCopy) {
    HWND link = links_[0];
    LOGFONTW larger = FontOf(CurrentFont(link));
    larger.lfHeight = larger.lfHeight * 3 / 2;
    HFONT fonts[2] = {CreateFontIndirectW(&larger), CreateFontIndirectW(&larger)};
    for (int hovered = 0; hovered < 2; ++hovered) {
        SCOPED_TRACE(hovered ? "hovered" : "plain");
        HFONT font = fonts[hovered];
        HANDLE oldUnderline = Prop(link, kLinkUnderlineFontProp);
        if (hovered) SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        EXPECT_EQ(Prop(link, kLinkOriginalFontProp), font);
        HANDLE underline = Prop(link, kLinkUnderlineFontProp);
        EXPECT_EQ(GetObjectType(oldUnderline), 0u) << "the old copy is deleted";
        EXPECT_EQ(FontOf(underline).lfHeight, larger.lfHeight);
        EXPECT_EQ(FontOf(underline).lfUnderline, 1);
        EXPECT_EQ(CurrentFont(link), hovered ? underline : font);
    }
    ReleaseCapture();
    DestroyWindow(dialog_);
    for (HFONT font : fonts) {
        EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT)) << "the dialog's fonts are not the link's";
        DeleteObject(font);
    }
}

// Screen readers hear "link": the role is annotated on each link's own accessible object and
// taken back when it goes, and every reference to the services is released.
TEST_F(HyperlinkTest, EachLinkIsAnnouncedAsALinkUntilItGoes) {
    ASSERT_EQ(g_annotations.size(), links_.size());
    for (size_t i = 0; i < links_.size(); ++i) {
        const Annotation& a = g_annotations[i];
        EXPECT_EQ(a.window, links_[i]);
        EXPECT_EQ(a.object, static_cast<DWORD>(OBJID_CLIENT));
        EXPECT_EQ(a.child, static_cast<DWORD>(CHILDID_SELF));
        EXPECT_TRUE(IsEqualGUID(a.property, PROPID_ACC_ROLE));
        EXPECT_EQ(a.type, VT_I4);
        EXPECT_EQ(a.value, ROLE_SYSTEM_LINK);
        EXPECT_FALSE(a.cleared);
    }
    EXPECT_EQ(g_propServicesReferences, 0);

    g_annotations.clear();
    DestroyWindow(dialog_);
    ASSERT_EQ(g_annotations.size(), links_.size());
    for (const Annotation& a : g_annotations) {
        EXPECT_NE(std::find(links_.begin(), links_.end(), a.window), links_.end());
        EXPECT_TRUE(a.cleared);
        EXPECT_TRUE(IsEqualGUID(a.property, PROPID_ACC_ROLE));
    }
    EXPECT_EQ(g_propServicesReferences, 0);
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
