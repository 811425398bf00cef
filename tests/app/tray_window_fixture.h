#pragma once

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/tray_window.h"
#include "protect/protection_modes.h"
#include "support/message_pump.h"
#include "support/platform_fakes.h"
#include "support/test_support.h"

// The real tray window on fresh settings, its shell requests recorded; it goes with the test.
class TrayWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsKey();
        g_instance = GetModuleHandleW(nullptr);
        g_trayWindow = nullptr;
        SetProtectionSettings(0, AlarmDelaySeconds());
    }
    void TearDown() override {
        if (g_trayWindow && IsWindow(g_trayWindow)) DestroyWindow(g_trayWindow);
        g_trayWindow = nullptr;
        DropMessages();  // posted ticks, WM_QUIT
    }
    HWND Create() {
        CreateTrayWindow(TrayLid::Posted);
        return g_trayWindow;
    }
    ShellRecorder shell_;
};
