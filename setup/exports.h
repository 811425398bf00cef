#pragma once

// The exports of KalnixCA.dll, resolved by the setup program through their decorated
// stdcall names (_Name@N) on x86 and their plain names on x64. Each takes wide strings and
// returns a one-byte bool; SavePowerSettings and RestorePowerSettings come from
// common/power_guard.h, TaskIsRegistered from setup/task_query.h.
extern "C" {
bool __stdcall InstallDriverAndStart(const wchar_t* driverPath);
bool __stdcall RemoveDriver();
bool __stdcall TerminateUIProcess();
bool __stdcall InstallKalnixTask(const wchar_t* taskFilePath, const wchar_t* command);
bool __stdcall SetRunKey(const wchar_t* command);
bool __stdcall DeleteRunKey();
// Creates `folder` writable by administrators only, or makes an existing one so (the task
// definition's folder; Kalnix's own folder goes through SecureInstallFolder).
bool __stdcall SecureFolder(const wchar_t* folder);
// Kalnix's folder and every folder above it, each opened by its name in the one above (never
// through a junction or link) from the drive's root down: none may let anyone but
// administrators delete, rename, replace or write it or what it holds, none may be the users'
// profiles folder, and the drive must be a fixed one that keeps permissions. An existing
// install folder must also give others no more than read and execute, and hold only Kalnix's
// files, owned by administrators, each with one name. When refused, `reason` (room for
// `reasonChars` characters, terminator included) names the folder and says why.
// SecureInstallFolder creates what is missing administrators-only (kSafeFolderSddl) and gives
// an existing install folder those permissions; CheckInstallFolder changes nothing and takes
// what is missing as new.
bool __stdcall SecureInstallFolder(const wchar_t* folder, wchar_t* reason, unsigned long reasonChars);
bool __stdcall CheckInstallFolder(const wchar_t* folder, wchar_t* reason, unsigned long reasonChars);

// Ends every running process whose image is `kalnixPath` (any case) with exit code 0,
// waiting up to 5 s for each. Run as SYSTEM, TerminateUIProcess cannot see the user's tray
// window, and a running Kalnix.exe could be neither replaced nor removed. False when the
// processes cannot be listed or one of them cannot be ended.
bool __stdcall EndInstalledKalnix(const wchar_t* kalnixPath);
// True when the calling process runs as LocalSystem (a deployment tool).
bool __stdcall IsLocalSystem();
// True when the settings key holds the value `name`, of any type.
bool __stdcall SettingExists(const wchar_t* name);
// True when the settings key holds any of the user's power settings saved to be put back
// (the lid-close flags, or a lid-close action or hibernate-after timeout that automatic
// protection replaced), or one of them cannot be read. RestorePowerSettings also fails when
// none was ever saved: the uninstaller asks this to tell the two apart.
bool __stdcall PowerSettingsAreSaved();
// Creates or replaces `taskFilePath` with the head of the task "Kalnix" (UTF-16LE with its
// byte-order mark), to be completed by InstallKalnixTask.
bool __stdcall WriteTaskHead(const wchar_t* taskFilePath);
// The 64-bit setup program over an earlier 32-bit Kalnix: copies each value of the 32-bit
// view's settings key that the 64-bit key lacks (the saved lid-close settings among them,
// which may be forced by now and must not be saved anew), then deletes the 32-bit key. True
// when there was none, or it was taken over and deleted.
bool __stdcall TakeOverX86Settings();
}
