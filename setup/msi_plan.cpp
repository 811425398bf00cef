#include <windows.h>

#include <string>
#include <vector>

#include "common/scoped_handle.h"
#include "common/setting_table.h"
#include "setup/custom_action_data.h"
#include "setup/event_source.h"
#include "setup/exports.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/package_options.h"
#include "setup/rollback_record.h"
#include "setup/settings_snapshot.h"
#include "setup/setup_program_takeover.h"

namespace {

const wchar_t kLocalSystemSid[] = L"S-1-5-18";
const wchar_t kUninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalnix";

// A directory property ends in a backslash, and may hold "." or ".." as /D= may.
std::wstring FolderOf(MSIHANDLE install, const wchar_t* property) {
    std::wstring folder = MsiProperty(install, property);
    wchar_t full[MAX_PATH * 2];
    DWORD length = folder.empty() ? 0 : GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    if (length > 0 && length < MAX_PATH * 2) folder = full;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

const wchar_t* Flag(bool value) { return value ? L"1" : L"0"; }

// Fails the installation before anything has changed; the line names the property.
UINT Refuse(MSIHANDLE install, const std::wstring& line) {
    WriteMsiLogLine(install, line + L" Nothing was changed.");
    return ERROR_INSTALL_FAILURE;
}

struct Options {
    std::wstring mode, alarmTime;
};

UINT CheckOptions(MSIHANDLE install, Options* options) {
    DWORD value = 0;
    options->mode = MsiProperty(install, data_field::kMode);
    if (!options->mode.empty() && !ParseModeOption(options->mode, &value)) {
        return Refuse(install, std::wstring(data_field::kMode) + L"=" + options->mode +
                                   L" is refused: it must be 1 (automatic protection) or 2 (lid alarm).");
    }
    options->alarmTime = MsiProperty(install, data_field::kAlarmTime);
    if (!options->alarmTime.empty()) {
        if (!ParseAlarmTimeOption(options->alarmTime, &value)) {
            const SettingFact& alarm = SettingFactOf(SettingId::AlarmTime);
            return Refuse(install, std::wstring(data_field::kAlarmTime) + L"=" + options->alarmTime +
                                       L" is refused: it must be a number of " + alarm.unit + L" from " +
                                       std::to_wstring(alarm.least) + L" to " + std::to_wstring(alarm.most) + L".");
        }
        options->alarmTime = std::to_wstring(value);
    }
    return ERROR_SUCCESS;
}

// A repair reaches the installation's SYSTEM actions for whoever may run it, a standard user
// too (Windows Installer elevates a per-machine package's repair): only an administrator's
// repair may change the mode for everyone. AdminUser tells the person's own rights because the
// package sets MSIUSEREALADMINDETECTION; without it AdminUser would follow Privileged.
void KeepOptionsFromARepair(MSIHANDLE install, bool repair, Options* options) {
    if (!repair || (options->mode.empty() && options->alarmTime.empty())) return;
    if (!MsiProperty(install, L"AdminUser").empty()) return;
    WriteMsiLogLine(install, L"MODE and ALARMTIME are not applied: this repair was not run by an administrator.");
    *options = {};
}

bool HandOver(MSIHANDLE install, const wchar_t* action, const std::wstring& data) {
    return SetMsiProperty(install, action, data);
}

DWORD SessionOfThisProcess() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// What a take-over removes, as it is now: its rollback puts it back.
bool AppendTakeOverState(std::wstring* data, const SetupProgramInstall& setup, const SetupProgramInstall& x86) {
    using namespace data_field;
    std::vector<SettingValue> values;
    std::wstring setupEntry, x86Entry, x86Run;
    if (setup.found && ReadKeyValues({kUninstallKeyPath, 0}, &values)) setupEntry = EncodeSettings(values);
    bool ok = AppendField(data, kSetupEntry, setupEntry);
#ifdef _WIN64
    if (x86.found) {
        if (ReadKeyValues({kUninstallKeyPath, KEY_WOW64_32KEY}, &values)) x86Entry = EncodeSettings(values);
        bool keyExisted = ReadKeyValues({L"Software\\Kalnix", KEY_WOW64_32KEY}, &values);
        ok = ok && AppendField(data, kX86SettingsKey, Flag(keyExisted)) &&
             AppendField(data, kX86Settings, EncodeSettings(values));
        ScopedKey run;
        wchar_t command[1024];
        DWORD size = sizeof(command);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                          KEY_QUERY_VALUE | KEY_WOW64_32KEY, run.put()) == ERROR_SUCCESS &&
            RegGetValueW(run.get(), nullptr, L"Kalnix", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                         command, &size) == ERROR_SUCCESS) {
            x86Run = command;
        }
    }
#else
    (void)x86;
#endif
    return ok && AppendField(data, kX86Entry, x86Entry) && AppendField(data, kX86RunValue, x86Run);
}

