#pragma once

#include <string>
#include <vector>

#include "setup/step_log.h"

// Stops a running Kalnix through its own teardown, which also puts back the flags it forced,
// then ends any Kalnix.exe of `folders` still running: run as SYSTEM, TerminateUIProcess cannot
// see the user's tray window. Empty folders are passed over.
void StopRunningKalnix(const std::vector<std::wstring>& folders, StepLog& log);
