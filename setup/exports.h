#pragma once

// The exports of KalnixCA.dll, resolved by the setup program through their decorated
// stdcall names (_Name@N). Each returns a one-byte bool; SavePowerSettings and
// RestorePowerSettings come from common/power_guard.h.
extern "C" {
bool __stdcall InstallDriverAndStart(const wchar_t* driverPath);
bool __stdcall RemoveDriver();
bool __stdcall TerminateUIProcess();
bool __stdcall InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command);
bool __stdcall SetRunKey(const wchar_t* command);
bool __stdcall DeleteRunKey();
// Creates `folder` writable by administrators only, or makes an existing one so.
bool __stdcall SecureFolder(const wchar_t* folder);
}
