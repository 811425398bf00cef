#pragma once

#include <windows.h>

#include <taskschd.h>

// The Task Scheduler's own interface, for what its command-line tool cannot do: run the task
// "Kalnix" in one session, and tell a missing task from one that cannot be looked at. Wine's
// task service stores tasks but runs none (RunEx answers E_NOTIMPL), so tests swap the run to
// see what Windows is asked. Each question is asked on a thread of its own and waited for at
// most answerLimitMs (60 s): a service that does not answer is logged and counts as a failure.
struct TaskServiceCalls {
    HRESULT (*runEx)(IRegisteredTask* task, VARIANT arguments, LONG flags, LONG session, BSTR user,
                     IRunningTask** running);
    DWORD answerLimitMs;
};
extern TaskServiceCalls g_taskService;

// TASK_RUN_USE_SESSION_ID, which mingw-w64's header lacks: the task runs in the given session,
// as the user logged on to it.
constexpr LONG kTaskRunInSession = 0x4;

// RunKalnixTask for the user logged on to `session`: the Windows Installer runs the package's
// actions in a service's session, so the package names the session msiexec was started from.
bool RunKalnixTaskInSession(DWORD session);
