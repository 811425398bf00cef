#pragma once

#include <windows.h>

// What a folder's or a file's security descriptor lets anyone but an administrator do to it.
// Administrators are the group Administrators, SYSTEM and TrustedInstaller; every other SID
// counts as a standard user's: Authenticated Users, Users, Everyone, a user's own SID, and
// CREATOR OWNER where it takes effect.
struct ObjectGrant {
    bool ownedByAdministrators;
    // Rights on the object itself, generic ones mapped to the file rights they stand for.
    ACCESS_MASK othersRights;
    // Rights its inheritable entries give on the folders and the files created below it, those
    // that pass only to them (inherit-only) included. CREATOR OWNER there stands for whoever
    // creates them: setup, an administrator.
    ACCESS_MASK othersRightsOnNewFolders;
    ACCESS_MASK othersRightsOnNewFiles;
};

// `alsoAdministrator`, when not null, counts as an administrator as well (Wine's one user).
bool IsAdministratorSid(PSID sid, PSID alsoAdministrator);

// Read from the owner and the DACL of `descriptor`. An ACE that only passes to what the folder
// holds counts only for what is created in it: what exists is judged on its own. Denying ACEs
// are not relied on (one may miss a user that an allowing ACE reaches), and no DACL at all lets
// everyone do everything.
ObjectGrant ReadObjectGrant(PSECURITY_DESCRIPTOR descriptor, PSID alsoAdministrator);

// Where a folder lies on the path to Kalnix's folder.
enum class FolderPlace {
    DriveRoot,              // every user may create folders there
    AboveInstallFolder,     // a folder the install folder lies in
    ExistingInstallFolder,  // the install folder itself, found already there
};

// Why such a folder is refused, as words that follow its path in a log line ("lets
// non-administrators delete or rename it"); null when Kalnix may use it.
const wchar_t* FolderRefusal(const ObjectGrant& grant, FolderPlace place);

// Why a folder in which setup creates what inherits its entries is refused: the rest of Kalnix's
// path (`createsFolders`: its folders, then Kalnix.exe), or Kalnix.exe alone. Null when what is
// created there gives others no more than read and execute.
const wchar_t* InheritanceRefusal(const ObjectGrant& grant, bool createsFolders);
