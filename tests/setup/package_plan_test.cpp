// PlanKalnixPackage, the packages' one immediate action, in a session Wine's msi.dll opens on the
// built package (nothing is installed): what it hands each deferred action, and what a repair a
// standard user runs may change. Wine runs everything as an administrator: AdminUser is cleared
// in the session, as Windows leaves it for a standard user (the package sets
// MSIUSEREALADMINDETECTION).
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "ca_library.h"
#include "setup/custom_action_data.h"
#include "support/arch_facts.h"
#include "support/test_support.h"

namespace {

std::vector<std::wstring> g_messages;

INT CALLBACK KeepMessage(LPVOID, UINT type, LPCWSTR message) {
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message) g_messages.push_back(message);
    return 0;
}

std::wstring Property(MSIHANDLE session, const wchar_t* name) {
    wchar_t value[8192] = {};
    DWORD chars = 8192;
    return MsiGetPropertyW(session, name, value, &chars) == ERROR_SUCCESS ? value : L"<unreadable>";
}

bool SaidSo(const std::wstring& line) {
    for (const std::wstring& message : g_messages) {
        if (message.find(line) != std::wstring::npos) return true;
    }
    return false;
}

const wchar_t kNotApplied[] = L"MODE and ALARMTIME are not applied: this repair was not run by an administrator.";

TEST(PackagePlan, OnlyAnAdministratorsRepairChangesTheModeAndNoRepairEndsKalnix) {
    CaLibrary library(L"standard");
    ASSERT_TRUE(library.Loaded());
    using Action = UINT(__stdcall*)(MSIHANDLE);
    auto plan = reinterpret_cast<Action>(reinterpret_cast<void*>(library.Resolve(ExportName("PlanKalnixPackage", 4).c_str())));
    ASSERT_NE(nullptr, plan);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(&KeepMessage, INSTALLLOGMODE_INFO, nullptr);
    struct Case {
        const char* what;
        const wchar_t* installed;  // Installed: this product is there
        const wchar_t* adminUser;
        const wchar_t* mode;       // handed to WriteKalnixSettings
        const wchar_t* repair;     // SecureKalnixFolder's and EndStartedKalnix's flag
    } cases[] = {
        {"a standard user's repair", L"1", L"", L"", L"1"},
        {"an administrator's repair", L"1", L"1", L"2", L"1"},
        {"an installation", L"", L"", L"2", L"0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MSIHANDLE session = 0;
        ASSERT_EQ(ERROR_SUCCESS, MsiOpenPackageW(KALNIX_MSI_W, &session));
        MsiSetPropertyW(session, L"Installed", c.installed);
        MsiSetPropertyW(session, L"AdminUser", c.adminUser);
        MsiSetPropertyW(session, L"MODE", L"2");
        g_messages.clear();
        EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), plan(session));
        const std::wstring settings = Property(session, L"WriteKalnixSettings");
        EXPECT_EQ(c.mode, FieldOf(settings, data_field::kMode)) << settings;
        EXPECT_EQ(c.repair, FieldOf(Property(session, L"SecureKalnixFolder"), data_field::kRepair));
        EXPECT_EQ(c.repair, FieldOf(Property(session, L"EndStartedKalnix"), data_field::kRepair));
        EXPECT_EQ(c.mode[0] == L'\0', SaidSo(kNotApplied));
        // What starts Kalnix at log-on is read by the actions that change it, as SYSTEM.
        EXPECT_EQ(L"", FieldOf(Property(session, L"UndoKalnixStart"), data_field::kPreviousStart));
        EXPECT_NE(L"", FieldOf(Property(session, L"UndoKalnixStart"), data_field::kRun));
        MsiCloseHandle(session);
    }
    MsiSetExternalUIW(nullptr, 0, nullptr);
}

}  // namespace
