#pragma once

// The logo's PNG decoder: portable C++, no Windows header, so it also builds natively for
// fuzzing and benchmarks.

#include <cstdint>

// Reader state over a block of bytes.
struct MemoryReader {
    const uint8_t* next;
    uint32_t remaining;
};

// Reader callback: copies (or, with no destination, skips) count bytes; nonzero on success,
// 0 without consuming anything when fewer than count bytes remain.
using PngReadCallback = int (*)(void* destination, uint32_t count, void* state);

int ReadMemory(void* destination, uint32_t count, void* reader);

// Where the decoder takes its large blocks from: the image and the chunk buffer. The
// default is the C heap; a caller may supply memory that goes back to the system as soon as
// it is released, since a heap keeps freed pages of a one-off decode committed for good.
struct PngAllocator {
    void* (*allocate)(uint32_t size);  // null when out of memory
    void (*release)(void* block);
};

// Decoded image: this header, then height rows of (width * channels + 1) bytes each, the
// row's filter type byte followed by the reconstructed samples (R, G, B[, A]).
struct PngImage {
    uint32_t width;
    uint32_t height;
    uint8_t channels;  // 3 or 4
    void (*release)(void* block);  // how FreePngImage gives the block back
};

// Largest image capacity (the rows with their filter bytes) the decoder will allocate: far
// beyond the logo's 316 KB, small enough that a crafted header cannot ask for gigabytes.
constexpr uint32_t kMaxPngImageCapacity = 64u << 20;
// Largest IDAT chunk the decoder accepts.
constexpr uint32_t kMaxIdatLength = 0x20000;

uint8_t* PngImageRows(PngImage* image);
const uint8_t* PngImageRows(const PngImage* image);
inline uint32_t PngImageStride(const PngImage* image) {
    return image->width * image->channels + 1;
}

// Decodes 8-bit truecolour (with or without alpha), non-interlaced PNG data read through
// the callback; returns null for anything else. Free the result with FreePngImage. Without
// an allocator the blocks come from the C heap.
PngImage* DecodePng(void* state, PngReadCallback read, const PngAllocator* allocator = nullptr);
void FreePngImage(PngImage* image);

