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

// Deletes the entry of the installation found, then its files and folder unless that folder is
// the package's own (`packageFolder`), in which the package has put its files already. A folder
// is emptied by path only where no user can have put another in its way (CheckInstallFolder).
void CompleteSetupProgramTakeOver(const SetupProgramInstall& install, const std::wstring& packageFolder,
                                  StepLog& log);

// The same for the earlier 32-bit Kalnix, whose settings key and Run value go too (its settings
// were copied into the 64-bit key while the package was installed).
void CompleteX86TakeOver(const SetupProgramInstall& install, StepLog& log);
