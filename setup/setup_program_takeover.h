#pragma once

#include <string>

#include "setup/step_log.h"

// An installation the setup program made (KalnixSetup-<arch>.exe), which a package takes over
// so that one installation is left: the user's settings and saved power settings stay, its
// Apps & Features entry "Kalnix" and its files go, once the package is installed.

struct SetupProgramInstall {
    bool found = false;
    std::wstring folder;  // "" when its entry names none
};

// Its entry in this library's registry view (the package's own architecture).
SetupProgramInstall FindSetupProgramInstall();

// An earlier 32-bit Kalnix on 64-bit Windows, found as the 64-bit setup program finds it: its
// entry in the 32-bit registry view, its files in `programFilesX86`\Kalnix, or its settings.
SetupProgramInstall FindEarlierX86Install(const std::wstring& programFilesX86);

// Which of the two a take-over works on: the files each one's folder gives up are kept in a
// subfolder of this name of the keeping folder.
enum class TakenOver { SetupProgram, X86 };

// Deletes the entry of the installation found, then moves its files out of its folder into
// `keep` (a folder only administrators can write, "" to delete them at once), except from the
// package's own folder (`packageFolder`), into which the package has put its files already,
// where only the uninstaller goes. A folder is emptied by path only where no user can have
// put another in its way (CheckInstallFolder). The emptied folder stays until
// DiscardTakenOverFiles.
void CompleteSetupProgramTakeOver(const SetupProgramInstall& install, const std::wstring& packageFolder,
                                  const std::wstring& keep, StepLog& log);

// The same for the earlier 32-bit Kalnix, whose settings key and Run value go too (its settings
// were copied into the 64-bit key while the package was installed).
void CompleteX86TakeOver(const SetupProgramInstall& install, const std::wstring& keep, StepLog& log);

// A rollback: the files kept in `keep` go back into `folder`.
void PutBackTakenOverFiles(TakenOver which, const std::wstring& folder, const std::wstring& keep);

// The installation is done: the kept files are deleted, and `folder` too when it is empty and
// not the package's own.
void DiscardTakenOverFiles(TakenOver which, const std::wstring& folder, const std::wstring& packageFolder,
                           const std::wstring& keep);
