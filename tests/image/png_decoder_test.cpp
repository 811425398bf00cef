#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/paeth.h"
#include "image/png_decoder.h"
#include "png_writer.h"

namespace {


// The decoded samples without the filter bytes.
Bytes Samples(const PngImage* image) {
    const uint32_t stride = PngImageStride(image);
    const uint8_t* rows = PngImageRows(image);
    Bytes out;
    for (uint32_t y = 0; y < image->height; ++y) {
        out.append(reinterpret_cast<const char*>(rows + y * stride + 1), stride - 1);
    }
    return out;
}

Bytes Head(uint32_t width, uint32_t height, uint32_t channels) {
    PngFields f;
    f.width = width;
    f.height = height;
    f.colourType = channels == 4 ? 6 : 2;
    return PngSignature() + IhdrChunk(f);
}

// Rows of zeros with filter type 0: the filtered data of an all-black, transparent image.
Bytes ZeroRows(uint32_t width, uint32_t height, uint32_t channels) {
    return Bytes(static_cast<size_t>(width * channels + 1) * height, '\0');
}

TEST(PngDecoder, EveryFilterRoundTripsAtEveryWidth) {
    const std::vector<uint8_t> filters = {1, 0, 2, 3, 4, 1, 4, 2, 3, 0};
    for (uint32_t channels : {3u, 4u}) {
        for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 17u, 33u, 64u}) {
            const uint32_t height = 12;
            Bytes pixels = NoiseBytes(width * channels * height, width * 7 + channels);
            // Smooth stretches as well, where the predictors pick a and b and c.
            for (size_t i = 0; i < pixels.size() / 2; ++i) pixels[i] = static_cast<char>(i / 5);
            ImagePtr image = Decode(MakePng(pixels, width, height, channels, filters));
            ASSERT_TRUE(image) << channels << " channels, width " << width;
            EXPECT_EQ(image->width, width);
            EXPECT_EQ(image->height, height);
            EXPECT_EQ(image->channels, channels);
            EXPECT_EQ(Samples(image.get()), pixels) << channels << " channels, width " << width;
            // The filter bytes stay as they were read.
            EXPECT_EQ(PngImageRows(image.get())[PngImageStride(image.get()) * 3], 3);
        }
    }
}

TEST(PngDecoder, PaethPredictorPicksNearestNeighbour) {
    struct Case { uint8_t a, b, c, expected; const char* shows; };
    const Case cases[] = {
        {10, 20, 10, 20, "a == c predicts b"},
        {20, 10, 10, 20, "b == c predicts a"},
        {0, 0, 0, 0, "all zero"},
        {255, 255, 0, 255, "p beyond 255 picks a on the tie"},
        {0, 0, 255, 0, "p below 0 picks a on the tie"},
        {100, 200, 150, 150, "c nearest"},
        {255, 0, 255, 0, "b when pb wins"},
        {7, 7, 7, 7, "all equal"},
        {0, 15, 5, 15, "tie between b and c goes to b"},
        {5, 10, 0, 10, "b nearest"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PaethPredictor(c.a, c.b, c.c), c.expected) << c.shows;
    }
}

TEST(PngDecoder, IdatLengthLimitIsExactly128KiB) {
    // Stored blocks give a chunk of a chosen length: raw + 5 per block + 6.
    for (uint32_t length : {0x20000u, 0x20001u}) {
        bool built = false;
        for (uint32_t blocks = 3; blocks < 12 && !built; ++blocks) {
            const uint32_t raw = length - 6 - 5 * blocks;
            for (uint32_t height = 1; height < 400 && !built; ++height) {
                if (raw % height || (raw / height - 1) % 3) continue;
                const uint32_t width = (raw / height - 1) / 3;
                const uint32_t blockSize = (raw + blocks - 1) / blocks;
                Bytes idat = ZlibStored(ZeroRows(width, height, 3), blockSize);
                if (idat.size() != length) continue;
                built = true;
                ImagePtr image = Decode(Head(width, height, 3) + PngChunk("IDAT", idat) + IendChunk());
                EXPECT_EQ(image != nullptr, length == 0x20000u) << "IDAT of " << length;
            }
        }
        ASSERT_TRUE(built) << length;
    }
}

