// Who counts as an administrator in a folder's descriptor, which ACEs count, and what a folder
// may grant others at each place on the path to Kalnix's folder. Descriptors in SDDL.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>

#include "common/folder_rights.h"

namespace {

#define KALNIX_TRUSTED_INSTALLER L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
#define KALNIX_WINE_USER L"S-1-5-21-0-0-0-1000"

// C:\ as Windows sets it up: every signed-in user may create folders there, and gets Modify on
// what they create.
const wchar_t kDriveRoot[] =
    L"O:SYD:(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;BA)(A;;FA;;;BA)"
    L"(A;OICI;0x1200a9;;;BU)";
// Program Files: TrustedInstaller's, read and execute for users and app packages.
const wchar_t kProgramFiles[] =
    L"O:" KALNIX_TRUSTED_INSTALLER L"D:PAI(A;;FA;;;" KALNIX_TRUSTED_INSTALLER L")(A;CIIO;GA;;;" KALNIX_TRUSTED_INSTALLER
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";

const wchar_t kDeletes[] = L"lets non-administrators delete or rename it";

std::wstring Refusal(const wchar_t* sddl, FolderPlace place, const wchar_t* alsoAdministrator) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return L"<bad SDDL>";
    PSID also = nullptr;
    if (alsoAdministrator) ConvertStringSidToSidW(alsoAdministrator, &also);
    const wchar_t* refusal = FolderRefusal(ReadObjectGrant(descriptor, also), place);
    LocalFree(also);
    LocalFree(descriptor);
    return refusal ? refusal : L"<accepted>";
}

TEST(FolderRights, RefuseWhateverLetsOthersReplaceOrWriteAFolderOnThePath) {
    const FolderPlace root = FolderPlace::DriveRoot, above = FolderPlace::AboveInstallFolder,
                      existing = FolderPlace::ExistingInstallFolder;
    struct Case {
        const char* what;
        const wchar_t* sddl;
        FolderPlace place;
        const wchar_t* refusal;  // null: accepted
        const wchar_t* alsoAdministrator;
    } cases[] = {
        {"a drive's root, where users may create folders", kDriveRoot, root, nullptr, nullptr},
        {"below the root, creating folders is refused", kDriveRoot, above,
         L"lets non-administrators add files or folders to it", nullptr},
        {"Program Files", kProgramFiles, above, nullptr, nullptr},
        {"a user's folder", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", above,
         L"is owned by neither Administrators, SYSTEM nor TrustedInstaller", nullptr},
        {"Everyone may change its permissions", L"O:BAD:(A;;0x1600a9;;;WD)", above,
         L"lets non-administrators change its permissions", nullptr},
        {"Interactive users may take ownership", L"O:BAD:(A;;0x1a00a9;;;IU)", above,
         L"lets non-administrators take ownership of it", nullptr},
        {"a user's own SID, generic all", L"O:BAD:(A;;GA;;;S-1-5-21-1-2-3-1001)", above, kDeletes, nullptr},
        {"CREATOR OWNER where it takes effect", L"O:BAD:(A;;FA;;;CO)", above, kDeletes, nullptr},
        {"only for what the folder holds", L"O:BAD:(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;AU)", above, nullptr, nullptr},
        {"a denial is not relied on", L"O:BAD:(D;;SD;;;AU)(A;;0x1301bf;;;AU)", above, kDeletes, nullptr},
        {"no DACL at all", L"O:BA", above, kDeletes, nullptr},
        {"OWNER RIGHTS of an administrators' folder", L"O:BAD:(A;;FA;;;S-1-3-4)", above, nullptr, nullptr},
        {"an existing install folder: read and execute", L"O:BAD:(A;;FA;;;BA)(A;;GRGX;;;BU)", existing, nullptr,
         nullptr},
        {"Wine's one user, named an administrator",
         L"O:" KALNIX_WINE_USER L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" KALNIX_WINE_USER L")(A;OICI;0x1200a9;;;WD)",
         existing, nullptr, KALNIX_WINE_USER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.refusal ? c.refusal : L"<accepted>", Refusal(c.sddl, c.place, c.alsoAdministrator));
    }
}

// What a folder passes on to the folders and files setup creates in it, inherit-only entries
// included; CREATOR OWNER there is setup itself.
TEST(FolderRights, CountWhatAFolderPassesOnToWhatIsCreatedInIt) {
    struct Case {
        const char* what;
        const wchar_t* sddl;
        bool createsFolders;
        bool refused;
    } cases[] = {
        {"Program Files", kProgramFiles, true, false},
        {"Users: Modify, subfolders and files only", L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;0x1301bf;;;BU)",
         true, true},
        {"Users: Modify, files only, for Kalnix.exe", L"O:BAD:(A;;FA;;;BA)(A;OIIO;0x1301bf;;;BU)", false, true},
        {"Users: Modify, subfolders only, for Kalnix.exe alone", L"O:BAD:(A;;FA;;;BA)(A;CIIO;0x1301bf;;;BU)", false,
         false},
        {"Users: Modify, subfolders only, for new folders", L"O:BAD:(A;;FA;;;BA)(A;CIIO;0x1301bf;;;BU)", true, true},
        {"Authenticated Users: generic write, inherited by everything", kDriveRoot, true, true},
        {"CREATOR OWNER: full control, inherit-only", L"O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;CO)", true, false},
        {"a user's own SID on the folder alone", L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr));
        const wchar_t* refusal = InheritanceRefusal(ReadObjectGrant(descriptor, nullptr), c.createsFolders);
        LocalFree(descriptor);
        EXPECT_EQ(c.refused ? L"passes on to what is created in it more than read and execute for non-administrators"
                            : L"<accepted>",
                  std::wstring(refusal ? refusal : L"<accepted>"));
    }
}

}  // namespace
