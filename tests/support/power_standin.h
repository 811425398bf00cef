#pragma once

#include <windows.h>
#include <powrprof.h>

#include <string>
#include <vector>

// The stand-in powrprof.dll built into tests/bin and put into the test prefix's system32. Its
// state lives in the prefix's registry (HKLM\Software\KalnixTest\PowerProfile), shared by
// every process of the prefix.

// Forgets the policy, the scheme, the failures and the call log. Without a preset policy
// ReadGlobalPwrPolicy fails with error 2, like Wine's own library.
void ClearPowerStandin();
void PresetPowerPolicy(const GLOBAL_POWER_POLICY& policy);
// The stored policy; all zero (and *present false) when none is stored.
GLOBAL_POWER_POLICY ReadStandinPolicy(bool* present = nullptr);
// A policy whose every byte differs from its neighbours', with the given lid-close flags, so
// that a change to any other member shows.
GLOBAL_POWER_POLICY PatternedPowerPolicy(DWORD lidCloseAcFlags, DWORD lidCloseDcFlags);

// Makes `function` ("ReadGlobalPwrPolicy", "WriteGlobalPwrPolicy", "GetActivePwrScheme",
// "SetActivePwrScheme") fail with last error `code`; 0 lets it succeed again.
void FailPowerCall(const wchar_t* function, DWORD code);
void SetStandinActiveScheme(UINT index);
UINT StandinActiveScheme();

// Calls made so far, in order: the function's name, and for SetActivePwrScheme its index
// ("SetActivePwrScheme 3"), followed by " with policies" when a policy pointer was passed.
std::vector<std::wstring> PowerCallLog();
void ClearPowerCallLog();
// True once the log holds a SetSuspendState call, within `timeoutMs` (0: already).
bool SuspendRequested(DWORD timeoutMs);

// The scheme functions (PowerGetActiveScheme and the value-index calls). Without a preset the
// active scheme is Balanced and every value reads as 1 (Sleep). Their calls are logged as
// "PowerGetActiveScheme", "PowerReadDCValueIndex {scheme}", "PowerWriteDCValueIndex {scheme} 1",
// "PowerSetActiveScheme {scheme}", "PowerSettingAccessCheck 1 {setting}" (lower-case GUIDs).
extern const GUID kBalancedScheme;
void SetStandinActiveSchemeGuid(const GUID& scheme);
GUID StandinActiveSchemeGuid();
void PresetLidCloseAction(const GUID& scheme, bool onBattery, DWORD action);
void PresetSchemeSetting(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool onBattery, DWORD value);
// The stored value of a scheme's setting; `fallback` when none was written.
DWORD StandinSchemeSetting(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool onBattery,
                           DWORD fallback);
// The stored lid-close action; `fallback` when none was written.
DWORD StandinLidCloseAction(const GUID& scheme, bool onBattery, DWORD fallback);
// "{381b4222-f694-41f0-9685-ff5bb260df2e}", as the call log writes GUIDs.
std::wstring GuidText(const GUID& guid);
// An administrator's lock on the power settings: PowerSettingAccessCheck answers
// ERROR_ACCESS_DENIED while it is set.
void LockPowerSettings(bool locked);

// What a program logs at start of the stand-in's machine (an S3 laptop without hibernation).
constexpr const char* kSleepLines = "Sleep: S3\r\nHibernation: not available\r\n";