TEST(PngDecoder, EachIdatHoldsOneCompleteStream) {
    const uint32_t width = 9, height = 6;
    Bytes pixels = NoiseBytes(width * 4 * height, 5);
    Bytes raw = FilterRows(pixels, width, height, 4, {1, 2, 4});
    const size_t half = (width * 4 + 1) * 2 + 7;  // not on a row boundary
    Bytes joined = Head(width, height, 4) + PngChunk("IDAT", ZlibCompress(raw.substr(0, half))) +
                   PngChunk("tEXt", Bytes("Comment\0between", 15)) +
                   PngChunk("IDAT", ZlibCompress(raw.substr(half))) + IendChunk();
    ImagePtr image = Decode(joined);
    ASSERT_TRUE(image) << "two complete streams are joined";
    EXPECT_EQ(Samples(image.get()), pixels);

    Bytes stream = ZlibCompress(raw);
    Bytes split = Head(width, height, 4) + PngChunk("IDAT", stream.substr(0, stream.size() / 2)) +
                  PngChunk("IDAT", stream.substr(stream.size() / 2)) + IendChunk();
    EXPECT_FALSE(Decode(split)) << "one stream split over two chunks";

    // Data after the Adler-32 value, or a chunk ending inside it.
    EXPECT_FALSE(Decode(Head(width, height, 4) + PngChunk("IDAT", stream + "x") + IendChunk()));
    EXPECT_FALSE(Decode(Head(width, height, 4) +
                        PngChunk("IDAT", stream.substr(0, stream.size() - 1)) + IendChunk()));
}

TEST(PngDecoder, ZlibHeaderBitsAndCheckValues) {
    const uint32_t width = 5, height = 4;
    Bytes pixels = NoiseBytes(width * 3 * height, 9);
    Bytes stream = ZlibCompress(FilterRows(pixels, width, height, 3, {1}));
    struct Case { uint8_t first, second; bool accepted; const char* shows; };
    const Case cases[] = {
        {0x78, 0x9C, true, "deflate, 32 KB window"},
        {0x08, 0x1D, true, "deflate, 256-byte window"},
        {0x78, 0x00, true, "wrong header check value is not noticed"},
        {0x78, 0xBB, false, "preset dictionary bit"},
        {0x77, 0x9C, false, "method 7"},
        {0x79, 0x9C, false, "method 9"},
        {0x88, 0x9C, false, "window field 8"},
        {0xF8, 0x9C, false, "window field 15"},
    };
    for (const Case& c : cases) {
        Bytes s = stream;
        s[0] = static_cast<char>(c.first);
        s[1] = static_cast<char>(c.second);
        ImagePtr image = Decode(Head(width, height, 3) + PngChunk("IDAT", s) + IendChunk());
        EXPECT_EQ(image != nullptr, c.accepted) << c.shows;
    }
    // Neither the Adler-32 value nor the chunk CRCs are checked.
    Bytes badAdler = stream;
    badAdler[badAdler.size() - 1] ^= 0x5A;
    Bytes file = Head(width, height, 3) + PngChunk("IDAT", badAdler) + IendChunk();
    file[file.size() - 1] ^= 0x33;   // IEND's CRC
    file[8 + 8 + 13] ^= 0x44;        // IHDR's CRC
    ImagePtr image = Decode(file);
    ASSERT_TRUE(image);
    EXPECT_EQ(Samples(image.get()), pixels);
}

