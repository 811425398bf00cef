#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/platform_fakes.h"

// What the tray icon's tests compare: the records handed to the shell.

// Any handle will do: the record only carries it to the shell.
inline const HWND kWindow = reinterpret_cast<HWND>(0x1230);

// The record the shell must see for a shown state, its icon aside (a picture loaded for each
// update, which ExpectSameRecord compares by its pixels); every member not set here is zero.
NOTIFYICONDATAW ExpectedRecord(HWND window, const wchar_t* tip);
// The pixels of an icon's colour image, with its size; empty for no icon (or a destroyed one).
std::string IconImage(HICON icon);
// `icon`: the resource whose picture the record must carry (0: no icon at all).
void ExpectSameRecord(const NOTIFYICONDATAW& sent, const NOTIFYICONDATAW& expected, UINT icon);

// The icon shown, its settings reset, and the shell's requests recorded.
class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The update's two requests, the add and then the icon's version; returns the add's record.
    NOTIFYICONDATAW Added();
    ShellRecorder shell_;
};
