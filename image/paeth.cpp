#include <cstdlib>

#include "image/png_decoder.h"

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) {
    // Promoted to int: p lies in -255..510, so nothing here can overflow.
    int p = a + b - c;
    int pa = abs(p - a);
    int pb = abs(p - b);
    int pc = abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}
