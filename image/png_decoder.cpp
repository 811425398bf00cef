#include "image/png_decoder.h"

#include <cstdlib>
#include <cstring>

#include "image/pixel_path.h"
#include "image/png_unfilter.h"
#include "image/raw_inflate.h"

namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr uint32_t kCrcBytes = 4;
constexpr uint32_t kZlibHeaderBytes = 2;
constexpr uint32_t kAdlerBytes = 4;

uint32_t BigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool IsChunkType(const uint8_t* type, const char* name) { return memcmp(type, name, 4) == 0; }

struct PngHeader {
    uint32_t width;
    uint32_t height;
    uint8_t channels;
    uint32_t capacity;
};

// Signature, then IHDR: 8-bit truecolour with or without alpha, no interlacing, at least
// one pixel, and rows that fit the capacity cap (which also keeps every later size within
// 32 bits).
bool ReadHeader(void* state, PngReadCallback read, PngHeader* header) {
    uint8_t head[33];
    if (!read(head, sizeof(head), state)) return false;
    if (memcmp(head, kSignature, sizeof(kSignature)) != 0) return false;
    if (BigEndian32(head + 8) != 13 || !IsChunkType(head + 12, "IHDR")) return false;
    const uint8_t* fields = head + 16;
    const uint8_t depth = fields[8];
    const uint8_t colourType = fields[9];
    if (depth != 8 || (colourType & 3) != 2) return false;
    if (fields[10] != 0 || fields[11] != 0 || fields[12] != 0) return false;
    header->width = BigEndian32(fields);
    header->height = BigEndian32(fields + 4);
    if (header->width == 0 || header->height == 0) return false;  // no pixels to show
    header->channels = (colourType & 4) ? 4 : 3;
    const uint64_t stride = static_cast<uint64_t>(header->width) * header->channels + 1;
    const uint64_t capacity = stride * header->height;
    if (capacity > kMaxPngImageCapacity) return false;
    header->capacity = static_cast<uint32_t>(capacity);
    return true;
}

void* AllocateFromCHeap(uint32_t size) { return malloc(size); }
void ReleaseToCHeap(void* block) { free(block); }
constexpr PngAllocator kCHeap = {AllocateFromCHeap, ReleaseToCHeap};

// Everything the decoder holds while it runs; whatever is still held at the end is
// released here, on success and failure alike.
class DecodeBuffers {
public:
    explicit DecodeBuffers(const PngAllocator& allocator) : allocator_(allocator) {}
    ~DecodeBuffers() {
        ReleaseChunkBuffer();
        if (image_) allocator_.release(image_);
    }
    DecodeBuffers(const DecodeBuffers&) = delete;
    DecodeBuffers& operator=(const DecodeBuffers&) = delete;

    // Grows the chunk buffer to exactly `size` bytes when it is smaller; never shrinks it.
    // Each chunk is read in whole, so the old contents need not survive.
    uint8_t* ChunkBuffer(uint32_t size) {
        if (size > chunkSize_) {
            ReleaseChunkBuffer();
            chunk_ = static_cast<uint8_t*>(allocator_.allocate(size));
            if (!chunk_) return nullptr;
            chunkSize_ = size;
        }
        return chunk_;
    }
    void ReleaseChunkBuffer() {
        if (chunk_) allocator_.release(chunk_);
        chunk_ = nullptr;
        chunkSize_ = 0;
    }
    PngImage* AllocateImage(const PngHeader& header) {
        image_ = static_cast<PngImage*>(allocator_.allocate(sizeof(PngImage) + header.capacity));
        if (!image_) return nullptr;
        image_->width = header.width;
        image_->height = header.height;
        image_->channels = header.channels;
        image_->release = allocator_.release;
        return image_;
    }
    PngImage* image() const { return image_; }
    PngImage* ReleaseImage() {
        PngImage* image = image_;
        image_ = nullptr;
        return image;
    }

private:
    const PngAllocator allocator_;
    uint8_t* chunk_ = nullptr;
    uint32_t chunkSize_ = 0;
    PngImage* image_ = nullptr;
};

// The zlib header must name deflate with a window of at most 32 KB and no preset
// dictionary. Its check value is not tested.
bool IsAcceptedZlibHeader(const uint8_t* data) {
    return (data[0] & 0x0F) == 8 && (data[0] >> 4) <= 7 && (data[1] & 0x20) == 0;
}

// One IDAT chunk holding one complete zlib stream, inflated into the rows after what the
// earlier chunks produced.
bool ReadIdat(void* state, PngReadCallback read, uint32_t length, const PngHeader& header,
              DecodeBuffers* buffers, RawInflater* inflater, uint32_t* produced) {
    if (length > kMaxIdatLength) return false;
    // Shorter than header plus check value: no stream can fit, and a chunk under two
    // bytes would not even hold the header.
    if (length < kZlibHeaderBytes + kAdlerBytes) return false;
    uint8_t* data = buffers->ChunkBuffer(length + kCrcBytes);
    if (!data || !read(data, length + kCrcBytes, state)) return false;
    if (!IsAcceptedZlibHeader(data)) return false;
    PngImage* image = buffers->image();
    if (!image) {
        image = buffers->AllocateImage(header);
        if (!image) return false;
        *produced = 0;
    }
    uint32_t consumed = 0;
    uint32_t count = 0;
    if (!inflater->Inflate(data + kZlibHeaderBytes, length - kZlibHeaderBytes,
                           PngImageRows(image) + *produced, header.capacity - *produced,
                           &consumed, &count)) {
        return false;
    }
    // Exactly the Adler-32 value may follow the deflate data inside the chunk.
    if (consumed + kZlibHeaderBytes + kAdlerBytes != length) return false;
    *produced += count;
    return true;
}

// Skips a chunk's data and CRC in two steps, so that no length can wrap the count.
bool SkipChunk(void* state, PngReadCallback read, uint32_t length) {
    return read(nullptr, length, state) && read(nullptr, kCrcBytes, state);
}

}  // namespace

uint8_t* PngImageRows(PngImage* image) { return reinterpret_cast<uint8_t*>(image + 1); }

const uint8_t* PngImageRows(const PngImage* image) {
    return reinterpret_cast<const uint8_t*>(image + 1);
}

PngImage* DecodePng(void* state, PngReadCallback read, const PngAllocator* allocator) {
    PngHeader header;
    if (!ReadHeader(state, read, &header)) return nullptr;
    DecodeBuffers buffers(allocator ? *allocator : kCHeap);
    RawInflater inflater;
    uint32_t produced = 0;
    for (;;) {
        uint8_t head[8];
        if (!read(head, sizeof(head), state)) return nullptr;
        const uint32_t length = BigEndian32(head);
        if (IsChunkType(head + 4, "IDAT")) {
            if (!ReadIdat(state, read, length, header, &buffers, &inflater, &produced)) {
                return nullptr;
            }
            continue;
        }
        if (!SkipChunk(state, read, length)) return nullptr;
        if (IsChunkType(head + 4, "IEND")) break;
    }
    buffers.ReleaseChunkBuffer();
    PngImage* image = buffers.image();
    // Rows that no data filled would be shown as garbage: such an image is refused.
    if (!image || produced != header.capacity) return nullptr;
    if (!UnfilterPngRows(PngImageRows(image), image->width, image->height, image->channels,
                         BestPixelPath())) {
        return nullptr;
    }
    return buffers.ReleaseImage();
}

void FreePngImage(PngImage* image) {
    if (image) image->release(image);
}
