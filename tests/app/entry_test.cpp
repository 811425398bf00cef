#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/settings_store.h"
#include "protect/protection_modes.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

namespace {

TEST(FreshSwitchTest, WholeTailMatchesInAnyLetterCase) {
    const struct { const char* tail; bool fresh; } rows[] = {
        {"-fresh", true}, {"-FRESH", true}, {"-FrEsH", true},
        {"-fresh ", false}, {"-fresh x", false}, {" -fresh", false}, {"/fresh", false},
        {"fresh", false}, {"-fres", false}, {"-freshh", false}, {"", false},
    };
    for (const auto& row : rows) EXPECT_EQ(IsFreshSwitch(row.tail), row.fresh) << '"' << row.tail << '"';
}

// A tray window that cannot be created must not leave a process running with no window
// (nothing could end it) that holds the single-instance marker. The marker is machine-wide
// and the next test's lives as long as this process, so this runs first, in a child copy.
constexpr const wchar_t* kNoWindowChild = L"KALNIX_NO_WINDOW_CHILD";

LRESULT CALLBACK RefuseTrayWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        const wchar_t* name = create->lpcs->lpszName;
        if (name && !IS_INTRESOURCE(name) && std::wstring(name) == L"KalnixWnd") return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(EntryWithoutWindowTest, EndsAtOnceWhenTheTrayWindowCannotBeCreated) {
    if (IsChildRun(kNoWindowChild)) {
        ResetSettingsKey();
        HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseTrayWindow, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), ""), 1);
        UnhookWindowsHookEx(hook);
        EXPECT_EQ(g_trayWindow, nullptr);
        return;
    }
    EXPECT_EQ(RunChildCopy(kNoWindowChild, L"EntryWithoutWindowTest.*", 30000), 0u) << "the child hung in its message loop or failed";
}

// Runs the whole entry on this thread; a thread timer sends WM_DESTROY to the tray window
// once the loop is running, as the installer would.
void CALLBACK SendDestroy(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    SendMessageW(g_trayWindow, WM_DESTROY, 0, 0);
}

// Two starts at the same moment (the setup program's and the log-on task's): the other one
// creates the marker just after this one looked and found none. Needs a process in which
// no marker was ever made, so it runs in a child copy.
constexpr const wchar_t* kRaceChild = L"KALNIX_RACE_CHILD";
HANDLE g_otherStartsMarker = nullptr;

HANDLE WINAPI FindNothingWhileAnotherStartCreates(DWORD access, BOOL inherit, LPCWSTR name) {
    HANDLE found = OpenEventW(access, inherit, name);
    if (found) return found;
    g_otherStartsMarker = CreateEventW(nullptr, FALSE, TRUE, name);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

TEST(EntryRaceTest, StartThatDidNotCreateTheMarkerEndsWithZeroChangingNothing) {
    if (!IsChildRun(kRaceChild)) {
        EXPECT_EQ(RunChildCopy(kRaceChild, L"EntryRaceTest.*", 30000), 0u);
        return;
    }
    ResetSettingsKey();
    SetSettingDword(L"Action", 1);
    OpenProcessSettingsKey();
    ShellRecorder shell;
    PlatformScope platform;
    g_sessionSeam.openEvent = FindNothingWhileAnotherStartCreates;
    SetProtectionSettings(7, AlarmDelaySeconds());
    UINT_PTR guard = SetTimer(nullptr, 0, 500, SendDestroy);  // ends a start that runs on
    EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), "-fresh"), 0);
    KillTimer(nullptr, guard);
    ASSERT_NE(g_otherStartsMarker, nullptr);
    EXPECT_EQ(g_trayWindow, nullptr);
    EXPECT_EQ(FindWindowW(L"KalnixWndClass", L"KalnixWnd"), nullptr);
    EXPECT_EQ(ProtectionMode(), 7);
    EXPECT_EQ(g_pendingBalloonText[0], L'\0');
    EXPECT_TRUE(shell.Calls().empty());
    // The marker goes with its creator: the loser kept no handle on it.
    CloseHandle(g_otherStartsMarker);
    HANDLE left = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\Kalnix");
    EXPECT_EQ(left, nullptr);
    if (left) CloseHandle(left);
    CloseProcessSettingsKey();
}

