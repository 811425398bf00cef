#include "png_writer.h"

#include <algorithm>
#include <cstdlib>

#include <zlib.h>

namespace {

Bytes BigEndian(uint32_t v) {
    return Bytes{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                 static_cast<char>(v >> 8), static_cast<char>(v)};
}

// The encoder keeps its own predictor so that a fault in the decoder's cannot cancel out.
int Predict(uint8_t type, int a, int b, int c) {
    switch (type) {
    case 1: return a;
    case 2: return b;
    case 3: return (a + b) / 2;
    case 4: {
        int p = a + b - c;
        int pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
        return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    }
    }
    return 0;
}

}  // namespace

Bytes PngSignature() { return Bytes("\x89PNG\r\n\x1a\n", 8); }

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes body = Bytes(type, 4) + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
    return BigEndian(static_cast<uint32_t>(data.size())) + body + BigEndian(crc);
}

Bytes IhdrChunk(const PngFields& f) {
    Bytes data = BigEndian(f.width) + BigEndian(f.height);
    data += static_cast<char>(f.depth);
    data += static_cast<char>(f.colourType);
    data += static_cast<char>(f.compression);
    data += static_cast<char>(f.filterMethod);
    data += static_cast<char>(f.interlace);
    return PngChunk("IHDR", data);
}

Bytes IendChunk() { return PngChunk("IEND", Bytes()); }

Bytes ZlibCompress(const Bytes& raw) {
    uLongf size = compressBound(raw.size());
    Bytes out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
              reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 6);
    out.resize(size);
    return out;
}

Bytes ZlibStored(const Bytes& raw, uint32_t blockSize) {
    Bytes out("\x78\x01", 2);
    size_t at = 0;
    do {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(blockSize, raw.size() - at));
        bool last = at + n == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xFF);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xFF);
        out += static_cast<char>((~n >> 8) & 0xFF);
        out += raw.substr(at, n);
        at += n;
    } while (at < raw.size());
    uLong adler = adler32(1, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    return out + BigEndian(adler);
}

Bytes FilterRows(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t channels,
                 const std::vector<uint8_t>& filters) {
    const size_t n = static_cast<size_t>(width) * channels;
    Bytes out;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t type = filters[y % filters.size()];
        out += static_cast<char>(type);
        const uint8_t* cur = reinterpret_cast<const uint8_t*>(pixels.data()) + y * n;
        const uint8_t* prev = y ? cur - n : nullptr;
        for (size_t x = 0; x < n; ++x) {
            int a = x >= channels ? cur[x - channels] : 0;
            int b = prev ? prev[x] : 0;
            int c = prev && x >= channels ? prev[x - channels] : 0;
            out += static_cast<char>(cur[x] - Predict(type, a, b, c));
        }
    }
    return out;
}

Bytes MakePng(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t channels,
              const std::vector<uint8_t>& filters) {
    PngFields fields;
    fields.width = width;
    fields.height = height;
    fields.colourType = channels == 4 ? 6 : 2;
    Bytes raw = FilterRows(pixels, width, height, channels, filters);
    return PngSignature() + IhdrChunk(fields) + PngChunk("IDAT", ZlibCompress(raw)) +
           IendChunk();
}

Bytes NoiseBytes(size_t count, uint32_t seed) {
    Bytes out(count, '\0');
    uint32_t s = seed * 2654435761u + 1;
    for (auto& ch : out) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        ch = static_cast<char>(s >> 24);
    }
    return out;
}

ImagePtr Decode(const Bytes& file) {
    MemoryReader reader = {reinterpret_cast<const uint8_t*>(file.data()), static_cast<uint32_t>(file.size())};
    return ImagePtr(DecodePng(&reader, ReadMemory));
}
