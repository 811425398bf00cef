#pragma once

// Reconstruction of filtered PNG rows, in place.

#include <cstdint>

#include "image/pixel_path.h"

// Rows as the decoder stores them: height rows of (width * channels + 1) bytes, each the
// filter type followed by the filtered samples. Reconstructs them in place, keeping the
// filter bytes. False when a filter type is above 4, or the first row uses Average or
// Paeth (Up on the first row leaves it as it is). Rows before a refused one are already
// reconstructed.
bool UnfilterPngRows(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                     PixelPath path);
