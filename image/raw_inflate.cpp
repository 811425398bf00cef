#include "image/raw_inflate.h"

RawInflater::~RawInflater() {
    if (ready_) inflateEnd(&stream_);
}

bool RawInflater::Inflate(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                          uint32_t capacity, uint32_t* consumed, uint32_t* produced) {
    // The state is set up once and reset per stream, which also forgets the window.
    if (!ready_) {
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) return false;
        ready_ = true;
    } else if (inflateReset(&stream_) != Z_OK) {
        return false;
    }
    stream_.next_in = const_cast<Bytef*>(input);
    stream_.avail_in = inputLength;
    stream_.next_out = output;
    stream_.avail_out = capacity;
    // Z_FINISH: everything is at hand, so zlib may decode in one go without keeping a window.
    if (inflate(&stream_, Z_FINISH) != Z_STREAM_END) return false;
    *consumed = inputLength - stream_.avail_in;
    *produced = capacity - stream_.avail_out;
    return true;
}
