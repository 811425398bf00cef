#pragma once

// The logo drawn larger or smaller than its pixels (a display scale other than 100 %), with a
// filter that keeps its soft edges soft: bilinear when enlarging, a tent as wide as a
// destination pixel when reducing. Pixels are 32-bit B, G, R, A with premultiplied colour,
// as the logo's DIB section holds them, so colour and transparency blend together.

#include <cstdint>

// Writes destinationWidth x destinationHeight pixels (rows of width * 4 bytes, no gap) from
// the source's, edges clamped. Every colour stays at most its alpha. False, writing nothing,
// when a size is 0, the work would not fit in memory, or memory runs out.
bool ScalePremultiplied(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
                        uint32_t destinationWidth, uint32_t destinationHeight);
