#pragma once

// zlib's raw inflate as the PNG decoder uses it: one complete deflate stream per call, in
// one pass over the whole input, into a fixed output span.

#include <cstdint>

#include <zlib.h>

class RawInflater {
public:
    RawInflater() = default;
    ~RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // Decodes one stream that must end inside the input and fit in the output; every call
    // starts with a fresh window. Reports the bytes consumed (up to and including the byte
    // holding the final block's last bit) and produced.
    bool Inflate(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                 uint32_t capacity, uint32_t* consumed, uint32_t* produced);

private:
    z_stream stream_ = {};
    bool ready_ = false;
};
