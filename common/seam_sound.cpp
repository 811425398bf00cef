#include "common/seam_sound.h"

#include "common/sound_output.h"

SoundSeam g_soundSeam = {
    &::Beep,
    ReadDefaultSoundOutput,
};
