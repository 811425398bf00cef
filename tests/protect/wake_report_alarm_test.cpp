// The report in the lid alarm, started by its first tone; the lid-close action that automatic
// protection forces and that a later start puts back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/lid_close_action.h"
#include "common/seam_sound.h"
#include "protect/closed_lid_watch.h"
#include "protect/protection_modes.h"
#include "support/power_standin.h"
#include "wake_report_fixture.h"

namespace {

BOOL WINAPI SilentBeep(DWORD, DWORD) { return TRUE; }

// The alarm's first tone starts the report; the following tones do not, a new closure does.
TEST_F(WakeReportTest, TheFirstToneOfEachAlarmStartsOneReport) {
    g_soundSeam.beep = SilentBeep;
    ArmLidAlarm(window_, 0);
    OnAlarmTick(window_);
    ASSERT_TRUE(AwaitReport());
    OnAlarmTick(window_);
    OnAlarmTick(window_);
    Sleep(200);
    PumpMessages();
    EXPECT_EQ(g_toolRuns.size(), 1u);
    ArmLidAlarm(window_, 0);
    OnAlarmTick(window_);
    ASSERT_TRUE(AwaitReport());
    EXPECT_EQ(g_toolRuns.size(), 2u);
    StopLidAlarm(window_);
}

// Automatic protection forces the flags as before and, on today's systems, the action.
TEST_F(WakeReportTest, AutomaticProtectionTurnsDoNothingOnBatteryIntoSleep) {
    PresetPowerPolicy(PatternedPowerPolicy(3, 3));
    PresetLidCloseAction(kBalancedScheme, true, kLidCloseDoNothing);
    PresetLidCloseAction(kBalancedScheme, false, kLidCloseDoNothing);
    ApplyAutoProtection();
    EXPECT_EQ(ReadStandinPolicy().user.LidCloseDc.Flags, 0x80000004u);
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseSleep);
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, false, 99), kLidCloseDoNothing);
    ReleaseAutoProtection();
    EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseDoNothing);
}

// A run in mode 1 that ended without its teardown left our Sleep and the saved original; a
// start in the lid alarm or in neither mode puts the original back at its first tick.
TEST_F(WakeReportTest, AStartOutsideAutomaticProtectionPutsASavedActionBackAtTheFirstTick) {
    for (int mode : {kModeLidAlarm, 0}) {
        SCOPED_TRACE(mode);
        PresetLidCloseAction(kBalancedScheme, true, kLidCloseSleep);
        SetSettingRaw(kSavedLidCloseScheme, REG_BINARY, &kBalancedScheme, sizeof(kBalancedScheme));
        SetSettingDword(kSavedLidCloseAction, kLidCloseDoNothing);
        SetProtectionSettings(mode, 10);
        OnProtectionTick(window_);
        EXPECT_EQ(StandinLidCloseAction(kBalancedScheme, true, 99), kLidCloseDoNothing);
        EXPECT_FALSE(SettingExists(kSavedLidCloseScheme));
        EXPECT_FALSE(SettingExists(kSavedLidCloseAction));
    }
    SetProtectionSettings(0, 0);
}

}  // namespace
