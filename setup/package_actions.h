#pragma once

#include <windows.h>

#include <msi.h>

// The custom actions of the Windows Installer packages (KalnixSetup-<arch>.msi): DLL actions
// taking the installer's handle and returning ERROR_SUCCESS or ERROR_INSTALL_FAILURE (which
// makes msiexec end with 1603 and roll back). They do what the setup program does, with the
// same library calls and log lines. Every action that changes the system is deferred and runs
// without impersonation (as SYSTEM on Windows), reading only its CustomActionData, which
// PlanKalnixPackage composes; each is undone by the rollback action scheduled before it. None
// is a commit action: Windows Installer runs no commit action while rollback is disabled. On
// x86 they are exported as _Name@4, like the library's other exports.
extern "C" {
// Immediate, after InstallValidate, changes nothing: refuses a bad MODE or ALARMTIME (the log
// names the property), drops both from a repair a standard user runs, notes what the
// installation finds (settings, event source, the setup program's installation) and hands
// every deferred action its data.
UINT __stdcall PlanKalnixPackage(MSIHANDLE install);

// First of every run (installation, repair, removal): the log's first line, then the protection
// service stopped (not at a repair), which puts back the power settings it changed, before any
// Kalnix.exe is ended or replaced. Undone: started again when it ran.
UINT __stdcall StopKalnixService(MSIHANDLE install);
UINT __stdcall StartKalnixServiceAgain(MSIHANDLE install);

// Installation, in this order:
// The log folder made safe, the install folder checked (inside Program Files) or secured
// (elsewhere) as the setup program's, and a running Kalnix ended (not at a repair). Undone: a
// folder it created.
UINT __stdcall SecureKalnixFolder(MSIHANDLE install);
UINT __stdcall UndoKalnixFolder(MSIHANDLE install);
// The settings key: what it held kept, the 32-bit Kalnix's settings taken over, the first values
// of missing ones, MODE and ALARMTIME written; the user's lid-close flags saved unless saved
// before. Undone: the key exactly as it was.
UINT __stdcall WriteKalnixSettings(MSIHANDLE install);
UINT __stdcall UndoKalnixSettings(MSIHANDLE install);
// Start at log-on: the task, or the Run value, after keeping what there was as the run's
// rollback record. Undone: as it was.
UINT __stdcall RegisterKalnixStart(MSIHANDLE install);
UINT __stdcall UndoKalnixStart(MSIHANDLE install);
// The event source. Undone: as it was.
UINT __stdcall RegisterKalnixEvents(MSIHANDLE install);
UINT __stdcall UndoKalnixEvents(MSIHANDLE install);
// The protection service registered for the installed Kalnix.exe (an earlier registration
// pointed here, at a repair too) and started, once the files, the settings and the event source
// are in place. Undone: the service as it was.
UINT __stdcall InstallKalnixService(MSIHANDLE install);
UINT __stdcall UndoKalnixService(MSIHANDLE install);
// After the product is registered: the setup program's (or the earlier 32-bit Kalnix's) entry
// removed and its files moved into the log folder. Undone: entries, 32-bit settings and Run
// value, and files put back.
UINT __stdcall CompleteKalnixTakeOver(MSIHANDLE install);
UINT __stdcall UndoKalnixTakeOver(MSIHANDLE install);
// Last: the files a take-over kept deleted, and Kalnix started through the log-on task for the
// user of msiexec's session where the protection service does not run (it starts Kalnix in
// every session itself). Undone: the service stopped and the Kalnix of the install folder ended
// (not at a repair).
UINT __stdcall StartKalnixForUser(MSIHANDLE install);
UINT __stdcall EndStartedKalnix(MSIHANDLE install);

// Removal (also when a newer package replaces this one): the running Kalnix ended.
UINT __stdcall StopKalnix(MSIHANDLE install);
// Removal: the task and the Run value deleted, after keeping what there was as the run's
// rollback record; when either is left, the removal fails and nothing is removed. Undone: the
// one there was put back.
UINT __stdcall RemoveKalnixStart(MSIHANDLE install);
UINT __stdcall RestoreKalnixStart(MSIHANDLE install);
// Removal: the protection service deleted, after keeping what it was as the run's rollback
// record; when it is left, the removal fails and nothing is removed. Undone: registered again.
UINT __stdcall RemoveKalnixService(MSIHANDLE install);
UINT __stdcall PutBackKalnixService(MSIHANDLE install);
// Removal: the user's power settings put back (kept saved when they cannot be); the lid-sensor
// driver that a setup program's installation taken over brought, the event source and the
// settings key removed. Undone: the settings key and the event source as they were.
UINT __stdcall RemoveKalnixSettings(MSIHANDLE install);
UINT __stdcall PutBackKalnixSettings(MSIHANDLE install);

// For the setup program: true when a package of the upgrade code `upgradeCode` is installed,
// with its product code in `productCode` (room for `productCodeChars`, 39 needed).
bool __stdcall MsiPackageInstalled(const wchar_t* upgradeCode, wchar_t* productCode, unsigned long productCodeChars);
}
