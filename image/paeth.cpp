#include "image/paeth.h"

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) { return PaethNearest(a, b, c); }
