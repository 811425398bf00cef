#include <windows.h>

#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/power_guard.h"
#include "common/scoped_handle.h"
#include "common/setting_table.h"
#include "common/settings_key.h"
#include "setup/custom_action_data.h"
#include "setup/driver_service.h"
#include "setup/event_source.h"
#include "setup/exports.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/running_kalnix.h"
#include "setup/settings_snapshot.h"
#include "setup/start_at_logon.h"
#include "setup/step_log.h"

using namespace data_field;

namespace {

const wchar_t kUninstallLog[] = L"KalnixUninstall.log";

std::wstring DataOf(MSIHANDLE install) { return MsiProperty(install, L"CustomActionData"); }

// True when the saved lid-close settings could not be put back and are kept.
bool RestoreLidCloseFlags(StepLog& log) {
    if (RestorePowerSettings()) {
        log.Line(L"RestorePowerSettings: lid-close flags put back.");
        return false;
    }
    // It fails too when nothing was saved: then nothing of the user's is lost with the key.
    if (!PowerSettingsAreSaved()) {
        log.Line(L"RestorePowerSettings: no saved lid-close settings to put back.");
        return false;
    }
    log.Line(L"RestorePowerSettings failed: the saved lid-close settings are kept in HKLM\\Software\\Kalnix.");
    return true;
}

void RemoveSettingsKey(bool keepSaved) {
    if (!keepSaved) {
        LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            LogFormatted(L"CA: RegDeleteTree failed: %d", static_cast<int>(status));
        }
        return;
    }
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    // Kalnix's own choices and its record of the lid closures; the saved lid-close and hibernate
    // settings are the user's and stay when they could not be put back.
    for (const SettingFact& fact : kSettingFacts) {
        if (DeletedAtRemoval(fact)) RegDeleteValueW(key.get(), fact.name);
    }
}

// A setup program's installation that this package took over may have brought the lid-sensor
// driver. The package carries none, and the setup program does not run over the package, so
// this removal is the last that can take the driver away.
void RemoveLidDriver(StepLog& log) {
    if (DriverServiceExists()) {
        log.Line(RemoveDriver() ? L"RemoveDriver: driver service Kalnix deleted."
                                : L"RemoveDriver: no driver service deleted.");
    }
    // The x86 package runs on 32-bit Windows only: this System32 is the one the driver is in.
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring driver = std::wstring(system) + L"\\drivers\\kalnix.sys";
    if (GetFileAttributesW(driver.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (DeleteFileW(driver.c_str())) {
        log.Line(driver + L" deleted.");
    } else if (MoveFileExW(driver.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        log.Line(driver + L" is in use: it is deleted at the next restart.");
    } else {
        log.Line(driver + L" could not be deleted.");
    }
}

}  // namespace

UINT __stdcall StopKalnix(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    StopRunningKalnix({FieldOf(data, kFolder)}, log);
    return ERROR_SUCCESS;
}

// A log-on entry left behind runs whatever Kalnix.exe stands at its path at every user's log-on:
// with the folder gone, any user could create it anew and put their own program there, for
// everyone who signs in after. So nothing is removed while an entry is left.
UINT __stdcall RemoveKalnixStart(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    const std::wstring folder = FieldOf(data, kFolder);
    if (!KeepStartForRollback(FieldOf(data, kRun), folder + L"\\Kalnix.exe")) {
        log.Line(L"Nothing is removed: what starts Kalnix at log-on could not be kept for a rollback.");
        log.Line(L"Uninstallation failed.");
        return ERROR_INSTALL_FAILURE;
    }
    if (RemoveStartAtLogon(log)) {
        log.Line(L"Start at log-on removed: no task Kalnix, no Run value.");
        return ERROR_SUCCESS;
    }
    log.Line(L"Nothing is removed: the log-on entry left behind starts " + folder +
             L"\\Kalnix.exe, and without its folder any user could put a program there. Remove the entry, then "
             L"uninstall again.");
    log.Line(L"Uninstallation failed.");
    return ERROR_INSTALL_FAILURE;
}

UINT __stdcall RestoreKalnixStart(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    log.Line(L"Rolling back: start at log-on put back as it was.");
    if (!PutBackKeptStart(FieldOf(data, kRun), log.Folder(), log)) log.Line(L"Start at log-on was not changed.");
    return ERROR_SUCCESS;
}

// The removal's other steps stay: Kalnix was ended (it starts again at the next log-on) and the
// user's power settings were put back (Kalnix forces them again); the lid-sensor driver a
// taken-over installation brought is not put back.
UINT __stdcall PutBackKalnixSettings(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    std::vector<SettingValue> before;
    if (DecodeSettings(FieldOf(data, kSettings), &before)) ResetSettingsKey(FlagOf(data, kSettingsKey), before);
    if (FlagOf(data, kHadEvents)) RegisterKalnixEventSource(FieldOf(data, kEvents));
    log.Line(L"Rolling back: the settings key and the event source put back as they were.");
    return ERROR_SUCCESS;
}

UINT __stdcall RemoveKalnixSettings(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    bool kept = RestoreLidCloseFlags(log);
    RemoveLidDriver(log);
    log.Line(RemoveKalnixEventSource() ? L"Event source Kalnix removed."
                                       : L"Event source Kalnix could not be removed.");
    RemoveSettingsKey(kept);
    log.Line(L"Uninstallation complete.");
    return ERROR_SUCCESS;
}
