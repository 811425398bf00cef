// The power request tool's start, with a real child in the tool's place: it must inherit the
// pipe's write end and no other inheritable handle the process holds at that moment.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/seam_power.h"
#include "protect/request_tool.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

namespace {

HANDLE g_otherInheritable = nullptr;

// The probe in the tool's place, started with everything else as Kalnix asked for it.
BOOL WINAPI StartProbeInstead(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                              LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process) {
    std::wstring probe = std::wstring(KALNIX_TEST_BIN_DIR_W) + L"\\protect_inherit_probe.exe";
    wchar_t handle[32];
    swprintf(handle, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(g_otherInheritable)));
    std::wstring commandLine = L"\"" + probe + L"\" " + handle;
    return CreateProcessW(probe.c_str(), &commandLine[0], processAttributes, threadAttributes, inherit, flags,
                          environment, directory, startup, process);
}

TEST(RequestToolTest, TheToolInheritsThePipesWriteEndAndNoOtherHandle) {
    PlatformScope platform;
    g_powerSeam.createProcess = StartProbeInstead;
    // Another thread's inheritable handle, as it may exist at the moment the tool starts.
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    g_otherInheritable = CreateEventW(&inheritable, TRUE, TRUE, nullptr);
    ASSERT_NE(g_otherInheritable, nullptr);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<BYTE> bytes(kMaxToolOutputBytes);
    DWORD size = 0, exitCode = ~0u;
    const wchar_t* failedCall = L"";

    EXPECT_EQ(RunRequestTool(stop, bytes.data(), &size, &exitCode, &failedCall), static_cast<DWORD>(ERROR_SUCCESS))
        << failedCall;
    // The answer arrives through the pipe: the write end reached the probe.
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + size), "not inherited");
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(stop);
    CloseHandle(g_otherInheritable);
}

}  // namespace
