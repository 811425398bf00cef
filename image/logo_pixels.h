#pragma once

// The logo's pixels as a 32-bit bottom-up DIB holds them, for AlphaBlend: B, G, R, A bytes
// with the colour premultiplied by alpha (truncated), the last PNG row first in memory.

#include <cstdint>

#include "image/pixel_path.h"
#include "image/png_decoder.h"

// floor(value * alpha / 255) for bytes, without a division.
inline uint8_t Premultiply(uint32_t value, uint32_t alpha) {
    return static_cast<uint8_t>((value * alpha * 0x8081u) >> 23);
}

// Writes width * height * 4 bytes to dib. False, writing nothing, unless the image has 3 or
// 4 channels.
bool ConvertToDibPixels(const PngImage* image, uint8_t* dib, PixelPath path);