// Any user may create the marker first; only one owned by Administrators or SYSTEM stops a
// start. Wine keeps no owners, so the found marker is a stand-in event whose owner the table
// names. The owner can be read only through a handle opened with READ_CONTROL.
constexpr const wchar_t* kOwnerChild = L"KALNIX_OWNER_CHILD";
const wchar_t* g_markerOwner = nullptr;
DWORD g_markerAccess = 0;

HANDLE WINAPI FindMarkerOfNamedOwner(DWORD access, BOOL, LPCWSTR name) {
    if (std::wstring(name) != L"Global\\Kalnix") return nullptr;
    g_markerAccess = access;
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

DWORD WINAPI ReadNamedOwner(HANDLE, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID*, PACL*,
                            PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    if (!(g_markerAccess & READ_CONTROL)) return ERROR_ACCESS_DENIED;
    if (type != SE_KERNEL_OBJECT || what != OWNER_SECURITY_INFORMATION) return ERROR_INVALID_PARAMETER;
    return OwnerOnlyDescriptor(g_markerOwner, owner, descriptor);
}

TEST(EntryMarkerOwnerTest, OnlyAMarkerOfAdministratorsOrSystemEndsTheStart) {
    if (!IsChildRun(kOwnerChild)) {
        EXPECT_EQ(RunChildCopy(kOwnerChild, L"EntryMarkerOwnerTest.*", 30000), 0u);
        return;
    }
    const struct { const wchar_t* owner; bool runs; } rows[] = {
        {L"S-1-5-32-544", false},  // BUILTIN\Administrators
        {L"S-1-5-18", false},      // SYSTEM
        {L"S-1-5-21-1004336348-1177238915-682003330-1001", true},  // a plain user
        {L"S-1-5-32-545", true},   // BUILTIN\Users
    };
    const std::string ignored =
        "Single-instance marker Global\\Kalnix is not owned by Administrators or SYSTEM: ignored\r\n\r\n";
    ShellRecorder shell;
    PlatformScope platform;
    g_sessionSeam.openEvent = FindMarkerOfNamedOwner;
    g_sessionSeam.getSecurityInfo = ReadNamedOwner;
    for (const auto& row : rows) {
        ResetSettingsKey();
        SetSettingDword(L"Action", 2);
        SetSettingDword(L"EnableLogging", 1);
        OpenProcessSettingsKey();
        RemoveFile(LogPathBesideExecutable());
        g_trayWindow = nullptr;
        g_markerOwner = row.owner;
        UINT_PTR guard = SetTimer(nullptr, 0, 200, SendDestroy);
        EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), ""), 0) << row.owner;
        KillTimer(nullptr, guard);
        EXPECT_EQ(g_trayWindow != nullptr && IsWindow(g_trayWindow), row.runs) << row.owner;
        std::string log = ReadFileBytes(LogPathBesideExecutable());
        if (row.runs) {
            EXPECT_EQ(log.substr(0, ignored.size()), ignored) << row.owner;
        } else {
            EXPECT_EQ(log, "") << row.owner;
        }
        if (g_trayWindow) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();
        CloseProcessSettingsKey();
    }
    RemoveFile(LogPathBesideExecutable());
    // An ignored marker is left alone: this start made none of its own.
    HANDLE own = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\Kalnix");
    EXPECT_EQ(own, nullptr);
    if (own) CloseHandle(own);
}

// Action and AlarmTime are read at start, Group Policy's first and quietly; a policy's value
// out of range is used as read, as a local one is. Each start needs no marker of its own, so
// the found marker is a plain user's (ignored) and the starts run in a child copy.
constexpr const wchar_t* kPolicyChild = L"KALNIX_POLICY_CHILD";

