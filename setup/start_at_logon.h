#pragma once

#include <string>

#include "setup/step_log.h"

// Start at log-on as the setup program makes it: the scheduled task "Kalnix" when the Task
// Scheduler registers it, else the Run value, never both.

enum class LogonStart { Task, RunValue, None };

// Removes an earlier task and Run value, then registers the task for `kalnixExe`: its definition
// is written in a new folder of `workFolder` (a folder only administrators can write) and removed
// once the Task Scheduler is done with it. When the task is not registered within 20 seconds,
// writes the Run value instead.
LogonStart RegisterStartAtLogon(const std::wstring& kalnixExe, const std::wstring& workFolder, StepLog& log);

// Deletes the task and the Run value; true only when neither is left. A log-on entry left behind
// would start whatever Kalnix.exe stands at its path, elevated.
bool RemoveStartAtLogon(StepLog& log);

// Start at log-on as it stands, in words an action's data can carry, so that a rollback puts
// back exactly that: kind "task" with the Kalnix.exe it is taken to start (`taskExe`: the task
// tool cannot be asked for a task's command on every system), kind "run" with the Run value's
// command as written, or kind "" when there is neither.
struct StartAtLogonRecord {
    std::wstring kind, target;
};
StartAtLogonRecord RecordStartAtLogon(const std::wstring& taskExe);

// Makes start at log-on what `record` says it was: the task registered again (the Run value
// should the Task Scheduler not take it), the Run value written back, or neither left.
void PutBackStartAtLogon(const StartAtLogonRecord& record, const std::wstring& workFolder, StepLog& log);

// For a package's rollback: keeps what starts Kalnix at log-on now (RecordStartAtLogon) as the
// run's rollback record (setup/rollback_record.h); false when it could not be kept, and then
// nothing may be changed.
bool KeepStartForRollback(const std::wstring& run, const std::wstring& taskExe);

// Puts start at log-on back as the run's record says; without a record the change was never
// made, and nothing is done. False when there was none.
bool PutBackKeptStart(const std::wstring& run, const std::wstring& workFolder, StepLog& log);
