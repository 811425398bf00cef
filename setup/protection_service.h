#pragma once

#include <windows.h>

#include <string>

// The protection service "KalnixProtection": Kalnix.exe run by the service control manager as
// LocalSystem, started with Windows, restarted when it fails. Only administrators and SYSTEM may
// stop, start or change it; interactive users may ask its state (the face in each session does).

// The service's access rights in SDDL: SYSTEM may run it, administrators may do anything,
// interactive and service logons may query it and nothing more.
constexpr const wchar_t* kProtectionServiceSddl =
    L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";

// How long a start or a stop may take before the caller gives up on it. A stop puts the power
// settings back first.
constexpr DWORD kServiceStateWaitMs = 30000;

extern "C" {
// Registers the service for `kalnixExe` (the installed Kalnix.exe), or points an existing one at
// it with the same configuration: automatic start, restart on failure, its description, its
// privileges and its permissions. Does not start it.
bool __stdcall InstallProtectionService(const wchar_t* kalnixExe);
// Starts the service and waits until it runs; true also when it ran already.
bool __stdcall StartProtectionService();
// Stops the service and waits until it has stopped (it puts back what it changed); true also
// when it is not installed or not running.
bool __stdcall StopProtectionService();
// Stops and deletes the service; true when it is gone (or was never there).
bool __stdcall RemoveProtectionService();
// True when the service is registered.
bool __stdcall ProtectionServiceInstalled();
}

// The service as it stands, read as SYSTEM by the packages' actions before they change it, so
// that their rollback puts back exactly that: registered or not, running or not, and the
// Kalnix.exe it runs ("" when its command is not the one InstallProtectionService writes).
struct ProtectionServiceState {
    bool installed = false;
    bool running = false;
    std::wstring kalnixExe;
};
ProtectionServiceState ReadProtectionServiceState();
