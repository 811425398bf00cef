#pragma once

#include <windows.h>

#include "common/setting_list.h"
#include "common/setting_table.h"

// Whether a device may wake the laptop, switched the way an administrator switches it with
// Windows' power tool: "powercfg /devicedisablewake <name>" and "/deviceenablewake <name>",
// the device named as Windows shows it (powercfg /devicequery). Kalnix records every device
// it kept from waking the laptop, and only those are ever allowed to wake it again by Kalnix.

// The devices Kalnix kept from waking the laptop, to be put back (REG_MULTI_SZ).
constexpr const wchar_t* kDisarmedWakeDevicesValue = SettingName(SettingId::DisarmedWakeDevices);

// How the tool is started: CreateProcessW, or what the caller stands in for it.
using ToolStarter = decltype(&::CreateProcessW);

// A name the tool can be handed as one argument: it fits a list and holds no quote or
// control character.
bool ToolTakesDeviceName(const wchar_t* device);

// Runs the tool by full path from System32, hidden, and waits at most 15 s for it.
// ERROR_SUCCESS when it ended with exit code 0; ERROR_INVALID_NAME for a name the tool cannot
// be handed (empty, too long for a list, or holding a quote or a control character, which
// would end the argument); ERROR_BAD_COMMAND when the tool answered with another exit code
// (a device it does not know); else the failed call's error, named in *failedCall.
DWORD SwitchDeviceWake(const wchar_t* device, bool allowed, ToolStarter start, const wchar_t** failedCall);

// Allows every recorded device to wake the laptop again, logging each and reporting it as
// an event; the record keeps those the tool refused. True when none is left.
bool RestoreDeviceWake(ToolStarter start);
