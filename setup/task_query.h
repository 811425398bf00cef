#pragma once

#include <windows.h>

// The two calls that decide how the task "Kalnix" is looked for. Wine's task tool answers 0
// for any name, so tests swap these to show the path Windows takes.
struct TaskQueryCalls {
    bool (*runsOnWine)();
    decltype(&::CreateProcessW) createProcess;
};
extern TaskQueryCalls g_taskQuery;

// True when the task "Kalnix" is registered. On Windows the task tool's exit status answers
// (a file in the task folder proves nothing there); on Wine its file in the task folder does.
extern "C" bool __stdcall TaskIsRegistered();
