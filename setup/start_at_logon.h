#pragma once

#include <string>

#include "setup/step_log.h"

// Start at log-on as the setup program makes it: the scheduled task "Kalnix" when the Task
// Scheduler registers it, else the Run value, never both.

enum class LogonStart { Task, RunValue, None };

// Removes an earlier task and Run value, then registers the task for `kalnixExe`: its definition
// is written in a new folder of `workFolder` (a folder only administrators can write) and removed
// once the Task Scheduler is done with it. When the task is not registered within 20 seconds,
// writes the Run value instead, which with User Account Control on does not start Kalnix.
LogonStart RegisterStartAtLogon(const std::wstring& kalnixExe, const std::wstring& workFolder, StepLog& log);

// Deletes the task and the Run value; true only when neither is left. A log-on entry left behind
// would start whatever Kalnix.exe stands at its path, elevated.
bool RemoveStartAtLogon(StepLog& log);

// True when the Run value "Kalnix" exists in this library's registry view.
bool RunValueExists();
