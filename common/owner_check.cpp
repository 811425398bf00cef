#include "common/owner_check.h"

#include "common/scoped_handle.h"

bool OwnedByAdministratorsOrSystem(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object,
                                   SE_OBJECT_TYPE type) {
    PSID owner = nullptr;
    ScopedLocal descriptor;
    if (getSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS) {
        return false;
    }
    return owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
}
