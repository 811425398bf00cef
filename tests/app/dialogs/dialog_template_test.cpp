#include "dialog_driver.h"

#include <vector>

#include "app/status_dialog.h"
#include "res/resource.h"

namespace {

// One control or the dialog itself as a DLGTEMPLATEEX holds it.
struct Item {
    DWORD style;
    int x, y, cx, cy;
    int id;
    std::wstring className, text;
};

struct Template {
    Item dialog;
    WORD pointSize;
    std::wstring face;
    std::vector<Item> controls;
};

// Walks the template the way the dialog manager does: strings or ordinals, items on
// DWORD boundaries.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* bytes) : base_(bytes), at_(bytes) {}
    template <class T> T Take() { T value; memcpy(&value, at_, sizeof(T)); at_ += sizeof(T); return value; }
    std::wstring SzOrOrd() {
        WORD first = Take<WORD>();
        if (first == 0xFFFF) return OrdinalName(Take<WORD>());
        std::wstring text;
        for (WORD c = first; c != 0; c = Take<WORD>()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { at_ = base_ + ((at_ - base_ + 3) & ~3); }
    void Skip(size_t bytes) { at_ += bytes; }
private:
    static std::wstring OrdinalName(WORD ordinal) {
        switch (ordinal) {
        case 0x80: return L"BUTTON";
        case 0x81: return L"EDIT";
        case 0x82: return L"STATIC";
        }
        return L"#" + std::to_wstring(ordinal);
    }
    const BYTE* base_;
    const BYTE* at_;
};

Template LoadTemplate(int id) {
    Template result = {};
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!found) return result;
    TemplateReader reader(static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))));
    EXPECT_EQ(reader.Take<WORD>(), 1);       // dlgVer
    EXPECT_EQ(reader.Take<WORD>(), 0xFFFF);  // signature of DLGTEMPLATEEX
    reader.Skip(8);                          // help id, extended style
    Item& dialog = result.dialog;
    dialog.style = reader.Take<DWORD>();
    WORD count = reader.Take<WORD>();
    dialog.x = reader.Take<short>(); dialog.y = reader.Take<short>();
    dialog.cx = reader.Take<short>(); dialog.cy = reader.Take<short>();
    EXPECT_EQ(reader.SzOrOrd(), L"");  // menu
    dialog.className = reader.SzOrOrd();
    dialog.text = reader.SzOrOrd();
    result.pointSize = reader.Take<WORD>();
    reader.Skip(4);  // weight, italic, charset
    result.face = reader.SzOrOrd();
    for (WORD i = 0; i < count; ++i) {
        reader.AlignDword();
        Item item;
        reader.Skip(8);  // help id, extended style
        item.style = reader.Take<DWORD>();
        item.x = reader.Take<short>(); item.y = reader.Take<short>();
        item.cx = reader.Take<short>(); item.cy = reader.Take<short>();
        item.id = static_cast<int>(reader.Take<DWORD>());
        item.className = reader.SzOrOrd();
        item.text = reader.SzOrOrd();
        reader.Skip(reader.Take<WORD>());  // creation data
        result.controls.push_back(item);
    }
    return result;
}

void ExpectItem(const Item& actual, const Item& expected) {
    SCOPED_TRACE(testing::PrintToString(expected.text));
    EXPECT_EQ(actual.style, expected.style);
    EXPECT_EQ(actual.id, expected.id);
    EXPECT_EQ(actual.className, expected.className);
    EXPECT_EQ(actual.text, expected.text);
    EXPECT_EQ((std::vector<int>{actual.x, actual.y, actual.cx, actual.cy}),
              (std::vector<int>{expected.x, expected.y, expected.cx, expected.cy}));
}

void ExpectTemplate(int id, const Item& dialog, const std::vector<Item>& controls) {
    SCOPED_TRACE(id);
    Template actual = LoadTemplate(id);
    ExpectItem(actual.dialog, dialog);
    EXPECT_EQ(actual.pointSize, 8);
    EXPECT_EQ(actual.face, L"MS Shell Dlg");
    ASSERT_EQ(actual.controls.size(), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) ExpectItem(actual.controls[i], controls[i]);
}

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kText = kChild | SS_LEFT | WS_GROUP;

TEST(DialogTemplateTest, StatusDialogTemplateHoldsTheControlsInTabOrder) {
    ExpectTemplate(IDD_STATUS, {kDialogStyle | DS_SETFOREGROUND, 0, 0, 274, 210, 0, L"", L"Kalnix"}, {
        {kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 111, 187, 50, 16, IDCLOSE, L"BUTTON", L"Close"},
        {kText, 118, 127, 37, 11, -1, L"STATIC", L"Version 1.0"},
        {kText, 110, 142, 61, 8, -1, L"STATIC", L"Kalnix is enabled."},
        {kText, 67, 158, 14, 8, -1, L"STATIC", L"Visit"},
        {kText | SS_NOTIFY, 82, 158, 54, 8, IDC_WEBSITE_LINK, L"STATIC", kWebsiteAddress},
        {kText, 138, 158, 68, 8, -1, L"STATIC", L"for product updates."},
        {kText, 16, 190, 58, 8, IDC_CONFIGURE_LINK, L"STATIC", L"Configure Kalnix"},
    });
}

TEST(DialogTemplateTest, SettingsDialogTemplateHoldsTheControlsInTabOrder) {
    ExpectTemplate(IDD_SETTINGS, {kDialogStyle, 0, 0, 301, 94, 0, L"", L"Settings"}, {
        {kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 80, 72, 50, 14, IDOK, L"BUTTON", L"OK"},
        {kChild | BS_PUSHBUTTON | WS_TABSTOP, 170, 72, 50, 14, IDCANCEL, L"BUTTON", L"Cancel"},
        {kChild | BS_AUTORADIOBUTTON | WS_GROUP, 20, 16, 175, 10, IDC_AUTO_PROTECT, L"BUTTON",
         L"Automatically protect laptop against sleep failures"},
        {kChild | BS_AUTORADIOBUTTON, 20, 34, 218, 10, IDC_LID_ALARM, L"BUTTON",
         L"When closing lid, sound alarm if laptop does not fall asleep within"},
        {kChild | ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 239, 33, 17, 12, IDC_ALARM_SECONDS, L"EDIT", L""},
        {kText, 260, 35, 27, 8, -1, L"STATIC", L"seconds"},
    });
}

}  // namespace
