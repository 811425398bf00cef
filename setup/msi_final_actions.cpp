#include <windows.h>

#include <string>
#include <vector>

#include "setup/custom_action_data.h"
#include "setup/exports.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/protection_service.h"
#include "setup/settings_snapshot.h"
#include "setup/setup_program_takeover.h"
#include "setup/step_log.h"
#include "setup/task_query.h"
#include "setup/task_service.h"

using namespace data_field;

namespace {

const wchar_t kSetupLog[] = L"KalnixSetup.log";
const wchar_t kUninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalnix";

std::wstring DataOf(MSIHANDLE install) { return MsiProperty(install, L"CustomActionData"); }

// Where the files a take-over removes wait until the installation is done, in the log folder
// only administrators can write; "" when there is none (they are deleted at once).
std::wstring KeepingFolder(const std::wstring& data, const StepLog& log) {
    if (log.Folder().empty()) return L"";
    std::wstring keep = log.Folder() + L"\\TakenOver-" + FieldOf(data, kRun);
    CreateDirectoryW(keep.c_str(), nullptr);
    return keep;
}

void PutBackKey(const KeyPlace& place, const std::wstring& encoded, bool existed) {
    std::vector<SettingValue> values;
    if (DecodeSettings(encoded, &values)) ResetKey(place, existed, values);
}

#ifdef _WIN64
void PutBackX86RunValue(const std::wstring& command) {
    HKEY run = nullptr;
    if (command.empty() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                         KEY_SET_VALUE | KEY_WOW64_32KEY, &run) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(run, L"Kalnix", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(run);
}
#endif

}  // namespace

// Only now, with the package installed, does the earlier installation go: until then a failure
// would have left the computer with none. Its files wait in the log folder for a rollback.
UINT __stdcall CompleteKalnixTakeOver(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    if (!FlagOf(data, kSetupFound) && !FlagOf(data, kX86Found)) return ERROR_SUCCESS;
    const std::wstring keep = KeepingFolder(data, log);
    if (FlagOf(data, kSetupFound)) {
        SetupProgramInstall setup;
        setup.found = true;
        setup.folder = FieldOf(data, kSetupFolder);
        CompleteSetupProgramTakeOver(setup, FieldOf(data, kFolder), keep, log);
    }
    if (FlagOf(data, kX86Found)) {
        SetupProgramInstall x86;
        x86.found = true;
        x86.folder = FieldOf(data, kX86Folder);
        CompleteX86TakeOver(x86, keep, log);
    }
    return ERROR_SUCCESS;
}

// The taken-over installations come back as they were: their entries, the 32-bit settings key
// and Run value, and the files kept.
UINT __stdcall UndoKalnixTakeOver(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    if (!FlagOf(data, kSetupFound) && !FlagOf(data, kX86Found)) return ERROR_SUCCESS;
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    const std::wstring keep = log.Folder().empty() ? L"" : log.Folder() + L"\\TakenOver-" + FieldOf(data, kRun);
    if (FlagOf(data, kSetupFound)) {
        const std::wstring entry = FieldOf(data, kSetupEntry);
        if (!entry.empty()) PutBackKey({kUninstallKeyPath, 0}, entry, true);
        PutBackTakenOverFiles(TakenOver::SetupProgram, FieldOf(data, kSetupFolder), keep);
    }
#ifdef _WIN64
    if (FlagOf(data, kX86Found)) {
        const std::wstring entry = FieldOf(data, kX86Entry);
        if (!entry.empty()) PutBackKey({kUninstallKeyPath, KEY_WOW64_32KEY}, entry, true);
        PutBackKey({L"Software\\Kalnix", KEY_WOW64_32KEY}, FieldOf(data, kX86Settings), FlagOf(data, kX86SettingsKey));
        PutBackX86RunValue(FieldOf(data, kX86RunValue));
        PutBackTakenOverFiles(TakenOver::X86, FieldOf(data, kX86Folder), keep);
    }
#endif
    if (!keep.empty()) RemoveDirectoryW(keep.c_str());
    log.Line(L"Rolling back: the installation taken over is put back as it was.");
    return ERROR_SUCCESS;
}

// Kalnix for the person at the desktop msiexec was started from, as that person, never with this
// process's token (SYSTEM): the protection service, once running, has started it in every
// signed-in session; without it the Task Scheduler runs the log-on task for the user of that
// session, with that user's own token. Run as SYSTEM (a deployment tool), or without the task,
// Kalnix waits for the next log-on. Either way no step failed: Kalnix is installed to start
// there. The last step: the files a take-over kept for a rollback go now.
UINT __stdcall StartKalnixForUser(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    if (!log.Folder().empty()) {
        const std::wstring keep = log.Folder() + L"\\TakenOver-" + FieldOf(data, kRun);
        const std::wstring folder = FieldOf(data, kFolder);
        if (FlagOf(data, kSetupFound))
            DiscardTakenOverFiles(TakenOver::SetupProgram, FieldOf(data, kSetupFolder), folder, keep);
        if (FlagOf(data, kX86Found)) DiscardTakenOverFiles(TakenOver::X86, FieldOf(data, kX86Folder), folder, keep);
        RemoveDirectoryW(keep.c_str());
    }
    if (ReadProtectionServiceState().running) {
        log.Line(L"The protection service starts Kalnix in every signed-in session: the task Kalnix is not run.");
    } else if (FlagOf(data, kSystem)) {
        log.Line(L"Running as SYSTEM: Kalnix starts at the next log-on.");
    } else if (!TaskIsRegistered()) {
        log.Line(L"Kalnix not started: only the task Kalnix can start it as the user at this desktop, and there is "
                 L"none.");
    } else if (RunKalnixTaskInSession(wcstoul(FieldOf(data, kSession).c_str(), nullptr, 10))) {
        log.Line(L"Task Kalnix run for the user at this desktop (Kalnix.exe -fresh).");
    } else {
        log.Line(L"Kalnix not started: the Task Scheduler did not run the task Kalnix now; Kalnix starts at the "
                 L"next log-on.");
    }
    log.Line(L"Installation complete.");
    return ERROR_SUCCESS;
}

// Neither the service nor a Kalnix the task started may run on from files the rollback takes
// away: the service is stopped through its own teardown first (ending its process would leave
// the power settings it changed), and UndoKalnixService puts back its registration. A repair ends
// no Kalnix, not even then.
UINT __stdcall EndStartedKalnix(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    if (FlagOf(data, kRepair)) return ERROR_SUCCESS;
    StopProtectionService();
    EndInstalledKalnix((FieldOf(data, kFolder) + L"\\Kalnix.exe").c_str());
    return ERROR_SUCCESS;
}
