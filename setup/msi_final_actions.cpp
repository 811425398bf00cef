#include <windows.h>

#include <string>

#include "setup/custom_action_data.h"
#include "setup/exports.h"
#include "setup/task_query.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/setup_program_takeover.h"
#include "setup/step_log.h"
#include "setup/task_service.h"

using namespace data_field;

namespace {

const wchar_t kSetupLog[] = L"KalnixSetup.log";

std::wstring DataOf(MSIHANDLE install) { return MsiProperty(install, L"CustomActionData"); }

}  // namespace

// Only now, with the package installed for good, does the earlier installation go: until then a
// failure would have left the computer with none.
UINT __stdcall CompleteKalnixTakeOver(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    SetupProgramInstall setup = FindSetupProgramInstall();
    if (setup.found) CompleteSetupProgramTakeOver(setup, FieldOf(data, kFolder), log);
    if (FlagOf(data, kX86Found)) {
        SetupProgramInstall x86;
        x86.found = true;
        x86.folder = FieldOf(data, kX86Folder);
        CompleteX86TakeOver(x86, log);
    }
    return ERROR_SUCCESS;
}

// Starts Kalnix for the person at the desktop msiexec was started from, as that person, never
// with this process's token (SYSTEM): the Task Scheduler runs the log-on task for the user of
// that session, with that user's own token at the highest level they have. Run as SYSTEM (a
// deployment tool), or without the task, Kalnix waits for the next log-on. Either way no step
// failed: Kalnix is installed to start there.
UINT __stdcall StartKalnixForUser(MSIHANDLE install) {
    const std::wstring data = DataOf(install);
    StepLog log(install, FieldOf(data, kLogFolder), kSetupLog);
    if (FlagOf(data, kSystem)) {
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
