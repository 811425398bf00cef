#pragma once

#include <windows.h>

// Kalnix's rights in this process, and a start of Kalnix with an administrator's rights.

// True when this process's token is elevated (or User Account Control is off for an
// administrator): it may write the settings key.
bool RunsElevated();
// True for an administrator's token that User Account Control has limited: Windows would
// elevate it after asking.
bool RunsAsLimitedAdministrator();
// Starts this Kalnix.exe again with `arguments`, asking for an administrator's rights the way
// Windows does (the consent or credentials prompt). False when it was refused or cancelled.
bool StartKalnixElevated(HWND owner, const wchar_t* arguments);
