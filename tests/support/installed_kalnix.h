#pragma once

#include <windows.h>

#include <string>

// What the installer tests read of an installed Kalnix in their fresh prefix: its folders and
// logs, machine-wide registry values, the log-on task and the stand-in power library's
// lid-close flags.

// %ProgramFiles%\Kalnix, the default install folder.
std::wstring InstallDir();
// %ProgramData%\Kalnix, the setup logs' folder, and the two logs in it.
std::wstring LogFolder();
std::wstring SetupLog();
std::wstring UninstallLog();

// A string value under HKLM, unexpanded, with its type; "<missing>" when there is none.
std::wstring ReadMachineString(const std::wstring& key, const wchar_t* value, DWORD* type = nullptr);
bool MachineKeyExists(const std::wstring& key);

// The task "Kalnix", as Wine's Task Scheduler stores it (its query answers 0 for any name).
bool TaskRegistered();

struct LidFlags {
    DWORD ac, dc;
    bool operator==(const LidFlags& o) const { return ac == o.ac && dc == o.dc; }
};
// The user's own flags before installation, and what automatic protection makes of them.
constexpr LidFlags kUserFlags = {POWER_ACTION_QUERY_ALLOWED | POWER_ACTION_UI_ALLOWED, POWER_ACTION_QUERY_ALLOWED};
constexpr LidFlags kForcedFlags = {0x80000004, 0x80000004};
LidFlags ReadLidFlags();
// The stand-in's policy as the user had it before installation, byte for byte.
void PresetUserPolicy();
bool PolicyIsTheUsers();

// Wine's Task Scheduler runs no task: a test that needs Kalnix running starts the installed
// one itself, as the log-on task would, and waits for its tray window.
void StartKalnixAsTheTaskWould(const std::wstring& folder = InstallDir());