TEST(EntryPolicyTest, PoliciesWinAtStartAndOutOfRangeOnesAreUsedAsRead) {
    if (!IsChildRun(kPolicyChild)) {
        EXPECT_EQ(RunChildCopy(kPolicyChild, L"EntryPolicyTest.*", 30000), 0u);
        return;
    }
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const struct {
        DWORD localAction, localDelay, policyAction, policyDelay;
        int mode, delay;
        bool readFailuresLogged;
    } rows[] = {
        {2, 15, kAbsent, kAbsent, 2, 15, false},
        {2, 15, 1, 30, 1, 30, false},
        {2, 15, 3, 100, 3, 100, false},  // neither mode, and a delay the dialog would refuse
        {kAbsent, kAbsent, 1, 20, 1, 20, false},
        {kAbsent, kAbsent, kAbsent, kAbsent, 0, 0, true},
    };
    const std::string ignored =
        "Single-instance marker Global\\Kalnix is not owned by Administrators or SYSTEM: ignored\r\n\r\n";
    const std::string readFailures = "RQVE Failed: 2\r\n\r\nRQVE Failed: 2\r\n\r\n";
    PolicyCleanup policies;
    ShellRecorder shell;
    PlatformScope platform;
    g_sessionSeam.openEvent = FindMarkerOfNamedOwner;
    g_sessionSeam.getSecurityInfo = ReadNamedOwner;
    g_markerOwner = L"S-1-5-32-545";
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.policyAction << " " << row.policyDelay);
        ResetSettingsKey();
        DeletePolicyKey();
        SetSettingDword(L"EnableLogging", 1);
        SetSettingDword(L"HideTrayIcon", 0);  // read at every icon update
        if (row.localAction != kAbsent) SetSettingDword(L"Action", row.localAction);
        if (row.localDelay != kAbsent) SetSettingDword(L"AlarmTime", row.localDelay);
        if (row.policyAction != kAbsent) SetPolicyDword(L"Action", row.policyAction);
        if (row.policyDelay != kAbsent) SetPolicyDword(L"AlarmTime", row.policyDelay);
        OpenProcessSettingsKey();
        RemoveFile(LogPathBesideExecutable());
        SetProtectionSettings(7, 7);
        UINT_PTR guard = SetTimer(nullptr, 0, 200, SendDestroy);
        EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), ""), 0);
        KillTimer(nullptr, guard);
        EXPECT_EQ(ProtectionMode(), row.mode);
        EXPECT_EQ(AlarmDelaySeconds(), row.delay);
        std::string log = ReadFileBytes(LogPathBesideExecutable());
        EXPECT_EQ(log.rfind(ignored, 0), 0u);
        EXPECT_EQ(log.find("RQVE") == std::string::npos, !row.readFailuresLogged) << log;
        EXPECT_EQ(log.rfind(ignored + readFailures, 0) == 0, row.readFailuresLogged) << log;
        EXPECT_EQ(GetPolicyDword(L"Action", kAbsent), row.policyAction) << "never written";
        if (g_trayWindow) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();
        CloseProcessSettingsKey();
    }
    RemoveFile(LogPathBesideExecutable());
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        SetSettingDword(L"Action", 2);
        SetSettingDword(L"AlarmTime", 100);  // outside what the dialog allows: used as read
        OpenProcessSettingsKey();
        g_trayWindow = nullptr;
        SetProtectionSettings(0, 0);
        g_pendingBalloonText[0] = L'\0';
    }
    void TearDown() override {
        CloseProcessSettingsKey();
        if (g_trayWindow && IsWindow(g_trayWindow)) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();
    }
    ShellRecorder shell_;
};

