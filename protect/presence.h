#pragma once

#include <windows.h>

// Whether someone may be at a closed laptop: keyboard and mouse input by a person, and whether
// Kalnix runs where that person would be, the console session.

// Watches the keyboards and mice for the window (raw input, also while it is in the
// background) while the lid is closed; nothing is watched while it is open.
void StartInputWatch(HWND window);
void StopInputWatch();
// WM_INPUT: true, and noted, when the input came from a device. Input that a program injects
// (a "mouse jiggler") comes with no device and is no person.
bool NotePersonInput(HRAWINPUT input);
// Awake milliseconds since the last input by a person the watch saw, or since the last input
// of any kind where the watch could not start; ~0 when none was seen.
ULONGLONG MsSincePersonInput();
constexpr ULONGLONG kNoInputSeen = ~0ull;

// True in the session whose desktop is the laptop's own screen and keyboard: not a remote
// one, nor one a user switch has left.
bool RunsInConsoleSession();
