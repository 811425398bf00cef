#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <psapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "support/kalnix_process.h"
#include "support/power_standin.h"
#include "support/test_support.h"

namespace {

// Asks the real notification area whether it holds Kalnix's icon: a modification that
// changes nothing succeeds only for an icon that exists.
bool TrayIconExists(HWND window, UINT id = 1) {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = NOTIFYICONDATAW_V2_SIZE;
    probe.hWnd = window;
    probe.uID = id;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(KalnixTrayWindows().empty()) << "a Kalnix from elsewhere is running";
        // Mode 2 touches no power policy; no saved flags, so nothing is restored at the end.
        ResetSettingsKey();
        SetSettingDword(L"Action", 2);
        SetSettingDword(L"AlarmTime", 10);
        SetSettingDword(L"HideTrayIcon", 0);
    }
};

TEST_F(ProgramTest, RunsHiddenWithIconAndEndsWithZeroWhenSentDestroy) {
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-destroy"));
    ASSERT_TRUE(kalnix.Start());
    HWND window = kalnix.Window();
    EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 10000)) << "the first tick adds the icon";
    EXPECT_FALSE(TrayIconExists(window, 2)) << "the probe tells icons apart";
    EXPECT_FALSE(IsWindowVisible(window));

    // The system close command only hides.
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0), 1);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(kalnix.Running());

    SendMessageW(window, WM_DESTROY, 0, 0);
    EXPECT_EQ(kalnix.ExitCode(), 0u);
    EXPECT_TRUE(KalnixTrayWindows().empty());
    // Wine's explorer also drops the icons of a destroyed window, so this shows the icon
    // gone, not who removed it; the in-process tests show the removal itself.
    EXPECT_FALSE(TrayIconExists(window));
}

TEST_F(ProgramTest, CloseMessageEndsItThroughDestroy) {
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-close"));
    ASSERT_TRUE(kalnix.Start());
    HWND window = kalnix.Window();
    ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 10000));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(kalnix.ExitCode(), 0u);
    EXPECT_FALSE(TrayIconExists(window));
}

// A popup menu (#32768) of this process, shown.
bool MenuShownBy(DWORD pid) {
    for (HWND menu = nullptr; (menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(menu, &owner);
        if (owner == pid && IsWindowVisible(menu)) return true;
    }
    return false;
}

// The setup program's end of a running Kalnix (WM_DESTROY sent), an upgrade or anything that
// closes the window: an open tray menu ends first and never keeps the process running.
TEST_F(ProgramTest, EndsWithZeroWhenToldToWhileItsMenuIsOpen) {
    for (bool sentDestroy : {false, true}) {
        SCOPED_TRACE(sentDestroy ? "WM_DESTROY sent" : "WM_CLOSE posted");
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare(L"program-menu-end"));
        ASSERT_TRUE(kalnix.Start());
        HWND window = kalnix.Window();
        ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 10000));
        // A right-click, as version 4 of the shell reports it: the anchor in wParam.
        PostMessageW(window, WM_USER + 1, MAKEWPARAM(300, 300), MAKELPARAM(WM_CONTEXTMENU, 1));
        ASSERT_TRUE(WaitUntil([&] { return MenuShownBy(kalnix.Pid()); }, 10000));
        if (sentDestroy) {
            EXPECT_EQ(kalnix.End(), 0u);
        } else {
            PostMessageW(window, WM_CLOSE, 0, 0);
            EXPECT_EQ(kalnix.ExitCode(), 0u);
        }
    }
}

TEST_F(ProgramTest, SecondInstanceEndsAtOnceAndChangesNothing) {
    SetSettingDword(L"EnableLogging", 1);
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-second"));
    ASSERT_TRUE(kalnix.Start());
    HWND window = kalnix.Window();
    ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 10000));
    const std::string logBefore = kalnix.Log();

    EXPECT_EQ(RunAndWait(L"\"" + kalnix.Exe() + L"\" -fresh", 15000), 0u);
    EXPECT_EQ(KalnixTrayWindows(), std::vector<HWND>{window});
    EXPECT_TRUE(TrayIconExists(window));
    EXPECT_TRUE(kalnix.Running());
    EXPECT_EQ(kalnix.Log(), logBefore);

    EXPECT_EQ(kalnix.End(), 0u);
}

