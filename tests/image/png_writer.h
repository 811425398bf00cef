#pragma once

// A small PNG writer for the decoder's tests and fuzz seeds: builds files in memory, right
// or deliberately wrong, chunk by chunk.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/png_decoder.h"

using Bytes = std::string;

struct ImageDeleter {
    void operator()(PngImage* image) const { FreePngImage(image); }
};
using ImagePtr = std::unique_ptr<PngImage, ImageDeleter>;

// Decodes a whole file held in memory.
ImagePtr Decode(const Bytes& file);

struct PngFields {
    uint32_t width = 1;
    uint32_t height = 1;
    uint8_t depth = 8;
    uint8_t colourType = 6;
    uint8_t compression = 0;
    uint8_t filterMethod = 0;
    uint8_t interlace = 0;
};

Bytes PngSignature();
// length, type, data and a correct CRC.
Bytes PngChunk(const char* type, const Bytes& data);
Bytes IhdrChunk(const PngFields& fields);
Bytes IendChunk();

// zlib streams: compressed by zlib, or as stored blocks of at most blockSize bytes, which
// gives an exact, predictable length (raw size + 5 per block + 6).
Bytes ZlibCompress(const Bytes& raw);
Bytes ZlibStored(const Bytes& raw, uint32_t blockSize);

// Pixels (width * channels bytes a row, rows one after another) filtered row by row with
// the given types (cycled when shorter than the rows), each row led by its filter byte.
Bytes FilterRows(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t channels,
                 const std::vector<uint8_t>& filters);

// A whole file: signature, IHDR, one IDAT holding zlib of the filtered rows, IEND.
Bytes MakePng(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t channels,
              const std::vector<uint8_t>& filters);

// Reproducible noise.
Bytes NoiseBytes(size_t count, uint32_t seed);
