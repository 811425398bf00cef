#pragma once

#include <windows.h>

// The default sound output (the console role's render endpoint): whether the alarm's tone,
// which plays through it, can be heard. Read only, never changed: the master volume is the
// user's. COM runs on the calling thread, the main one, initialised at the first read.

// S_OK with the mute state and the master volume (0.0 to 1.0); E_NOTFOUND, the HRESULT of
// ERROR_NOT_FOUND, when there is no sound output; another failed HRESULT when it cannot be
// asked.
HRESULT WINAPI ReadDefaultSoundOutput(BOOL* muted, float* volume);

// Ends COM on the main thread at the end of the program, if a read began it.
void EndSoundOutputReads();
