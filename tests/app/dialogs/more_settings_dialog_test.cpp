#include "dialog_driver.h"

#include <string>
#include <vector>

#include <commctrl.h>

#include "app/app_state.h"
#include "app/closure_list.h"
#include "app/more_settings_dialog.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace {

constexpr const wchar_t* kPolicyKey = L"Software\\Policies\\Kalnix";
const wchar_t* const kSettings[] = {L"RestAfter", L"HibernateAfter", L"StandbyDrainAlert", L"AlarmWithExternalDisplay",
                                    L"EnableLogging"};

void SetPolicy(const wchar_t* name, DWORD value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, name, REG_DWORD, &value, sizeof(value)), ERROR_SUCCESS);
}

void RemovePolicies() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey); }

DWORD GetPolicy(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

// Every setting the dialog shows, locally and by policy: "absent" where there is none.
std::wstring Stored() {
    std::wstring stored;
    for (const wchar_t* name : kSettings) {
        stored += std::wstring(name) + L"=";
        stored += SettingExists(name) ? std::to_wstring(GetSettingDword(name, 0)) : L"absent";
        DWORD policy = GetPolicy(name);
        if (policy != 0xFFFFFFFF) stored += L"/policy " + std::to_wstring(policy);
        stored += L" ";
    }
    return stored;
}

void SetRecord(const std::vector<std::wstring>& lines) {
    std::wstring data;
    for (const std::wstring& line : lines) data += line + L'\0';
    data += L'\0';
    SetSettingRaw(L"LidClosures", REG_MULTI_SZ, data.c_str(), static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

bool Checked(HWND dialog, int id) { return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// The note shown on the line of `row`, or "".
std::wstring NoteBeside(HWND dialog, HWND row) {
    RECT line, note, overlap;
    GetWindowRect(row, &line);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) != IDC_MANAGED_NOTE || !IsWindowVisible(child)) continue;
        GetWindowRect(child, &note);
        line.left = note.left;
        line.right = note.right;
        if (!IntersectRect(&overlap, &line, &note)) continue;
        ExpectInFreeSpace(dialog, child);
        return TextOf(child);
    }
    return L"";
}

// The dialog as the user sees it: each box checked or not, the numbers, what is locked and
// why; a unit that is not usable exactly when its field is shows as a fault.
std::wstring Shown(HWND dialog) {
    const struct { const wchar_t* name; int box, edit, unit; } rows[] = {
        {L"rest", IDC_REST_AFTER_ON, IDC_REST_AFTER, IDC_REST_AFTER_UNIT},
        {L"hibernate", IDC_HIBERNATE_AFTER_ON, IDC_HIBERNATE_AFTER, IDC_HIBERNATE_AFTER_UNIT},
        {L"drain", IDC_DRAIN_ALERT_ON, IDC_DRAIN_ALERT, IDC_DRAIN_ALERT_UNIT},
        {L"external", IDC_ALARM_WITH_EXTERNAL, 0, 0},
        {L"log", IDC_ENABLE_LOGGING, 0, 0},
    };
    std::wstring shown;
    for (const auto& row : rows) {
        shown += std::wstring(shown.empty() ? L"" : L" | ") + row.name + (Checked(dialog, row.box) ? L" [x]" : L" [ ]");
        if (!Enabled(dialog, row.box)) shown += L" locked";
        if (row.edit) {
            shown += L" \"" + TextOf(GetDlgItem(dialog, row.edit)) + L"\"";
            if (!Enabled(dialog, row.edit)) shown += L" off";
            if (Enabled(dialog, row.unit) != Enabled(dialog, row.edit)) shown += L" (its unit is not)";
        }
        std::wstring note = NoteBeside(dialog, GetDlgItem(dialog, row.box));
        if (!note.empty()) shown += L" " + note;
    }
    return shown;
}

// The record's list: a row per line, its columns separated by "|".
std::vector<std::wstring> ListRows(HWND list) {
    std::vector<std::wstring> rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::wstring text;
        for (int column = 0; column < 3; ++column) {
            wchar_t cell[256] = {};
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = cell;
            item.cchTextMax = ARRAYSIZE(cell);
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            text += (column ? L"|" : L"") + std::wstring(cell);
        }
        rows.push_back(text);
    }
    return rows;
}

// A local time of the record as the user's settings show it.
std::wstring UserTime(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    wchar_t date[64] = {}, clock[64] = {};
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 64, nullptr);
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, clock, 64);
    return std::wstring(date) + L" " + clock;
}