UINT PlanInstallation(MSIHANDLE install, const std::wstring& common, bool repair) {
    using namespace data_field;
    Options options;
    UINT checked = CheckOptions(install, &options);
    if (checked != ERROR_SUCCESS) return checked;
    KeepOptionsFromARepair(install, repair, &options);
    const std::wstring folder = FieldOf(common, kFolder);
    bool ok = true;

    std::wstring found = common;
    SetupProgramInstall setup = FindSetupProgramInstall();
    ok = ok && AppendField(&found, kSetupFound, Flag(setup.found)) && AppendField(&found, kSetupFolder, setup.folder);
#ifdef _WIN64
    SetupProgramInstall x86 = FindEarlierX86Install(FolderOf(install, L"ProgramFilesFolder"));
#else
    SetupProgramInstall x86;
#endif
    ok = ok && AppendField(&found, kX86Found, Flag(x86.found)) && AppendField(&found, kX86Folder, x86.folder);

    std::wstring first = common;
    ok = ok && AppendField(&first, kRepair, Flag(repair)) && AppendField(&first, kRemoval, Flag(false));
    ok = ok && HandOver(install, L"StopKalnixService", first) && HandOver(install, L"StartKalnixServiceAgain", first);

    std::wstring secure = found;
#ifdef _WIN64
    ok = ok && AppendField(&secure, kProgramFiles, FolderOf(install, L"ProgramFiles64Folder")) &&
         AppendField(&secure, kOtherProgramFiles, FolderOf(install, L"ProgramFilesFolder"));
#else
    ok = ok && AppendField(&secure, kProgramFiles, FolderOf(install, L"ProgramFilesFolder"));
#endif
    ok = ok && AppendField(&secure, kWindows, FolderOf(install, L"WindowsFolder")) &&
         AppendField(&secure, kRepair, Flag(repair));
    ok = ok && HandOver(install, L"SecureKalnixFolder", secure);
    std::wstring undoFolder = common;
    bool folderExisted = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    ok = ok && AppendField(&undoFolder, kFolderExisted, Flag(folderExisted));
    ok = ok && HandOver(install, L"UndoKalnixFolder", undoFolder);

    std::vector<SettingValue> values;
    bool keyExisted = ReadSettingsKey(&values);
    std::wstring settings = common;
    ok = ok && AppendField(&settings, kMode, options.mode) && AppendField(&settings, kAlarmTime, options.alarmTime) &&
         AppendField(&settings, kSettingsKey, Flag(keyExisted)) &&
         AppendField(&settings, kSettings, EncodeSettings(values)) &&
         AppendField(&settings, kX86Found, Flag(x86.found));
    ok = ok && HandOver(install, L"WriteKalnixSettings", settings) &&
         HandOver(install, L"UndoKalnixSettings", settings);

    // What starts Kalnix at log-on now is read by RegisterKalnixStart itself, as SYSTEM.
    ok = ok && HandOver(install, L"RegisterKalnixStart", found) && HandOver(install, L"UndoKalnixStart", common);

    ok = ok && HandOver(install, L"RegisterKalnixEvents", common);
    std::wstring messageFile, undoEvents = common;
    bool hadEvents = ReadKalnixEventSource(&messageFile);
    ok = ok && AppendField(&undoEvents, kHadEvents, Flag(hadEvents)) && AppendField(&undoEvents, kEvents, messageFile);
    ok = ok && HandOver(install, L"UndoKalnixEvents", undoEvents);

    ok = ok && HandOver(install, L"InstallKalnixService", common) && HandOver(install, L"UndoKalnixService", common);

    std::wstring takeOver = found;
    ok = ok && AppendTakeOverState(&takeOver, setup, x86);
    ok = ok && HandOver(install, L"CompleteKalnixTakeOver", takeOver) &&
         HandOver(install, L"UndoKalnixTakeOver", takeOver);
    std::wstring start = found;
    ok = ok && AppendField(&start, kSystem, Flag(MsiProperty(install, L"UserSID") == kLocalSystemSid)) &&
         AppendField(&start, kSession, std::to_wstring(SessionOfThisProcess()));
    std::wstring end = common;
    ok = ok && AppendField(&end, kRepair, Flag(repair));
    ok = ok && HandOver(install, L"StartKalnixForUser", start) && HandOver(install, L"EndStartedKalnix", end);
    if (!ok) WriteMsiLogLine(install, L"Kalnix's installation could not be planned.");
    return ok ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT PlanRemoval(MSIHANDLE install, const std::wstring& common) {
    using namespace data_field;
    // What the removal takes away that its rollback must put back, readable by anyone.
    std::vector<SettingValue> values;
    bool keyExisted = ReadSettingsKey(&values);
    std::wstring messageFile, settings = common;
    bool hadEvents = ReadKalnixEventSource(&messageFile);
    std::wstring first = common;
    bool ok = AppendField(&settings, kSettingsKey, Flag(keyExisted)) &&
              AppendField(&settings, kSettings, EncodeSettings(values)) &&
              AppendField(&settings, kHadEvents, Flag(hadEvents)) && AppendField(&settings, kEvents, messageFile) &&
              AppendField(&first, kRemoval, Flag(true));
    ok = ok && HandOver(install, L"StopKalnixService", first) && HandOver(install, L"StartKalnixServiceAgain", first) &&
         HandOver(install, L"RemoveKalnixService", common) && HandOver(install, L"PutBackKalnixService", common);
    ok = ok && HandOver(install, L"StopKalnix", common) && HandOver(install, L"RemoveKalnixStart", common) &&
         HandOver(install, L"RestoreKalnixStart", common) && HandOver(install, L"RemoveKalnixSettings", common) &&
         HandOver(install, L"PutBackKalnixSettings", settings);
    return ok ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

UINT __stdcall PlanKalnixPackage(MSIHANDLE install) {
    if (!MsiCallsAvailable()) return ERROR_INSTALL_FAILURE;
    std::wstring folder = FolderOf(install, L"INSTALLFOLDER");
    std::wstring common;
    if (!AppendField(&common, data_field::kFolder, folder)) {
        return Refuse(install, L"INSTALLFOLDER=" + folder + L" is refused: it is not a folder's path.");
    }
    std::wstring logFolder = FolderOf(install, L"CommonAppDataFolder");
    bool ok = AppendField(&common, data_field::kLogFolder, logFolder.empty() ? L"" : logFolder + L"\\Kalnix") &&
              AppendField(&common, data_field::kVersion, MsiProperty(install, L"ProductVersion")) &&
              AppendField(&common, data_field::kRun, NewRunToken());
    if (!ok) return ERROR_INSTALL_FAILURE;
    // Scheduled after InstallValidate: only from there on does REMOVE say ALL for a removal.
    const bool removal = MsiProperty(install, L"REMOVE") == L"ALL";
    if (removal) return PlanRemoval(install, common);
    // Installed is this very product's: a repair (an upgrade installs a product not yet there).
    return PlanInstallation(install, common, !MsiProperty(install, L"Installed").empty());
}
