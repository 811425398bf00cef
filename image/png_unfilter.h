#pragma once

// Reconstruction of filtered PNG rows, in place.

#include <cstdint>

#include "image/pixel_path.h"

// The loops that do it, all giving identical bytes: portable; SSE2; SSE2 with the Paeth
// loops in AVX's three-operand forms, which need far fewer instructions for its chain of
// comparisons and choices.
enum class UnfilterLoops { Portable, Sse2, Avx };

// The fastest loops the running processor can run on the given path.
UnfilterLoops BestUnfilterLoops(PixelPath path);

// Rows as the decoder stores them: height rows of (width * channels + 1) bytes, each the
// filter type followed by the filtered samples. Reconstructs them in place, keeping the
// filter bytes. False when a filter type is above 4, or the first row uses Average or
// Paeth (Up on the first row leaves it as it is). Rows before a refused one are already
// reconstructed.
bool UnfilterPngRows(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                     PixelPath path);
// The same with the given loops, which the processor must be able to run.
bool UnfilterPngRowsWith(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                         UnfilterLoops loops);
