#pragma once

#include <windows.h>

#include "common/scheme_setting_guard.h"  // ReadActiveSchemeSetting, which readers of the action use
#include "common/setting_table.h"

// The lid-close action of the active power scheme (Windows Vista and later), beside the
// legacy lid-close flags of the global policy, which those systems ignore.

// GUID_SYSTEM_BUTTON_SUBGROUP and GUID_LIDCLOSE_ACTION, spelled out so that no object has to
// define the header's GUIDs.
constexpr GUID kButtonSubgroup = {0x4f971e89, 0xeebd, 0x4455, {0xa8, 0xde, 0x9e, 0x59, 0x04, 0x0e, 0x73, 0x47}};
constexpr GUID kLidCloseSetting = {0x5ca83367, 0x6e45, 0x459f, {0xa2, 0x7b, 0x47, 0x6b, 0x1d, 0x01, 0xc9, 0x36}};

// Values of the lid-close action.
constexpr DWORD kLidCloseDoNothing = 0;
constexpr DWORD kLidCloseSleep = 1;

// The settings values that keep the user's on-battery action while Kalnix has replaced it:
// the scheme (REG_BINARY, 16 bytes) and the action (REG_DWORD).
constexpr const wchar_t* kSavedLidCloseScheme = SettingName(SettingId::LidCloseScheme);
constexpr const wchar_t* kSavedLidCloseAction = SettingName(SettingId::LidCloseAction);
// The action Kalnix wrote in its place (REG_DWORD), stored once the write succeeded: only that
// value is taken back. Saved values without it come from an earlier Kalnix, which wrote Sleep.
constexpr const wchar_t* kWrittenLidCloseAction = SettingName(SettingId::LidCloseWritten);

// Reads the active scheme's lid-close action for battery or mains power. Logs nothing (it
// also runs off the main thread): returns ERROR_SUCCESS or the failed call's error, and
// names that call in *failedCall ("PGAS", "PRDVI", ...).
DWORD ReadLidCloseAction(bool onBattery, DWORD* action, const wchar_t** failedCall);

// Automatic protection: when the active scheme's action on battery is Do nothing, saves the
// scheme and the action in the settings key (unless already saved) and sets it to Sleep. The
// action on mains power is left alone. An administrator's lock is logged and respected.
void EnforceLidCloseSleep();

// Puts a saved on-battery action back into its scheme, unless the user has chosen another
// action since, and deletes the saved values. True when nothing was saved or it was put back.
bool RestoreLidCloseAction();
