#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/power_guard.h"
#include "common/scoped_handle.h"
#include "common/setting_table.h"
#include "common/settings_key.h"
#include "setup/custom_action_data.h"
#include "setup/earlier_x86_install.h"
#include "setup/event_source.h"
#include "setup/exports.h"
#include "setup/install_folder_kind.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/running_kalnix.h"
#include "setup/settings_snapshot.h"
#include "setup/start_at_logon.h"
#include "setup/step_log.h"

using namespace data_field;

namespace {

const wchar_t kSetupLog[] = L"KalnixSetup.log";

std::wstring DataOf(MSIHANDLE install) { return MsiProperty(install, L"CustomActionData"); }

UINT FailInstall(StepLog& log, const std::wstring& line, const wchar_t* outcome = L"Installation failed.") {
    log.Line(line);
    log.Line(outcome);
    return ERROR_INSTALL_FAILURE;
}

std::wstring Refused(const std::wstring& folder, const wchar_t* reason) {
    return L"Install folder " + folder + L" refused: " + reason + L".";
}

// Checks the install folder (Program Files keeps users out by its own permissions) or secures
// it (anywhere else), as the setup program does; "" when it is accepted, else the refusal.
std::wstring PrepareInstallFolder(const std::wstring& data, StepLog& log) {
    const std::wstring folder = FieldOf(data, kFolder);
    wchar_t reason[512] = {};
    switch (ClassifyInstallFolder(folder, FieldOf(data, kProgramFiles), FieldOf(data, kOtherProgramFiles),
                                  FieldOf(data, kWindows))) {
    case InstallFolderKind::InProgramFiles:
        if (!CheckInstallFolder(folder.c_str(), reason, 512)) return Refused(folder, reason);
        log.Line(L"Install folder in Program Files: its inherited permissions are kept.");
        return L"";
    case InstallFolderKind::NotOnADrive:
        return L"Install folder " + folder +
               L" is not on a drive of this computer: setup does not set its permissions.";
    case InstallFolderKind::SystemFolder:
        return L"Install folder " + folder + L" is a system folder: setup does not change its permissions.";
    case InstallFolderKind::InWindowsFolder:
        return L"Install folder " + folder + L" is in the Windows folder: setup does not change its permissions.";
    case InstallFolderKind::Outside:
        break;
    }
    const wchar_t* age = GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES ? L"new" : L"existing";
    // The library creates what is missing administrators-only, and takes an existing folder only
    // when it is already closed to users and holds nothing but Kalnix's own files.
    if (!SecureInstallFolder(folder.c_str(), reason, 512)) return Refused(folder, reason);
    log.Line(std::wstring(L"Install folder outside Program Files (") + age +
             L"): permissions set: inheritance removed; Administrators and SYSTEM full control; Users read and "
             L"execute.");
    return L"";
}

// Writes `name` = `value` unless the key has it already; `force` for an administrator's explicit
// choice. False when the value could not be written.
bool SetFirstValue(HKEY key, const wchar_t* name, DWORD value, bool force, StepLog& log) {
    if (!force && RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        log.Line(std::wstring(L"Settings: ") + name + L" kept as it was.");
        return true;
    }
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    if (RegSetValueExW(key, name, 0, REG_DWORD, bytes, sizeof(value)) != ERROR_SUCCESS) return false;
    log.Line(std::wstring(L"Settings: ") + name + L" = " + std::to_wstring(value) + L".");
    return true;
}

// Saves the user's lid-close flags before anything forces them, once: at a reinstallation they
// may be forced still, and saving them would lose the user's own for good.
void SaveLidCloseFlags(StepLog& log) {
    if (SettingExists(SettingName(SettingId::PowerSettings1)) &&
        SettingExists(SettingName(SettingId::PowerSettings2))) {
        log.Line(L"SavePowerSettings skipped: the lid-close flags saved earlier are kept.");
    } else if (SavePowerSettings()) {
        log.Line(L"SavePowerSettings: lid-close flags saved.");
    } else {
        log.Line(L"SavePowerSettings failed.");
    }
}

}  // namespace

UINT __stdcall SecureKalnixFolder(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    const std::wstring folder = FieldOf(data, kFolder);
    // The log's first line is StopKalnixService's, the run's first step.
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    std::wstring refused = PrepareInstallFolder(data, log);
    if (!refused.empty()) return FailInstall(log, refused, L"Installation failed: nothing was installed.");
    // A repair may be a standard user's: it ends no one's Kalnix, and Windows Installer replaces
    // a Kalnix.exe in use at the next restart.
    if (FlagOf(data, kRepair)) {
        log.Line(L"Repair: a running Kalnix is left running; a Kalnix.exe in use is replaced at the next restart.");
        return ERROR_SUCCESS;
    }
    // A running Kalnix holds its file and the lid-close flags it forced; the setup program's and
    // the 32-bit Kalnix's too, when this package takes them over.
    std::vector<std::wstring> folders = {folder};
    if (FlagOf(data, kSetupFound)) folders.push_back(FieldOf(data, kSetupFolder));
    if (FlagOf(data, kX86Found)) folders.push_back(FieldOf(data, kX86Folder));
    StopRunningKalnix(folders, log);
    return ERROR_SUCCESS;
}