// As a user types: the whole text replaced, key by key.
void Type(HWND dialog, int id, const std::wstring& text) {
    HWND edit = GetDlgItem(dialog, id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

// As a user pastes it over the whole text: ES_NUMBER stops letters typed, not pasted ones.
void Paste(HWND dialog, int id, const std::wstring& text) {
    HWND edit = GetDlgItem(dialog, id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }

class MoreSettingsDialogTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        RemovePolicies();
    }
    void TearDown() override {
        RemovePolicies();
        DialogTest::TearDown();
    }
    void Run(const std::function<void(HWND)>& script) {
        DriveModal([&] { ShowMoreSettingsDialog(nullptr); }, [&] {
            HWND dialog = WaitForDialog(L"More settings", nullptr);
            ASSERT_NE(dialog, nullptr);
            script(dialog);
        });
    }
};

// Values outside the dialog's ranges (the Group Policy template allowed RestAfter up to 86400)
// are shown as stored; a policy's value is shown locked, with a note on its line that says
// why. The record shows as a list, newest first, the time in the user's format.
TEST_F(MoreSettingsDialogTest, ShowsEachSettingAsKalnixAppliesItAndCancelWritesNothing) {
    struct Case {
        std::vector<std::pair<const wchar_t*, DWORD>> local, policies;
        std::vector<std::wstring> record;
        const wchar_t* shown;
        std::vector<std::wstring> closures;
    } cases[] = {
        {{{L"RestAfter", 20}, {L"HibernateAfter", 60}, {L"AlarmWithExternalDisplay", 1}},
         {},
         {},
         L"rest [x] \"20\" | hibernate [x] \"60\" | drain [ ] \"\" off | external [x] | log [ ]",
         {L"|No lid closure seen yet.|"}},
        {{{L"RestAfter", 86400}, {L"HibernateAfter", 60}, {L"StandbyDrainAlert", 5}, {L"EnableLogging", 0}},
         {{L"HibernateAfter", 120}, {L"EnableLogging", 1}},
         {L"2025-03-04 10:15  Slept after 8 s", L"2025-03-03 22:40  The alarm rang for 12 s and was heard"},
         L"rest [x] \"86400\" | hibernate [x] locked \"120\" off (set by your organization) | drain [x] \"5\" | "
         L"external [ ] | log [x] locked (set by your organization)",
         {UserTime(2025, 3, 4, 10, 15) + L"|Slept after 8 s|",
          UserTime(2025, 3, 3, 22, 40) + L"|The alarm rang for 12 s and was heard|"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.shown)));
        ResetSettingsKey();
        RemovePolicies();
        for (const auto& value : c.local) SetSettingDword(value.first, value.second);
        for (const auto& value : c.policies) SetPolicy(value.first, value.second);
        if (!c.record.empty()) SetRecord(c.record);
        const std::wstring before = Stored();
        Run([&](HWND dialog) {
            EXPECT_EQ(Shown(dialog), c.shown);
            EXPECT_EQ(ListRows(GetDlgItem(dialog, IDC_CLOSURES)), c.closures);
            Click(dialog, IDC_REST_AFTER_ON);
            EXPECT_EQ(Shown(dialog).find(L"its unit"), std::wstring::npos) << "the unit goes with its field";
            Click(dialog, IDC_ALARM_WITH_EXTERNAL);
            PostClick(dialog, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        EXPECT_EQ(Stored(), before);
    }
}

// A stored value outside the range that the user did not edit stays as it is; a policy's
// setting is never written, locally or under the policy key.
TEST_F(MoreSettingsDialogTest, OkWritesExactlyTheSettingsTheUserChanged) {
    SetSettingDword(L"RestAfter", 20);
    SetSettingDword(L"HibernateAfter", 60);
    SetSettingDword(L"AlarmWithExternalDisplay", 1);
    SetPolicy(L"EnableLogging", 0);
    Run([](HWND dialog) {
        Click(dialog, IDC_HIBERNATE_AFTER_ON);
        Click(dialog, IDC_DRAIN_ALERT_ON);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_DRAIN_ALERT)), L"5") << "the setup program's first value";
        Type(dialog, IDC_DRAIN_ALERT, L"12");
        Click(dialog, IDC_ALARM_WITH_EXTERNAL);
        PostClick(dialog, IDOK);
        EXPECT_TRUE(WaitUntilGone(dialog));
    });
    EXPECT_EQ(Stored(), L"RestAfter=20 HibernateAfter=0 StandbyDrainAlert=12 AlarmWithExternalDisplay=0 "
                        L"EnableLogging=absent/policy 0 ");
}

