#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// Every service whose command runs a Kalnix.exe, with its state and process; Wine starts no
// Kalnix in a session for the service, so any other Kalnix.exe is one a setup left running.
struct KalnixService {
    std::wstring name, command;
    DWORD state, processId;
};
std::vector<KalnixService> KalnixServices();
// Expects exactly one such service: "KalnixProtection", running `folder`\Kalnix.exe. Its
// process id, or 0.
DWORD ExpectOneProtectionService(const std::wstring& folder);
// What an installation made before the protection service leaves: everything but the service,
// which is stopped and deleted here.
void TakeTheProtectionServiceAway();
// Wine's service manager does not pass the test's environment on: the stand-in power library
// is chosen for the service in the prefix's registry.
void LetServicesUseThePowerStandin();

// The program that the Start menu entry "Kalnix" of `programs` (CSIDL_COMMON_PROGRAMS for every
// user, CSIDL_PROGRAMS) starts; "<missing>" without one.
std::wstring StartMenuEntryTarget(int programs);

// Wine's Task Scheduler runs no task: a test that needs Kalnix running starts the installed
// one itself, as the log-on task would, and waits for its tray window.
void StartKalnixAsTheTaskWould(const std::wstring& folder = InstallDir());