UINT __stdcall UndoKalnixFolder(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    // A folder this installation created goes again once the installer has taken its files back.
    if (!FlagOf(data, kFolderExisted)) RemoveDirectoryW(FieldOf(data, kFolder).c_str());
    return ERROR_SUCCESS;
}

UINT __stdcall WriteKalnixSettings(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    // An earlier package replaced by this one may have removed the key by now.
    std::vector<SettingValue> before;
    if (DecodeSettings(FieldOf(data, kSettings), &before)) {
        for (const std::wstring& name : PutBackMissingSettings(before)) {
            log.Line(L"Settings: " + name + L" put back as it was before this installation.");
        }
    }
    if (FlagOf(data, kX86Found)) {
        log.Line(CopyX86Settings() ? L"TakeOverX86Settings: its settings and saved lid-close settings are kept."
                                   : L"TakeOverX86Settings failed.");
    }
    ScopedKey key;
    // The first write creates the key.
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return FailInstall(log, L"Settings: could not create HKLM\\Software\\Kalnix.");
    }
    // The first values, as the setup program writes them; an option the plan checked overrides
    // its setting's (its data field is the property's own name).
    for (const SettingFact& fact : kSettingFacts) {
        if (!fact.hasFirstValue) continue;
        std::wstring option = fact.option[0] ? FieldOf(data, fact.option) : L"";
        DWORD value = option.empty() ? fact.firstValue : static_cast<DWORD>(wcstoul(option.c_str(), nullptr, 10));
        if (!SetFirstValue(key.get(), fact.name, value, !option.empty(), log)) {
            return FailInstall(log, std::wstring(L"Settings: could not write ") + fact.name +
                                        L" under HKLM\\Software\\Kalnix.");
        }
    }
    key.Reset();
    SaveLidCloseFlags(log);
    return ERROR_SUCCESS;
}

UINT __stdcall UndoKalnixSettings(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    std::vector<SettingValue> before;
    if (!DecodeSettings(FieldOf(data, kSettings), &before)) return ERROR_SUCCESS;
    ResetSettingsKey(FlagOf(data, kSettingsKey), before);
    return ERROR_SUCCESS;
}

UINT __stdcall RegisterKalnixStart(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    // A task there starts the installation this one takes over, else this folder's Kalnix.
    std::wstring taskFolder = FieldOf(data, kFolder);
    if (FlagOf(data, kSetupFound) && !FieldOf(data, kSetupFolder).empty()) {
        taskFolder = FieldOf(data, kSetupFolder);
    } else if (FlagOf(data, kX86Found) && !FieldOf(data, kX86Folder).empty()) {
        taskFolder = FieldOf(data, kX86Folder);
    }
    if (!KeepStartForRollback(FieldOf(data, kRun), taskFolder + L"\\Kalnix.exe")) {
        return FailInstall(log, L"Start at log-on not changed: what it is now could not be kept for a rollback.");
    }
    RegisterStartAtLogon(FieldOf(data, kFolder) + L"\\Kalnix.exe", log.Folder(), log);
    return ERROR_SUCCESS;
}

UINT __stdcall UndoKalnixStart(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    log.Line(L"Rolling back the start at log-on.");
    if (!PutBackKeptStart(FieldOf(data, kRun), log.Folder(), log)) log.Line(L"Start at log-on was not changed.");
    return ERROR_SUCCESS;
}

UINT __stdcall RegisterKalnixEvents(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    // Kalnix runs without it (its events then show no message text).
    if (RegisterKalnixEventSource(FieldOf(data, kFolder) + L"\\Kalnix.exe")) {
        log.Line(L"Event source Kalnix registered.");
    } else {
        log.Line(std::wstring(L"Event source Kalnix not registered: could not write HKLM\\") + kEventSourceKeyPath +
                 L".");
    }
    return ERROR_SUCCESS;
}

UINT __stdcall UndoKalnixEvents(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    if (FlagOf(data, kHadEvents)) {
        RegisterKalnixEventSource(FieldOf(data, kEvents));
    } else {
        RemoveKalnixEventSource();
    }
    return ERROR_SUCCESS;
}
