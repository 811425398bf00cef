// What a screen reader and a keyboard user find in the settings dialogs: each field's name,
// as Windows finds it from the labels' order and as Kalnix annotates it, and access keys on
// every check box, radio button and label, none used twice.
#include "dialog_driver.h"

#include <set>

#include "app/app_state.h"
#include "app/more_settings_dialog.h"
#include "app/settings_dialog.h"
#include "res/resource.h"

namespace {

struct Field {
    int id;
    const wchar_t* label;      // the static text before it
    const wchar_t* annotated;  // the name Kalnix gives it; null for none
};

struct Dialog {
    const wchar_t* caption;
    void (*open)();
    const wchar_t* keys;
    std::vector<Field> fields;
};

void OpenSettings() { DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDialogProc, 0); }
void OpenMoreSettings() { ShowMoreSettingsDialog(nullptr); }

class AccessibilityTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        g_annotations.clear();
        g_propServicesReferences = 0;
        g_shellSeam.createAccPropServices = CreateRecordingPropServices;
    }
    PlatformScope platform_;
};

TEST_F(AccessibilityTest, EveryFieldHasItsNameAndEveryChoiceAndLabelItsOwnAccessKey) {
    const Dialog dialogs[] = {
        {L"Settings", OpenSettings, L"a l s",
         {{IDC_ALARM_SECONDS, L"seconds",
           L"When closing lid, sound alarm if laptop does not fall asleep within (seconds)"}}},
        {L"More settings", OpenMoreSettings, L"r s h m d o a l b n c w",
         {{IDC_REST_AFTER, L"seconds", L"Put the laptop to rest when the alarm rang unheard for (seconds)"},
          {IDC_HIBERNATE_AFTER, L"minutes", L"On battery, hibernate after a standby of (minutes)"},
          {IDC_DRAIN_ALERT, L"% an hour", L"Alert when a standby drains the battery by more than (% an hour)"},
          {IDC_WAKE_LIST, L"What may wake the closed laptop, and what Kalnix changed", nullptr},
          {IDC_CLOSURES, L"What Kalnix did at the last lid closures", nullptr}}},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(d.caption)));
        g_annotations.clear();
        std::vector<HWND> fields;
        DriveModal(d.open, [&] {
            HWND dialog = WaitForDialog(d.caption, nullptr);
            ASSERT_NE(dialog, nullptr);
            const std::wstring keys = AccessKeys(dialog);
            EXPECT_EQ(keys, d.keys);
            std::set<wchar_t> distinct;
            size_t count = 0;
            for (wchar_t key : keys) {
                if (key == L' ') continue;
                distinct.insert(key);
                ++count;
            }
            EXPECT_EQ(distinct.size(), count) << "a key used twice";
            for (const Field& field : d.fields) {
                fields.push_back(GetDlgItem(dialog, field.id));
                EXPECT_EQ(NameFromLabel(fields.back()), field.label) << field.id;
            }
            PostClick(dialog, IDCANCEL);
            EXPECT_TRUE(WaitUntilGone(dialog));
        });
        // Each name is given once while the dialog shows and taken back when it goes.
        ASSERT_EQ(fields.size(), d.fields.size());
        for (size_t i = 0; i < d.fields.size(); ++i) {
            std::vector<std::wstring> seen;
            for (const Annotation& a : g_annotations) {
                if (a.window != fields[i] || !IsEqualGUID(a.property, PROPID_ACC_NAME)) continue;
                seen.push_back(a.cleared ? L"cleared" : a.text);
            }
            const std::vector<std::wstring> expected =
                d.fields[i].annotated ? std::vector<std::wstring>{d.fields[i].annotated, L"cleared"}
                                      : std::vector<std::wstring>{};
            EXPECT_EQ(seen, expected) << d.fields[i].id;
        }
        EXPECT_EQ(g_propServicesReferences, 0);
    }
}

}  // namespace
