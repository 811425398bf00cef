#pragma once

#include <windows.h>

// The service's worker: one thread that owns the protection, as the tray window's thread owns
// it in a Kalnix without the service. A message-only window receives the protection's timers and
// its lid messages; the control handler's power events and session changes are posted to it;
// the faces' pipe and the settings keys are waited on beside the messages.

// Posted by the control handler. Power: wParam the PBT_ event, lParam a copy of the
// POWERBROADCAST_SETTING made with HeapAlloc (or 0), which the worker frees. Session: wParam the
// WTS_ event, lParam the session's id.
constexpr UINT kServicePowerMessage = WM_APP + 1;
constexpr UINT kServiceSessionMessage = WM_APP + 2;

// Runs until a stop is asked for; reports running once protection has started and returns the
// service's exit code (0 after an orderly stop).
DWORD RunServiceWorker();
// From any thread: the worker ends the protection (everything put back) and returns.
void RequestServiceStop();
// From the control handler's thread: false while there is no worker window to post to.
bool PostToServiceWorker(UINT message, WPARAM wParam, LPARAM lParam);
