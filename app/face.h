#pragma once

#include <windows.h>

// Kalnix in a user's session where the protection service is installed: the service's face.
// It shows the protection's state in the icon, the service's notifications and the dialogs; in
// the console session it is also the service's ears and voice (a person's input, the displays,
// the alarm's tone, the display-off request). It protects nothing itself: ending it ends no
// protection. It runs with the user's own rights, never elevated.

// Retries the connection while the service is not reachable (starting, restarting).
constexpr UINT_PTR kFaceRetryTimer = 101;  // beside the menu's timer of the tray window

// The tray window was created as the face: connects and shows the icon.
void StartFace(HWND window);
// The window ends: the connection closes, nothing else changes.
void EndFace();

// The service's messages (app/face_client.h) and the connection's end.
void OnFaceLinkMessage(HWND window, LPARAM message);
void OnFaceLinkLost(HWND window);
void OnFaceRetryTimer(HWND window);
// The console face's duties: a person's input, and a change of the displays.
void OnFaceInput(HRAWINPUT input);
void OnFaceDisplayChange();
// The menu's "Exit Kalnix": the person is told that the laptop stays protected, then the icon
// goes.
void OnFaceExit(HWND window);

// The text of that note.
constexpr const wchar_t* kFaceExitNote =
    L"Kalnix keeps protecting this laptop; the icon comes back at the next sign-in.";
