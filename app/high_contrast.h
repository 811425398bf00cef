#pragma once

#include <windows.h>

// True while the user has a high contrast theme on: its colours are theirs to keep.
inline bool HighContrastOn() {
    HIGHCONTRASTW contrast = {sizeof(contrast), 0, nullptr};
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}
