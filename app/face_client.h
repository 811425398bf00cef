#pragma once

#include <windows.h>

#include "common/face_link.h"

// Kalnix in a session where the protection service runs: its end of the service's pipe. A
// thread reads what the service sends and posts each message, checked, to the face's window;
// the window's thread writes. Only a pipe served by the service's own process is spoken to.

// Posted to the window: lParam is a LinkMessage made with HeapAlloc, which the receiver frees
// with FreeFaceMessage. kFaceLinkLost (no lParam) says the connection ended.
constexpr UINT kFaceLinkMessage = WM_APP + 0x20;
constexpr UINT kFaceLinkLost = WM_APP + 0x21;

// Connects, says hello and starts the reader; false when the service cannot be reached now
// (not running, or a pipe of that name that is not the service's), with the reason logged.
bool ConnectToService(HWND window);
// Ends the reader and the connection.
void DisconnectFromService();
bool ConnectedToService();
// Writes one message; false when the connection is gone.
bool SendToService(const LinkMessage& message);
void FreeFaceMessage(LPARAM message);

// The service's process id, as the service control manager knows it: 0 when not running.
DWORD ProtectionServiceProcessId();