TEST_F(MoreSettingsDialogTest, RefusesAnEditedNumberOutsideItsRangeNamingTheRange) {
    const wchar_t* kRest = L"Possible values for putting the laptop to rest are between 30 and 3600 seconds";
    const wchar_t* kHibernate = L"Possible values for hibernating after a standby are between 5 and 1440 minutes";
    const wchar_t* kDrain = L"Possible values for the standby drain alert are between 1 and 100 percent an hour";
    const struct { const wchar_t* name; int edit; const wchar_t* text; const wchar_t* refusal; } rows[] = {
        {L"RestAfter", IDC_REST_AFTER, L"29", kRest},     {L"RestAfter", IDC_REST_AFTER, L"3601", kRest},
        {L"RestAfter", IDC_REST_AFTER, L"", kRest},       {L"RestAfter", IDC_REST_AFTER, L"30", nullptr},
        {L"RestAfter", IDC_REST_AFTER, L"30x", kRest},
        {L"HibernateAfter", IDC_HIBERNATE_AFTER, L"4", kHibernate},
        {L"HibernateAfter", IDC_HIBERNATE_AFTER, L"1441", kHibernate},
        {L"HibernateAfter", IDC_HIBERNATE_AFTER, L"1440", nullptr},
        {L"StandbyDrainAlert", IDC_DRAIN_ALERT, L"0", kDrain},
        {L"StandbyDrainAlert", IDC_DRAIN_ALERT, L"101", kDrain},
        {L"StandbyDrainAlert", IDC_DRAIN_ALERT, L"1", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.name) + L" " + row.text));
        SetSettingDword(L"RestAfter", 60);
        SetSettingDword(L"HibernateAfter", 60);
        SetSettingDword(L"StandbyDrainAlert", 5);
        const std::wstring before = Stored();
        Run([&](HWND dialog) {
            Paste(dialog, row.edit, row.text);
            PostClick(dialog, IDOK);
            if (!row.refusal) {
                EXPECT_TRUE(WaitUntilGone(dialog));
                return;
            }
            HWND box = WaitForDialog(L"Kalnix", dialog);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(VisibleChildTexts(box, L"Static"), row.refusal);
            EXPECT_EQ(Stored(), before) << "nothing is written while a number is refused";
            PostClick(box, IDOK);
            EXPECT_TRUE(WaitUntilGone(box));
            EXPECT_TRUE(IsWindowVisible(dialog));
            PostClick(dialog, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        EXPECT_EQ(GetSettingDword(row.name, 0), row.refusal ? (row.edit == IDC_DRAIN_ALERT ? 5u : 60u)
                                                            : static_cast<DWORD>(_wtoi(row.text)));
    }
}

// A stored line in the list's columns. The record keeps at most 95 characters of a cause and
// 255 of a line: a text cut there ends in "…", never in part of a word without a sign. The
// wakes, like the drain, belong to what happened.
TEST(ClosureColumnsTest, EachLineSplitsIntoTimeWhatHappenedAndCause) {
    const std::wstring cause95(95, L'c'), line255 = L"2025-03-04 10:15  Opened after 5 s" + std::wstring(221, L'x');
    const std::wstring rest = L"2025-03-04 10:15  Put to rest by Kalnix (sleep) after 75 s";
    const std::wstring woken = L"; woken 2 times, the last at 03:12 by the device USB Root Hub";
    const struct { std::wstring line, happened, cause; bool stamped; } rows[] = {
        {L"2025-03-04 10:15  Slept after 8 s", L"Slept after 8 s", L"", true},
        {rest + L": Lid-close action on battery is Do nothing; the standby used 10% in 1 h 05 min",
         L"Put to rest by Kalnix (sleep) after 75 s; the standby used 10% in 1 h 05 min",
         L"Lid-close action on battery is Do nothing", true},
        {rest + L": Process x.exe holds a power request" + woken + L"; the standby used 1% in 0 h 12 min",
         L"Put to rest by Kalnix (sleep) after 75 s" + woken + L"; the standby used 1% in 0 h 12 min",
         L"Process x.exe holds a power request", true},
        {rest + L", no cause found" + woken, L"Put to rest by Kalnix (sleep) after 75 s" + woken, L"none found", true},
        {rest + L", no cause found", L"Put to rest by Kalnix (sleep) after 75 s", L"none found", true},
        {rest + L": " + cause95, L"Put to rest by Kalnix (sleep) after 75 s", cause95 + L"\u2026", true},
        {rest + L": " + cause95.substr(1), L"Put to rest by Kalnix (sleep) after 75 s", cause95.substr(1), true},
        {line255, line255.substr(18) + L"\u2026", L"", true},
        {line255.substr(0, 254), line255.substr(18, 236), L"", true},
        {L"written by hand", L"written by hand", L"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.line));
        ClosureColumns columns;
        SplitClosureLine(row.line.c_str(), &columns);
        EXPECT_EQ(std::wstring(columns.time), row.stamped ? UserTime(2025, 3, 4, 10, 15) : L"");
        EXPECT_EQ(std::wstring(columns.happened), row.happened);
        EXPECT_EQ(std::wstring(columns.cause), row.cause);
    }
}

}  // namespace