TEST(PngDecoder, OnlyEightBitTruecolourWithoutInterlace) {
    struct Case { uint8_t depth, colourType, compression, filterMethod, interlace; bool accepted; const char* shows; };
    const Case cases[] = {
        {8, 6, 0, 0, 0, true, "RGBA"},
        {8, 2, 0, 0, 0, true, "RGB"},
        {8, 0, 0, 0, 0, false, "greyscale"},
        {8, 3, 0, 0, 0, false, "palette"},
        {8, 4, 0, 0, 0, false, "greyscale with alpha"},
        {16, 6, 0, 0, 0, false, "16-bit RGBA"},
        {16, 2, 0, 0, 0, false, "16-bit RGB"},
        {4, 2, 0, 0, 0, false, "4-bit"},
        {8, 6, 0, 0, 1, false, "interlaced"},
        {8, 6, 1, 0, 0, false, "compression method 1"},
        {8, 6, 0, 1, 0, false, "filter method 1"},
    };
    for (const Case& c : cases) {
        PngFields f;
        f.width = 3;
        f.height = 2;
        f.depth = c.depth;
        f.colourType = c.colourType;
        f.compression = c.compression;
        f.filterMethod = c.filterMethod;
        f.interlace = c.interlace;
        // Data of the right size for an 8-bit image of that many channels, so only the
        // header field can be the reason for a refusal.
        uint32_t channels = (c.colourType & 4) ? 4 : 3;
        Bytes file = PngSignature() + IhdrChunk(f) +
                     PngChunk("IDAT", ZlibCompress(ZeroRows(3, 2, channels))) + IendChunk();
        EXPECT_EQ(Decode(file) != nullptr, c.accepted) << c.shows;
    }
}

TEST(PngDecoder, FilterTypeRules) {
    const uint32_t width = 4, height = 3;
    Bytes pixels = NoiseBytes(width * 4 * height, 21);
    struct Case { std::vector<uint8_t> filters; bool accepted; const char* shows; };
    const Case cases[] = {
        {{0, 1, 2}, true, "None, Sub, Up"},
        {{1, 3, 4}, true, "Average and Paeth after the first row"},
        {{2, 2, 2}, true, "Up on the first row reads as None"},
        {{3, 0, 0}, false, "Average on the first row"},
        {{4, 0, 0}, false, "Paeth on the first row"},
        {{0, 5, 0}, false, "type 5"},
        {{0, 0, 255}, false, "type 255 on the last row"},
    };
    for (const Case& c : cases) {
        Bytes raw = FilterRows(pixels, width, height, 4, c.filters);
        ImagePtr image = Decode(Head(width, height, 4) + PngChunk("IDAT", ZlibCompress(raw)) + IendChunk());
        EXPECT_EQ(image != nullptr, c.accepted) << c.shows;
        if (image) { EXPECT_EQ(Samples(image.get()), pixels) << c.shows; }
    }
}

TEST(PngDecoder, ChunkWalkEndings) {
    const uint32_t width = 3, height = 2;
    Bytes idat = PngChunk("IDAT", ZlibCompress(ZeroRows(width, height, 4)));
    Bytes head = Head(width, height, 4);
    struct Case { Bytes file; bool accepted; const char* shows; };
    const Case cases[] = {
        {head + idat + IendChunk(), true, "complete"},
        {head + idat + IendChunk() + "trailing", true, "bytes after IEND are never read"},
        {head + PngChunk("PLTE", Bytes(6, 'p')) + idat + PngChunk("zzZz", "x") + IendChunk(), true,
         "other chunks, even critical ones, are skipped"},
        {head + idat, false, "no IEND"},
        {head + idat + IendChunk().substr(0, 8), false, "IEND without its CRC"},
        {head + idat + IendChunk().substr(0, 10), false, "IEND with half its CRC"},
        {head + IendChunk(), false, "no IDAT"},
        {head.substr(0, 32), false, "header cut short"},
        {Bytes("\x89PNG\r\n\x1a\x0b", 8) + head.substr(8) + idat + IendChunk(), false, "bad signature"},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(c.file) != nullptr, c.accepted) << c.shows;

    Bytes ihdr = head;
    ihdr[12 + 3] = 'r';  // "IHDr"
    EXPECT_FALSE(Decode(ihdr + idat + IendChunk())) << "first chunk not IHDR";

    // Every prefix of a good file is refused, however it is cut.
    Bytes good = head + idat + IendChunk();
    for (size_t n = 0; n < good.size(); ++n) ASSERT_FALSE(Decode(good.substr(0, n))) << n;
}

