#include "common/power_library.h"

#include "common/system_library.h"

namespace {

template <class Function>
void Resolve(HMODULE library, Function* function, const char* name) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

PowerFunctions ResolvePowerLibrary() {
    PowerFunctions table = {};
    table.missingError = ERROR_PROC_NOT_FOUND;
    HMODULE library = LoadSystemLibrary(L"powrprof.dll");  // never freed: the table points into it
    if (!library) {
        table.missingError = GetLastError();
        return table;
    }
    Resolve(library, &table.readGlobalPwrPolicy, "ReadGlobalPwrPolicy");
    Resolve(library, &table.writeGlobalPwrPolicy, "WriteGlobalPwrPolicy");
    Resolve(library, &table.getActivePwrScheme, "GetActivePwrScheme");
    Resolve(library, &table.setActivePwrScheme, "SetActivePwrScheme");
    Resolve(library, &table.callNtPowerInformation, "CallNtPowerInformation");
    Resolve(library, &table.setSuspendState, "SetSuspendState");
    Resolve(library, &table.getPwrCapabilities, "GetPwrCapabilities");
    Resolve(library, &table.getActiveScheme, "PowerGetActiveScheme");
    Resolve(library, &table.setActiveScheme, "PowerSetActiveScheme");
    Resolve(library, &table.readAc, "PowerReadACValueIndex");
    Resolve(library, &table.readDc, "PowerReadDCValueIndex");
    Resolve(library, &table.writeDc, "PowerWriteDCValueIndex");
    Resolve(library, &table.accessCheck, "PowerSettingAccessCheck");
    return table;
}

}  // namespace

const PowerFunctions& PowerLibrary() {
    static const PowerFunctions table = ResolvePowerLibrary();
    return table;
}

BOOLEAN MissingPowerFunction() {
    SetLastError(PowerLibrary().missingError);
    return FALSE;
}
