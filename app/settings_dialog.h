#pragma once

#include <windows.h>

// The alarm delays the settings dialog accepts, in seconds.
constexpr int kMinAlarmDelay = 5;
constexpr int kMaxAlarmDelay = 60;

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