TEST(PngDecoder, DecodedSizeMustMatchTheImage) {
    const uint32_t width = 6, height = 5;
    const size_t capacity = (width * 4 + 1) * height;
    struct Case { size_t produced; bool accepted; const char* shows; };
    const Case cases[] = {
        {capacity, true, "exactly the rows"},
        {capacity + 1, false, "one byte more than the image holds"},
        {capacity + 4096, false, "far more than the image holds"},
        {capacity - 1, false, "one byte short: the last row would be garbage"},
        {0, false, "nothing at all"},
    };
    for (const Case& c : cases) {
        Bytes file = Head(width, height, 4) + PngChunk("IDAT", ZlibCompress(Bytes(c.produced, '\0'))) + IendChunk();
        EXPECT_EQ(Decode(file) != nullptr, c.accepted) << c.shows;
    }
    // Short data spread over two chunks is refused just the same.
    Bytes twoShort = Head(width, height, 4) + PngChunk("IDAT", ZlibCompress(Bytes(10, '\0'))) +
                     PngChunk("IDAT", ZlibCompress(Bytes(capacity - 11, '\0'))) + IendChunk();
    EXPECT_FALSE(Decode(twoShort));
}

TEST(PngDecoder, IdatTooShortForItsHeaderIsRefused) {
    const uint32_t width = 2, height = 2;
    Bytes good = PngChunk("IDAT", ZlibCompress(ZeroRows(width, height, 4)));
    for (size_t length = 0; length < 6; ++length) {
        Bytes file = Head(width, height, 4) + PngChunk("IDAT", Bytes(length, '\x78')) + good + IendChunk();
        EXPECT_FALSE(Decode(file)) << "IDAT of " << length << " bytes";
    }
}

TEST(PngDecoder, ImageSizeLimits) {
    struct Case { uint32_t width, height, channels; const char* shows; };
    const Case cases[] = {
        // (4 * 0x40000000 + 1) * 16 wraps to 16 in 32 bits.
        {0x40000000u, 16, 4, "row size wrapping 32 bits to a tiny buffer"},
        {0x3FFFFFFFu, 2, 4, "capacity beyond 32 bits"},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 4, "largest dimensions"},
        {1365, 16385, 3, "one row beyond the 64 MiB cap"},
        // No pixels: the rows would hold filter bytes only, or there would be no rows.
        {0, 2, 4, "width 0"},
        {2, 0, 4, "height 0"},
        {0, 0, 3, "0 x 0"},
    };
    for (const Case& c : cases) {
        // Data that would fill the wrapped size, so nothing but the size check can refuse it.
        const uint32_t wrapped = (c.width * c.channels + 1) * c.height;
        Bytes rows(std::min<uint32_t>(wrapped, kMaxPngImageCapacity + 4096), '\0');
        Bytes file = Head(c.width, c.height, c.channels) + PngChunk("IDAT", ZlibCompress(rows)) + IendChunk();
        EXPECT_FALSE(Decode(file)) << c.shows;
    }
    // Exactly at the cap: 16384 rows of 4096 bytes.
    static_assert((1365 * 3 + 1) * 16384 == kMaxPngImageCapacity, "cap image");
    Bytes file = Head(1365, 16384, 3) + PngChunk("IDAT", ZlibCompress(ZeroRows(1365, 16384, 3))) + IendChunk();
    ImagePtr image = Decode(file);
    ASSERT_TRUE(image) << "an image exactly at the cap";
    EXPECT_EQ(image->height, 16384u);
}

