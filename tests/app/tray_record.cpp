#include "tray_record.h"

#include <cstring>
#include <cwchar>

#include "app/app_state.h"
#include "support/arch_facts.h"
#include "support/icon_pixels.h"
#include "support/test_support.h"

namespace {

// The shell keeps the callback version per icon: set, on its own, once the icon exists.
NOTIFYICONDATAW VersionRecord(HWND window) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kArch.notifyRecordFullSize;
    record.hWnd = window;
    record.uID = 1;
    record.uVersion = NOTIFYICON_VERSION_4;
    return record;
}

}  // namespace

// Under version 4 the standard tooltip shows only when asked for.
NOTIFYICONDATAW ExpectedRecord(HWND window, const wchar_t* tip) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kArch.notifyRecordFullSize;
    record.hWnd = window;
    record.uID = 1;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    record.uCallbackMessage = WM_USER + 1;
    wcsncpy(record.szTip, tip, 127);
    return record;
}

std::string IconImage(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return {};
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    std::string bytes(static_cast<size_t>(bitmap.bmWidthBytes) * bitmap.bmHeight, '\0');
    GetBitmapBits(info.hbmColor, static_cast<LONG>(bytes.size()), &bytes[0]);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return std::to_string(bitmap.bmWidth) + "x" + std::to_string(bitmap.bmHeight) + ":" + bytes;
}

void ExpectSameRecord(const NOTIFYICONDATAW& sent, const NOTIFYICONDATAW& expected, UINT icon) {
    if (icon) EXPECT_TRUE(IconShows(sent.hIcon, icon)) << "not the picture of icon " << icon;
    else EXPECT_EQ(sent.hIcon, nullptr);
    NOTIFYICONDATAW actual = sent;
    actual.hIcon = nullptr;
    EXPECT_EQ(actual.cbSize, expected.cbSize);
    EXPECT_EQ(actual.hWnd, expected.hWnd);
    EXPECT_EQ(actual.uID, expected.uID);
    EXPECT_EQ(actual.uFlags, expected.uFlags);
    EXPECT_EQ(actual.uCallbackMessage, expected.uCallbackMessage);
    EXPECT_EQ(std::wstring(actual.szTip), std::wstring(expected.szTip));
    EXPECT_EQ(actual.uVersion, expected.uVersion);
    EXPECT_EQ(std::wstring(actual.szInfo), std::wstring(expected.szInfo));
    EXPECT_EQ(std::wstring(actual.szInfoTitle), std::wstring(expected.szInfoTitle));
    EXPECT_EQ(actual.dwInfoFlags, expected.dwInfoFlags);
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(actual)), 0) << "a member the shell reads differs";
}

void TrayIconTest::SetUp() {
    ResetSettingsKey();
    SetSettingDword(L"HideTrayIcon", 0);
    g_instance = GetModuleHandleW(nullptr);
    g_pendingBalloonText[0] = L'\0';
}

void TrayIconTest::TearDown() {
    g_pendingBalloonText[0] = L'\0';
    g_trayWindow = nullptr;
    RemoveFile(LogPathBesideExecutable());
}

NOTIFYICONDATAW TrayIconTest::Added() {
    const auto& calls = shell_.Calls();
    EXPECT_EQ(calls.size(), 2u);
    if (calls.size() != 2) return {};
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_SETVERSION));
    NOTIFYICONDATAW version = VersionRecord(calls[0].record.hWnd);
    EXPECT_EQ(std::memcmp(&calls[1].record, &version, sizeof(NOTIFYICONDATAW)), 0) << "version 4, and nothing else";
    NOTIFYICONDATAW record = calls[0].record;
    shell_.Clear();
    return record;
}
