#pragma once

// Include this instead of <powrprof.h>, which has no include guard.
#include <windows.h>
#include <powrprof.h>

// The functions of the power profile library that Kalnix and KalnixCA.dll call. powrprof.dll
// is no KnownDLL, so it is not imported: it is loaded from System32 at the first use (see
// common/system_library.h) and kept for the life of the process. An entry is null where the
// library lacks the function (older Windows, Wine's own library) or did not load.
struct PowerFunctions {
    decltype(&::ReadGlobalPwrPolicy) readGlobalPwrPolicy;
    decltype(&::WriteGlobalPwrPolicy) writeGlobalPwrPolicy;
    decltype(&::GetActivePwrScheme) getActivePwrScheme;
    decltype(&::SetActivePwrScheme) setActivePwrScheme;
    decltype(&::CallNtPowerInformation) callNtPowerInformation;
    decltype(&::SetSuspendState) setSuspendState;
    decltype(&::GetPwrCapabilities) getPwrCapabilities;
    decltype(&::PowerGetActiveScheme) getActiveScheme;
    decltype(&::PowerSetActiveScheme) setActiveScheme;
    decltype(&::PowerReadACValueIndex) readAc;
    decltype(&::PowerReadDCValueIndex) readDc;
    decltype(&::PowerWriteDCValueIndex) writeDc;
    decltype(&::PowerSettingAccessCheck) accessCheck;
    // Why an entry is null: ERROR_PROC_NOT_FOUND, or the reason the library did not load.
    DWORD missingError;
};

// The table, resolved at the first call.
const PowerFunctions& PowerLibrary();

// Fails as a call of the library's BOOLEAN functions fails: FALSE, with the reason the
// function is missing as the thread's last error.
BOOLEAN MissingPowerFunction();