// Both cases share the process-wide marker, so they run in this order in one test.
TEST_F(EntryTest, FirstRunReadsSettingsShowsBalloonAndQuitsWithZeroThenMarkerStopsASecond) {
    ASSERT_EQ(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\Kalnix"), nullptr) << "no instance may be running";
    SetTimer(nullptr, 0, 50, SendDestroy);
    EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), "-FRESH"), 0);
    EXPECT_EQ(ProtectionMode(), 2);
    EXPECT_EQ(AlarmDelaySeconds(), 100);
    EXPECT_NE(g_logoRecord, nullptr);
    ASSERT_GE(shell_.Calls().size(), 3u);
    EXPECT_EQ(shell_.Calls()[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(std::wstring(shell_.Calls()[0].record.szInfo), kFreshStartBalloon);
    EXPECT_EQ(shell_.Calls().back().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(g_pendingBalloonText[0], L'\0');

    HANDLE marker = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\Kalnix");
    EXPECT_NE(marker, nullptr);
    if (marker) CloseHandle(marker);

    // A second run finds the marker and ends before touching anything.
    DestroyWindow(g_trayWindow);
    g_trayWindow = nullptr;
    shell_.Clear();
    SetProtectionSettings(7, AlarmDelaySeconds());
    EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), "-fresh"), 0);
    EXPECT_EQ(g_trayWindow, nullptr);
    EXPECT_EQ(FindWindowW(L"KalnixWndClass", L"KalnixWnd"), nullptr);
    EXPECT_EQ(ProtectionMode(), 7);
    EXPECT_EQ(g_pendingBalloonText[0], L'\0');
    EXPECT_TRUE(shell_.Calls().empty());
}

// Where no service is installed, Kalnix protects the laptop itself and needs an administrator's
// rights; the manifest no longer asks for them. An administrator whose rights User Account
// Control limited starts Kalnix again through the shell's "runas", with the same switch, and
// this start ends with 0 whatever the answer: nothing of its own is made meanwhile. Wine's token
// is always a full administrator's, and its shell asks nobody.
TOKEN_ELEVATION_TYPE g_tokenType = TokenElevationTypeLimited;
BOOL g_elevationAnswer = TRUE;
std::vector<std::pair<std::wstring, std::wstring>> g_elevatedStarts;  // verb, parameters

BOOL WINAPI TokenType(HANDLE, TOKEN_INFORMATION_CLASS kind, void* value, DWORD, DWORD*) {
    if (kind != TokenElevationType) return FALSE;
    *static_cast<TOKEN_ELEVATION_TYPE*>(value) = g_tokenType;
    return TRUE;
}

BOOL WINAPI ShellStartsElevated(SHELLEXECUTEINFOW* start) {
    g_elevatedStarts.push_back({start->lpVerb ? start->lpVerb : L"", start->lpParameters ? start->lpParameters : L""});
    if (!g_elevationAnswer) SetLastError(ERROR_CANCELLED);
    return g_elevationAnswer;
}

TEST(EntryElevationTest, ALimitedAdministratorsStartRestartsElevatedWithItsSwitchAndEndsWithZero) {
    PlatformScope platform;
    g_sessionSeam.getTokenInformation = TokenType;
    g_shellSeam.shellExecuteEx = ShellStartsElevated;
    const struct {
        const char* tail;
        BOOL answer;
        const wchar_t* parameters;
    } rows[] = {{"-fresh", TRUE, L"-fresh"}, {"-FRESH", FALSE, L"-fresh"}, {"", FALSE, L""}, {"-other", TRUE, L""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tail);
        g_elevatedStarts.clear();
        g_elevationAnswer = row.answer;
        EXPECT_EQ(RunTrayApplication(GetModuleHandleW(nullptr), row.tail), 0);
        ASSERT_EQ(g_elevatedStarts.size(), 1u);
        EXPECT_EQ(g_elevatedStarts[0].first, L"runas");
        EXPECT_EQ(g_elevatedStarts[0].second, row.parameters);
        EXPECT_EQ(g_trayWindow, nullptr);
        EXPECT_EQ(g_pendingBalloonText[0], L'\0');
    }
}

}  // namespace
