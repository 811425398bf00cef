#pragma once

#include <windows.h>

// Stand-ins for sound: Wine has no speaker (its Beep returns at once) and no audio endpoint.
// Tests may swap an entry inside a scope (tests/support/platform_scope.h).
struct SoundSeam {
    // The lid alarm's tones.
    decltype(&::Beep) beep;
    // The default sound output's mute state and master volume (0.0 to 1.0): S_OK, or a failed
    // HRESULT when there is no such device or it cannot be asked (common/sound_output.h).
    HRESULT(WINAPI* readSoundOutput)(BOOL* muted, float* volume);
};

extern SoundSeam g_soundSeam;
