// The desktop's shell asked for real (Wine's explorer serves it): what it opens is started by
// the shell, in the shell's process, not by the process that asked.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

#include "common/desktop_shell.h"
#include "support/test_support.h"

namespace {

const wchar_t kProbeKey[] = L"Software\\KalnixTest\\OpenedProbe";

bool ReadProbeParent(DWORD* parent) {
    DWORD size = sizeof(*parent);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kProbeKey, L"Parent", RRF_RT_REG_DWORD, nullptr, parent, &size) ==
           ERROR_SUCCESS;
}

std::wstring ImageNameOf(DWORD process) {
    std::wstring name;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return name;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == process) name = entry.szExeFile;
    CloseHandle(snapshot);
    return name;
}

TEST(DesktopShellTest, OpensThroughTheShellsOwnProcessAndSaysWhenItCouldNot) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProbeKey);
    std::wstring probe = std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\common_opened_probe.exe";
    ASSERT_EQ(OpenThroughDesktopShell(probe.c_str()), S_OK);
    DWORD parent = 0;
    ASSERT_TRUE(WaitUntil([&] { return ReadProbeParent(&parent); }, 10000)) << "the probe never ran";
    EXPECT_NE(parent, GetCurrentProcessId());
    EXPECT_EQ(_wcsicmp(ImageNameOf(parent).c_str(), L"explorer.exe"), 0) << ImageNameOf(parent);

    std::wstring missing = std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\no-such-program.exe";
    EXPECT_NE(OpenThroughDesktopShell(missing.c_str()), S_OK);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProbeKey);
}

}  // namespace