TEST_F(ProgramTest, UnreadableHideSettingIsLoggedBesideTheExecutable) {
    SetSettingDword(L"EnableLogging", 1);
    DeleteSettingValue(L"HideTrayIcon");
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-log"));
    ASSERT_TRUE(kalnix.Start());
    ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(kalnix.Window()); }, 10000));
    // The first tick's update reads the value once; Action and AlarmTime were readable.
    EXPECT_TRUE(kalnix.WaitForLogLine("RQVE Failed: 2\r\n\r\n", 5000)) << kalnix.Log();
    EXPECT_EQ(Occurrences(kalnix.Log(), "RQVE"), 1u) << kalnix.Log();
    EXPECT_EQ(kalnix.End(), 0u);
}

TEST_F(ProgramTest, WithoutSettingsKeyItRunsWithIconAndWritesNoLog) {
    DeleteSettingsKey();
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-nokey"));
    ASSERT_TRUE(kalnix.Start());
    HWND window = kalnix.Window();
    EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 10000));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(kalnix.End(), 0u);
    EXPECT_FALSE(FileExists(kalnix.LogPath()));
}

// The shell shows a balloon as a visible balloon-style tooltip window, about two seconds
// after the icon appears.
bool BalloonShownWithin(DWORD timeoutMs) {
    return WaitUntil(
        [] {
            for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"tooltips_class32", nullptr)) != nullptr;)
                if (IsWindowVisible(w) && (GetWindowLongW(w, GWL_STYLE) & TTS_BALLOON)) return true;
            return false;
        },
        timeoutMs);
}

TEST_F(ProgramTest, FreshSwitchInAnyCaseAfterAnyBlanksShowsTheBalloon) {
    const struct { const wchar_t* tail; bool balloon; } rows[] = {
        {L"    -FrEsH", true}, {L" -fresh x", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << '"' << std::string(row.tail, row.tail + wcslen(row.tail)) << '"');
        KalnixProcess kalnix;
        ASSERT_TRUE(kalnix.Prepare(L"program-fresh"));
        ASSERT_TRUE(kalnix.Start(row.tail));
        ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(kalnix.Window()); }, 10000));
        EXPECT_EQ(BalloonShownWithin(row.balloon ? 8000 : 4000), row.balloon);
        EXPECT_EQ(kalnix.End(), 0u);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    std::wstring folder = path.substr(0, path.rfind(L'\\'));
    CharLowerW(&folder[0]);
    return folder;
}

// The files of the modules a process has loaded, itself first.
std::vector<std::wstring> ModulesOf(DWORD pid) {
    std::vector<std::wstring> files;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return files;
    HMODULE modules[256];
    DWORD bytes = 0;
    if (EnumProcessModules(process, modules, sizeof(modules), &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 256; ++i) {
            wchar_t file[MAX_PATH] = {};
            if (GetModuleFileNameExW(process, modules[i], file, MAX_PATH)) files.push_back(file);
        }
    }
    CloseHandle(process);
    return files;
}

// Kalnix runs elevated: a library named like one it uses, put into its folder (which is also
// the folder it starts in), must never be loaded.
TEST_F(ProgramTest, TakesThePowerLibraryFromSystem32NeverFromItsOwnFolder) {
    SetSettingDword(L"EnableLogging", 1);
    KalnixProcess kalnix;
    ASSERT_TRUE(kalnix.Prepare(L"program-planted"));
    std::wstring folder = FolderOf(kalnix.Exe());
    // A working copy of the power library: only where it was taken from tells them apart.
    ASSERT_TRUE(CopyFileTo(std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\powrprof.dll", folder + L"\\powrprof.dll"));
    ASSERT_TRUE(kalnix.Start());
    ASSERT_TRUE(kalnix.WaitForLogLine(kSleepLines, 10000)) << "the stand-in never answered: " << kalnix.Log();
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::vector<std::wstring> modules = ModulesOf(kalnix.Pid());
    ASSERT_GT(modules.size(), 1u) << "the process's modules cannot be listed";
    int powerLibraries = 0;
    for (size_t i = 1; i < modules.size(); ++i) {
        std::wstring file = modules[i];
        EXPECT_NE(FolderOf(file), folder) << testing::PrintToString(file);
        CharLowerW(&file[0]);
        if (file.size() >= 13 && file.compare(file.size() - 13, 13, L"\\powrprof.dll") == 0) {
            ++powerLibraries;
            EXPECT_EQ(FolderOf(file), FolderOf(std::wstring(system) + L"\\x")) << testing::PrintToString(file);
        }
    }
    EXPECT_EQ(powerLibraries, 1);
    EXPECT_EQ(kalnix.End(), 0u);
}

}  // namespace
