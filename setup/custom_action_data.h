#pragma once

#include <string>

#include "common/setting_table.h"

// What the package's planning action hands each deferred action: "name=value" fields joined by
// '|', a character no Windows path, number or settings text holds. A deferred action sees no
// property but its CustomActionData, so everything it needs travels this way.
constexpr wchar_t kFieldSeparator = L'|';

// Appends the field; false (and `data` unchanged) when the value holds the separator.
bool AppendField(std::wstring* data, const wchar_t* name, const std::wstring& value);

// The value of the field `name`, or "" when there is none.
std::wstring FieldOf(const std::wstring& data, const wchar_t* name);

// The field's value as a flag: true only for "1".
bool FlagOf(const std::wstring& data, const wchar_t* name);

// The fields' names, as the planning action writes them and the actions read them.
namespace data_field {
constexpr wchar_t kFolder[] = L"folder";                // the install folder, no trailing backslash
constexpr wchar_t kLogFolder[] = L"logfolder";          // %ProgramData%\Kalnix
constexpr wchar_t kVersion[] = L"version";              // the package's ProductVersion
constexpr wchar_t kProgramFiles[] = L"programfiles";    // the architecture's Program Files
constexpr wchar_t kOtherProgramFiles[] = L"otherprogramfiles";
constexpr wchar_t kWindows[] = L"windows";
constexpr wchar_t kFolderExisted[] = L"folderexisted";  // 1 when the install folder was there
constexpr wchar_t kSetupFound[] = L"setupfound";        // 1 when the setup program's installation is there
constexpr wchar_t kSetupFolder[] = L"setupfolder";
constexpr wchar_t kX86Found[] = L"x86found";            // 1 when an earlier 32-bit Kalnix is there
constexpr wchar_t kX86Folder[] = L"x86folder";
// A setting's install option, "" when not given, under the package property's own name.
constexpr const wchar_t* kMode = SettingFactOf(SettingId::Action).option;            // MODE
constexpr const wchar_t* kAlarmTime = SettingFactOf(SettingId::AlarmTime).option;    // ALARMTIME
constexpr wchar_t kSettingsKey[] = L"settingskey";      // 1 when the settings key was there
constexpr wchar_t kSettings[] = L"settings";            // its values (settings_snapshot.h)
// Start at log-on before a change, in the rollback record the changing action keeps.
constexpr wchar_t kPreviousStart[] = L"previousstart";  // "task", "run" or ""
constexpr wchar_t kPreviousTarget[] = L"previoustarget";  // its Kalnix.exe, or the Run value's command
constexpr wchar_t kHadEvents[] = L"hadevents";          // 1 when the event source was registered
constexpr wchar_t kEvents[] = L"events";                // its EventMessageFile
constexpr wchar_t kSystem[] = L"system";                // 1 when msiexec runs as SYSTEM
constexpr wchar_t kSession[] = L"session";              // the session msiexec runs in
constexpr wchar_t kRun[] = L"run";                      // this run's token (setup/rollback_record.h)
constexpr wchar_t kRepair[] = L"repair";                // 1 on a repair: installed, not removed, not replaced
constexpr wchar_t kRemoval[] = L"removal";              // 1 when the run removes Kalnix
// The protection service before a change, in the rollback record the changing action keeps.
constexpr wchar_t kServiceInstalled[] = L"serviceinstalled";  // 1 when it was registered
constexpr wchar_t kServiceRunning[] = L"servicerunning";      // 1 when it ran
constexpr wchar_t kServiceExe[] = L"serviceexe";              // the Kalnix.exe it ran
// What a take-over removes, as it was before (settings_snapshot.h encoding), for its rollback.
constexpr wchar_t kSetupEntry[] = L"setupentry";        // the setup program's Apps & Features entry
constexpr wchar_t kX86Entry[] = L"x86entry";            // the 32-bit Kalnix's entry
constexpr wchar_t kX86SettingsKey[] = L"x86settingskey";  // 1 when the 32-bit settings key was there
constexpr wchar_t kX86Settings[] = L"x86settings";      // its values
constexpr wchar_t kX86RunValue[] = L"x86runvalue";      // the 32-bit Run value's command, "" for none
}  // namespace data_field
