#include "common/owner_check.h"

#include "common/scoped_handle.h"

namespace {

// The owner's SID copied out, or an empty buffer when the object has none; false when the
// owner cannot be read.
bool ReadOwner(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object, SE_OBJECT_TYPE type,
               BYTE (&sid)[SECURITY_MAX_SID_SIZE], bool* present) {
    PSID owner = nullptr;
    ScopedLocal descriptor;
    if (getSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS) {
        return false;
    }
    *present = owner != nullptr;
    return !owner || CopySid(SECURITY_MAX_SID_SIZE, sid, owner);
}

bool RunsOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

bool OwnedByAdministratorsOrSystem(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object,
                                   SE_OBJECT_TYPE type) {
    BYTE owner[SECURITY_MAX_SID_SIZE];
    bool present = false;
    if (!ReadOwner(getSecurityInfo, object, type, owner, &present) || !present) return false;
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid);
}

bool OwnerlessOnWine(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object, SE_OBJECT_TYPE type) {
    BYTE owner[SECURITY_MAX_SID_SIZE];
    bool present = true;
    return ReadOwner(getSecurityInfo, object, type, owner, &present) && !present && RunsOnWine();
}