TEST(PngDecoder, ChunkLengthNearFourGigabytesDoesNotWrap) {
    // A skipped chunk of 0xFFFFFFFC bytes plus its CRC must not count as zero bytes, which
    // would read the following bytes as a valid image.
    const uint32_t width = 2, height = 2;
    Bytes rest = PngChunk("IDAT", ZlibCompress(ZeroRows(width, height, 4))) + IendChunk();
    Bytes file = Head(width, height, 4) + Bytes("\xFF\xFF\xFF\xFCtEXt", 8) + rest;
    ASSERT_TRUE(Decode(Head(width, height, 4) + rest));
    EXPECT_FALSE(Decode(file));
}

TEST(PngDecoder, ReaderCopiesSkipsAndRefusesWithoutConsuming) {
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    MemoryReader reader = {bytes, 5};
    uint8_t out[3] = {};
    EXPECT_EQ(ReadMemory(out, 2, &reader), 1);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(ReadMemory(nullptr, 1, &reader), 1);
    EXPECT_EQ(ReadMemory(out, 3, &reader), 0);
    EXPECT_EQ(reader.remaining, 2u);
    EXPECT_EQ(reader.next, bytes + 3);
    EXPECT_EQ(ReadMemory(out, 2, &reader), 1);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(reader.remaining, 0u);
    EXPECT_EQ(ReadMemory(out, 0, &reader), 1);
    EXPECT_EQ(ReadMemory(out, 1, &reader), 0);
}

// A caller's allocator: counts the blocks it has out, and can be told to refuse.
struct CountingAllocator {
    static int outstanding;
    static int given;
    static int refuseFrom;  // the allocation number from which it fails; -1 never
    static void* Allocate(uint32_t size) {
        if (refuseFrom >= 0 && given >= refuseFrom) return nullptr;
        ++given;
        ++outstanding;
        return malloc(size);
    }
    static void Release(void* block) {
        --outstanding;
        free(block);
    }
};
int CountingAllocator::outstanding = 0;
int CountingAllocator::given = 0;
int CountingAllocator::refuseFrom = -1;

TEST(PngDecoder, EveryBlockComesFromTheCallersAllocatorAndGoesBack) {
    const PngAllocator allocator = {CountingAllocator::Allocate, CountingAllocator::Release};
    const uint32_t width = 9, height = 6;
    Bytes raw = ZeroRows(width, height, 4);
    // The second chunk is the longer one: the chunk buffer grows once.
    Bytes grown = Head(width, height, 4) + PngChunk("IDAT", ZlibStored(raw.substr(0, 20), 20)) +
                  PngChunk("IDAT", ZlibStored(raw.substr(20), 64)) + IendChunk();
    struct Case { Bytes file; int refuseFrom; bool decoded; const char* shows; };
    const Case cases[] = {
        {grown, -1, true, "decoded: only the image is still out"},
        {grown.substr(0, grown.size() - 5), -1, false, "cut short after the image was allocated"},
        {grown, 0, false, "the first chunk buffer refused"},
        {grown, 1, false, "the image refused"},
        {grown, 2, false, "the grown chunk buffer refused"},
    };
    for (const Case& c : cases) {
        CountingAllocator::outstanding = 0;
        CountingAllocator::given = 0;
        CountingAllocator::refuseFrom = c.refuseFrom;
        MemoryReader reader = {reinterpret_cast<const uint8_t*>(c.file.data()),
                               static_cast<uint32_t>(c.file.size())};
        PngImage* image = DecodePng(&reader, ReadMemory, &allocator);
        EXPECT_EQ(image != nullptr, c.decoded) << c.shows;
        EXPECT_EQ(CountingAllocator::outstanding, c.decoded ? 1 : 0) << c.shows;
        FreePngImage(image);  // back through the allocator that gave it
        EXPECT_EQ(CountingAllocator::outstanding, 0) << c.shows;
    }
    EXPECT_EQ(CountingAllocator::given, 2) << "the refused grown buffer came after two blocks";
}

}  // namespace
