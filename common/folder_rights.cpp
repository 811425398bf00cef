#include "common/folder_rights.h"

namespace {

// NT SERVICE\TrustedInstaller (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464),
// the owner of Program Files and the Windows folder. Laid out as a SID with six sub-authorities.
struct TrustedInstallerSid {
    BYTE revision;
    BYTE subAuthorityCount;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthorities[6];
};
const TrustedInstallerSid kTrustedInstaller = {
    SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

ACCESS_MASK FileRights(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    MapGenericMask(&mask, &mapping);
    return mask;
}

struct OthersRights {
    ACCESS_MASK onObject = 0, onNewFolders = 0, onNewFiles = 0;
};

void AddAce(const ACE_HEADER* header, ACCESS_MASK mask, bool grantsOthers, bool grantsOthersWhenInherited,
            OthersRights* rights) {
    const ACCESS_MASK fileRights = FileRights(mask);
    if (!(header->AceFlags & INHERIT_ONLY_ACE) && grantsOthers) rights->onObject |= fileRights;
    if (!grantsOthersWhenInherited) return;
    if (header->AceFlags & CONTAINER_INHERIT_ACE) rights->onNewFolders |= fileRights;
    // Passed on by the folders created in between, for the files in them.
    if (header->AceFlags & OBJECT_INHERIT_ACE) rights->onNewFiles |= fileRights;
}

OthersRights RightsOfOthers(PACL dacl, bool ownedByAdministrators, PSID alsoAdministrator) {
    OthersRights rights;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return {FILE_ALL_ACCESS, FILE_ALL_ACCESS, FILE_ALL_ACCESS};
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            PSID sid = const_cast<DWORD*>(&ace->SidStart);
            const bool administrator = IsAdministratorSid(sid, alsoAdministrator);
            // OWNER RIGHTS stands for the owner, an administrator or refused anyway; CREATOR
            // OWNER, inherited, for setup, which creates the new items.
            const bool ownerRights = IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
            const bool creatorOwner = IsWellKnownSid(sid, WinCreatorOwnerSid);
            AddAce(header, ace->Mask, !administrator && !(ownedByAdministrators && ownerRights),
                   !administrator && !ownerRights && !creatorOwner, &rights);
            break;
        }
        case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            // Whom these grant is not read: their rights count as anyone's.
            AddAce(header, ace->Mask, true, true, &rights);
            break;
        default:
            break;
        }
    }
    return rights;
}

constexpr ACCESS_MASK kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

}  // namespace

bool IsAdministratorSid(PSID sid, PSID alsoAdministrator) {
    if (!sid || !IsValidSid(sid)) return false;
    return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           EqualSid(sid, const_cast<TrustedInstallerSid*>(&kTrustedInstaller)) ||
           (alsoAdministrator && EqualSid(sid, alsoAdministrator));
}

ObjectGrant ReadObjectGrant(PSECURITY_DESCRIPTOR descriptor, PSID alsoAdministrator) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    bool ownedByAdministrators =
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && IsAdministratorSid(owner, alsoAdministrator);
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl || !IsValidAcl(dacl))
        return {ownedByAdministrators, FILE_ALL_ACCESS, FILE_ALL_ACCESS, FILE_ALL_ACCESS};
    OthersRights rights = RightsOfOthers(dacl, ownedByAdministrators, alsoAdministrator);
    return {ownedByAdministrators, rights.onObject, rights.onNewFolders, rights.onNewFiles};
}

const wchar_t* FolderRefusal(const ObjectGrant& grant, FolderPlace place) {
    // An owner may always change the permissions.
    if (!grant.ownedByAdministrators) return L"is owned by neither Administrators, SYSTEM nor TrustedInstaller";
    struct Rule {
        ACCESS_MASK rights;
        const wchar_t* refusal;
    };
    // What lets a user put another folder, or other files, where Kalnix's are looked for.
    static const Rule kRules[] = {
        {DELETE, L"lets non-administrators delete or rename it"},
        {FILE_DELETE_CHILD, L"lets non-administrators delete or rename what it holds"},
        {WRITE_DAC, L"lets non-administrators change its permissions"},
        {WRITE_OWNER, L"lets non-administrators take ownership of it"},
    };
    for (const Rule& rule : kRules) {
        if (grant.othersRights & rule.rights) return rule.refusal;
    }
    // A drive's root lets every user create folders, none of which is on Kalnix's path.
    if (place != FolderPlace::DriveRoot && (grant.othersRights & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY)))
        return L"lets non-administrators add files or folders to it";
    if (place == FolderPlace::ExistingInstallFolder && (grant.othersRights & ~kReadAndExecute))
        return L"lets non-administrators do more than read and execute in it";
    return nullptr;
}

const wchar_t* InheritanceRefusal(const ObjectGrant& grant, bool createsFolders) {
    const ACCESS_MASK passed = grant.othersRightsOnNewFiles | (createsFolders ? grant.othersRightsOnNewFolders : 0);
    if (passed & ~kReadAndExecute)
        return L"passes on to what is created in it more than read and execute for non-administrators";
    return nullptr;
}
