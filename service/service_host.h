#pragma once

#include <windows.h>

// The protection as the service hosts it: for the whole machine, with the console session's
// face as its ears (a person's input, the displays) and its voice (the alarm's tone, the
// display-off request). With no face at the console (the sign-in screen, nobody signed in)
// nothing rings and nobody is heard: a closed laptop nobody is at is rested all the same.

// Reads the settings, starts the faces' pipe and the protection, and reports the start.
void StartServiceProtection(HWND window);
// Everything put back, the pipe closed, the stop reported. Safe to call twice.
void EndServiceProtection();
// The settings key or the policy key changed: a new mode or alarm delay applies at once, and
// the faces show it.
void OnServiceSettingsChanged();
