#include "common/accessible_role.h"

#include "common/com_library.h"
#include "common/seam_shell.h"

namespace {

// Runs `use` on the property services with COM up on this thread for the call only; the
// object is released before COM ends, on every path.
template <class Use>
HRESULT WithPropServices(Use use) {
    const ComFunctions& com = Com();
    if (!com.initialize) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComScope scope(com);
    if (!scope.Usable()) return CO_E_NOTINITIALIZED;
    ComRef<IAccPropServices> services;
    HRESULT result = g_shellSeam.createAccPropServices(services.put());
    if (FAILED(result)) return result;
    if (!services.get()) return E_POINTER;
    return use(services.get());
}

}  // namespace

HRESULT AnnotateRole(HWND window, LONG role) {
    return WithPropServices([&](IAccPropServices* services) {
        VARIANT value = {};
        value.vt = VT_I4;
        value.lVal = role;
        return services->SetHwndProp(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_ROLE, value);
    });
}

HRESULT ClearRoleAnnotation(HWND window) {
    return WithPropServices([&](IAccPropServices* services) {
        MSAAPROPID role = PROPID_ACC_ROLE;
        return services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &role, 1);
    });
}

HRESULT AnnotateName(HWND window, const wchar_t* name) {
    return WithPropServices([&](IAccPropServices* services) {
        return services->SetHwndPropStr(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, name);
    });
}

HRESULT ClearNameAnnotation(HWND window) {
    return WithPropServices([&](IAccPropServices* services) {
        MSAAPROPID name = PROPID_ACC_NAME;
        return services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name, 1);
    });
}
