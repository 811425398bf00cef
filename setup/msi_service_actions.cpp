#include <windows.h>

#include <string>

#include "setup/custom_action_data.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/protection_service.h"
#include "setup/rollback_record.h"
#include "setup/step_log.h"

using namespace data_field;

namespace {

const wchar_t kSetupLog[] = L"KalnixSetup.log";
const wchar_t kUninstallLog[] = L"KalnixUninstall.log";
// The run's rollback records: that it stopped a running service, and the service as it was
// before it was registered or removed.
const wchar_t kStoppedRecord[] = L"servicestopped";
const wchar_t kServiceRecord[] = L"service";

std::wstring DataOf(MSIHANDLE install) { return MsiProperty(install, L"CustomActionData"); }

const wchar_t* Flag(bool value) { return value ? L"1" : L"0"; }

// False when the record could not be kept: then nothing may be changed.
bool KeepServiceForRollback(const std::wstring& run) {
    ProtectionServiceState state = ReadProtectionServiceState();
    std::wstring text;
    if (!AppendField(&text, kServiceInstalled, Flag(state.installed)) ||
        !AppendField(&text, kServiceRunning, Flag(state.running)) || !AppendField(&text, kServiceExe, state.kalnixExe))
        return false;
    return SaveRollbackRecord(run, kServiceRecord, text);
}

// The service as the run's record says it was: gone again, or registered for its Kalnix.exe
// (whose file the rollback has put back by now), running when it ran.
void PutBackService(const std::wstring& run, StepLog& log) {
    std::wstring text;
    if (!ReadRollbackRecord(run, kServiceRecord, &text)) return;
    log.Line(L"Rolling back: the protection service put back as it was.");
    StopProtectionService();
    if (!FlagOf(text, kServiceInstalled)) {
        RemoveProtectionService();
        return;
    }
    const std::wstring exe = FieldOf(text, kServiceExe);
    if (!exe.empty()) InstallProtectionService(exe.c_str());
    if (FlagOf(text, kServiceRunning)) StartProtectionService();
}

UINT Fail(StepLog& log, const std::wstring& line, const wchar_t* outcome) {
    log.Line(line);
    log.Line(outcome);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

UINT __stdcall StopKalnixService(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    const bool removal = FlagOf(data, kRemoval);
    StepLog log(install, FieldOf(data, kLogFolder), removal ? kUninstallLog : kSetupLog);
    const std::wstring folder = FieldOf(data, kFolder);
    const std::wstring version = FieldOf(data, kVersion);
    log.Line(removal ? L"Kalnix Uninstall " + version + L" (Windows Installer package), " + LocalTimeText() +
                           L", from " + folder
                     : L"Kalnix Setup " + version + L" (Windows Installer package), " + LocalTimeText() +
                           L", into " + folder);
    log.NameWhatWasSetAside();
    ProtectionServiceState state = ReadProtectionServiceState();
    if (!state.running) return ERROR_SUCCESS;
    // A repair replaces no Kalnix.exe in use before the next restart: the service protects on.
    if (FlagOf(data, kRepair)) {
        log.Line(L"Repair: the protection service keeps running.");
        return ERROR_SUCCESS;
    }
    if (!SaveRollbackRecord(FieldOf(data, kRun), kStoppedRecord, L"1")) {
        return Fail(log, L"The protection service is not stopped: that it ran could not be kept for a rollback.",
                    removal ? L"Uninstallation failed." : L"Installation failed.");
    }
    // Before any Kalnix.exe is ended or replaced: ending its process would leave the power
    // settings it changed, and the service manager would start it again.
    log.Line(StopProtectionService()
                 ? L"StopProtectionService: the protection service is stopped; it put back the power settings it "
                   L"changed."
                 : L"StopProtectionService failed: its Kalnix.exe is ended with the others.");
    return ERROR_SUCCESS;
}

UINT __stdcall StartKalnixServiceAgain(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    std::wstring stopped;
    if (!ReadRollbackRecord(FieldOf(data, kRun), kStoppedRecord, &stopped)) return ERROR_SUCCESS;
    StepLog log(install, FieldOf(data, kLogFolder), FlagOf(data, kRemoval) ? kUninstallLog : kSetupLog);
    log.Line(StartProtectionService() ? L"Rolling back: the protection service runs again."
                                      : L"Rolling back: the protection service could not be started again.");
    return ERROR_SUCCESS;
}

UINT __stdcall InstallKalnixService(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    if (!KeepServiceForRollback(FieldOf(data, kRun))) {
        return Fail(log, L"Protection service not registered: what it is now could not be kept for a rollback.",
                    L"Installation failed.");
    }
    const std::wstring exe = FieldOf(data, kFolder) + L"\\Kalnix.exe";
    if (InstallProtectionService(exe.c_str())) {
        log.Line(L"InstallProtectionService: protection service KalnixProtection registered for " + exe + L".");
    } else {
        log.Line(L"InstallProtectionService failed.");
        if (!ProtectionServiceInstalled()) return ERROR_SUCCESS;
    }
    // Running already at a repair: it keeps its process, and takes the new registration at its
    // next start.
    log.Line(StartProtectionService() ? L"StartProtectionService: the protection service is running."
                                      : L"StartProtectionService failed: the laptop is not protected until it starts.");
    return ERROR_SUCCESS;
}

UINT __stdcall UndoKalnixService(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    PutBackService(FieldOf(data, kRun), log);
    return ERROR_SUCCESS;
}

// The service runs the install folder's Kalnix.exe as SYSTEM: were it left and the folder
// removed, any user could create the folder anew and put their own program there. So nothing is
// removed while it is left.
UINT __stdcall RemoveKalnixService(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    if (!KeepServiceForRollback(FieldOf(data, kRun))) {
        return Fail(log, L"Nothing is removed: the protection service could not be kept for a rollback.",
                    L"Uninstallation failed.");
    }
    if (RemoveProtectionService()) {
        log.Line(L"RemoveProtectionService: no protection service is left.");
        return ERROR_SUCCESS;
    }
    return Fail(log,
                L"Nothing is removed: the protection service left behind runs " + FieldOf(data, kFolder) +
                    L"\\Kalnix.exe as SYSTEM, and without its folder any user could put a program there. Remove the "
                    L"service (sc delete KalnixProtection), then uninstall again.",
                L"Uninstallation failed.");
}

UINT __stdcall PutBackKalnixService(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kUninstallLog);
    PutBackService(FieldOf(data, kRun), log);
    return ERROR_SUCCESS;
}
