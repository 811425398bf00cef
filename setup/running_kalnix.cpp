#include "setup/running_kalnix.h"

#include "setup/exports.h"

void StopRunningKalnix(const std::vector<std::wstring>& folders, StepLog& log) {
    log.Line(TerminateUIProcess() ? L"TerminateUIProcess: a running Kalnix was stopped."
                                  : L"TerminateUIProcess: no Kalnix window found.");
    for (const std::wstring& folder : folders) {
        if (folder.empty()) continue;
        if (EndInstalledKalnix((folder + L"\\Kalnix.exe").c_str())) {
            log.Line(L"EndInstalledKalnix: no Kalnix.exe of " + folder + L" is left running.");
        } else {
            log.Line(L"EndInstalledKalnix: a Kalnix.exe of " + folder +
                     L" could not be ended, or the running processes could not be listed.");
        }
    }
}
