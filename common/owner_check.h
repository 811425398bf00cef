#pragma once

#include <windows.h>
#include <aclapi.h>

// Whether an object (a folder, a kernel object) is owned by Administrators or SYSTEM, as
// everything an elevated Kalnix trusts must be. The owner is read through `getSecurityInfo`,
// the caller's replaceable call; an owner that cannot be read counts as foreign.
bool OwnedByAdministratorsOrSystem(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object,
                                   SE_OBJECT_TYPE type);

// True when the object has no owner at all while this runs on Wine: Windows gives every object
// one, Wine gives none to most kernel objects. A caller may take such an object there.
bool OwnerlessOnWine(decltype(&::GetSecurityInfo) getSecurityInfo, HANDLE object, SE_OBJECT_TYPE type);
