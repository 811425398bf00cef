#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/logo_pixels.h"
#include "image/paeth.h"
#include "image/png_decoder.h"
#include "image/png_unfilter.h"
#include "png_writer.h"

namespace {

// A PngImage built by hand from decoded samples.
struct OwnedImage {
    std::vector<uint8_t> block;
    PngImage* get() { return reinterpret_cast<PngImage*>(block.data()); }
};

OwnedImage MakeImage(uint32_t width, uint32_t height, uint8_t channels, const Bytes& samples) {
    OwnedImage image;
    const uint32_t stride = width * channels + 1;
    image.block.assign(sizeof(PngImage) + stride * height, 0);
    PngImage* header = image.get();
    header->width = width;
    header->height = height;
    header->channels = channels;
    for (uint32_t y = 0; y < height; ++y) {
        memcpy(PngImageRows(header) + y * stride + 1, samples.data() + y * (stride - 1), stride - 1);
    }
    return image;
}

std::vector<uint8_t> Convert(PngImage* image, PixelPath path) {
    std::vector<uint8_t> dib(static_cast<size_t>(image->width) * image->height * 4, 0xEE);
    EXPECT_TRUE(ConvertToDibPixels(image, dib.data(), path));
    return dib;
}

const PixelPath kPaths[] = {PixelPath::Portable, PixelPath::Sse2};

TEST(LogoPixels, PremultipliedBytesAreTruncatedAndReordered) {
    struct Case { uint8_t r, g, b, a; uint8_t bgra[4]; const char* shows; };
    const Case cases[] = {
        {10, 20, 30, 127, {14, 9, 4, 127}, "truncated, not rounded"},
        {255, 255, 255, 128, {128, 128, 128, 128}, "half-transparent white"},
        {200, 100, 50, 0, {0, 0, 0, 0}, "fully transparent is black"},
        {200, 100, 50, 255, {50, 100, 200, 255}, "opaque keeps its colour"},
        {1, 254, 128, 1, {0, 0, 0, 1}, "nearly transparent"},
    };
    for (PixelPath path : kPaths) {
        for (const Case& c : cases) {
            // Five copies so that both the four-pixel loop and the tail see the pixel.
            Bytes samples;
            for (int i = 0; i < 5; ++i) samples += Bytes{char(c.r), char(c.g), char(c.b), char(c.a)};
            OwnedImage image = MakeImage(5, 1, 4, samples);
            std::vector<uint8_t> dib = Convert(image.get(), path);
            for (int i = 0; i < 5; ++i) {
                EXPECT_EQ(0, memcmp(dib.data() + 4 * i, c.bgra, 4)) << c.shows << " pixel " << i;
            }
        }
    }
}

TEST(LogoPixels, EveryColourAlphaPairMatchesTheDivision) {
    // 256 x 256 pixels: x is the colour, y the alpha, each channel a different colour.
    Bytes samples;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) samples += Bytes{char(c), char(255 - c), char(c ^ 0x5A), char(a)};
    }
    OwnedImage image = MakeImage(256, 256, 4, samples);
    for (PixelPath path : kPaths) {
        std::vector<uint8_t> dib = Convert(image.get(), path);
        for (int a = 0; a < 256; ++a) {
            const uint8_t* row = dib.data() + (255 - a) * 256 * 4;  // bottom-up
            for (int c = 0; c < 256; ++c) {
                const uint8_t want[4] = {uint8_t((c ^ 0x5A) * a / 255), uint8_t((255 - c) * a / 255),
                                         uint8_t(c * a / 255), uint8_t(a)};
                ASSERT_EQ(0, memcmp(row + 4 * c, want, 4)) << "colour " << c << " alpha " << a;
            }
        }
    }
}

TEST(LogoPixels, ThreeChannelsGetOpaqueAlpha) {
    Bytes samples = NoiseBytes(7 * 2 * 3, 3);
    OwnedImage image = MakeImage(7, 2, 3, samples);
    for (PixelPath path : kPaths) {
        std::vector<uint8_t> dib = Convert(image.get(), path);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 7; ++x) {
                const uint8_t* src = reinterpret_cast<const uint8_t*>(samples.data()) + (y * 7 + x) * 3;
                const uint8_t* dst = dib.data() + ((1 - y) * 7 + x) * 4;
                const uint8_t want[4] = {src[2], src[1], src[0], 255};
                ASSERT_EQ(0, memcmp(dst, want, 4)) << x << "," << y;
            }
        }
    }
}

TEST(LogoPixels, LastRowComesFirstInMemory) {
    const uint8_t colours[3][4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    Bytes samples;
    for (const auto& c : colours) {
        for (int x = 0; x < 6; ++x) samples.append(reinterpret_cast<const char*>(c), 4);
    }
    OwnedImage image = MakeImage(6, 3, 4, samples);
    for (PixelPath path : kPaths) {
        std::vector<uint8_t> dib = Convert(image.get(), path);
        for (int memoryRow = 0; memoryRow < 3; ++memoryRow) {
            const uint8_t* c = colours[2 - memoryRow];
            const uint8_t bgra[4] = {c[2], c[1], c[0], c[3]};
            for (int x = 0; x < 6; ++x) {
                EXPECT_EQ(0, memcmp(dib.data() + (memoryRow * 6 + x) * 4, bgra, 4)) << memoryRow;
            }
        }
    }
}

TEST(LogoPixels, OtherChannelCountsAreRefused) {
    for (uint8_t channels : {0, 1, 2, 5}) {
        OwnedImage image = MakeImage(2, 2, 4, Bytes(16, 'x'));
        image.get()->channels = channels;
        std::vector<uint8_t> dib(16, 0xEE);
        EXPECT_FALSE(ConvertToDibPixels(image.get(), dib.data(), BestPixelPath()));
        EXPECT_EQ(dib, std::vector<uint8_t>(16, 0xEE)) << "nothing written";
    }
}

TEST(PixelPaths, Sse2AndPortableUnfilteringGiveIdenticalBytes) {
    if (!CanUseSse2()) GTEST_SKIP() << "no SSE2 on this processor";
    for (uint8_t channels : {3, 4}) {
        for (uint32_t width : {1u, 3u, 4u, 5u, 8u, 13u, 16u, 31u, 100u}) {
            const uint32_t height = 20;
            const uint32_t stride = width * channels + 1;
            Bytes rows = NoiseBytes(stride * height, width + channels);
            for (uint32_t y = 0; y < height; ++y) rows[y * stride] = static_cast<char>(y ? y % 5 : y % 3);
            Bytes portable = rows, sse2 = rows;
            ASSERT_TRUE(UnfilterPngRows(reinterpret_cast<uint8_t*>(&portable[0]), width, height, channels,
                                        PixelPath::Portable));
            ASSERT_TRUE(UnfilterPngRows(reinterpret_cast<uint8_t*>(&sse2[0]), width, height, channels,
                                        PixelPath::Sse2));
            EXPECT_EQ(portable, sse2) << int(channels) << " channels, width " << width;
        }
    }
}

TEST(PixelPaths, BothPathsRefuseTheSameRows) {
    struct Case { uint8_t first, second; bool accepted; };
    const Case cases[] = {{0, 4, true}, {2, 3, true}, {3, 0, false}, {4, 0, false}, {1, 5, false}, {0, 200, false}};
    for (PixelPath path : kPaths) {
        for (const Case& c : cases) {
            Bytes rows = NoiseBytes(2 * 9, 1);
            rows[0] = static_cast<char>(c.first);
            rows[9] = static_cast<char>(c.second);
            EXPECT_EQ(UnfilterPngRows(reinterpret_cast<uint8_t*>(&rows[0]), 2, 2, 4, path), c.accepted)
                << int(c.first) << "," << int(c.second);
        }
    }
}

// Every set of unfiltering loops this processor can run.
std::vector<UnfilterLoops> RunnableLoops() {
    std::vector<UnfilterLoops> loops = {UnfilterLoops::Portable};
    if (CanUseSse2()) loops.push_back(UnfilterLoops::Sse2);
    if (CanUseSse2() && CanUseAvx()) loops.push_back(UnfilterLoops::Avx);
    return loops;
}

const char* Name(UnfilterLoops loops) {
    return loops == UnfilterLoops::Portable ? "portable" : loops == UnfilterLoops::Sse2 ? "SSE2" : "AVX";
}

TEST(PixelPaths, ThreeBytePixelsOfEveryFilterGiveKnownBytes) {
    // Three pixels: the vector loops take the first two, the portable tail the last. The
    // first row (Sub) wraps in its last red; the Paeth row's last pixel picks c, b and a.
    const uint8_t first[9] = {10, 20, 30, 5, 5, 5, 250, 10, 1};
    const uint8_t firstDecoded[9] = {10, 20, 30, 15, 25, 35, 9, 35, 36};
    const uint8_t second[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const uint8_t decoded[5][9] = {
        {1, 2, 3, 4, 5, 6, 7, 8, 9},
        {1, 2, 3, 5, 7, 9, 12, 15, 18},
        {11, 22, 33, 19, 30, 41, 16, 43, 45},
        {6, 12, 18, 14, 23, 32, 18, 37, 43},
        {11, 22, 33, 19, 30, 41, 22, 43, 50},
    };
    for (UnfilterLoops loops : RunnableLoops()) {
        for (uint8_t filter = 0; filter <= 4; ++filter) {
            std::vector<uint8_t> rows(2 * 10);
            rows[0] = 1;
            memcpy(&rows[1], first, 9);
            rows[10] = filter;
            memcpy(&rows[11], second, 9);
            ASSERT_TRUE(UnfilterPngRowsWith(rows.data(), 3, 2, 3, loops));
            EXPECT_EQ(0, memcmp(&rows[1], firstDecoded, 9)) << Name(loops);
            EXPECT_EQ(0, memcmp(&rows[11], decoded[filter], 9)) << Name(loops) << ", filter " << int(filter);
            EXPECT_EQ(rows[10], filter) << "filter byte kept";
        }
    }
}

TEST(PixelPaths, EveryLoopGivesThePortableBytesForEachFilterAndWidth) {
    // Rows all of one filter, so that every row of that type follows a reconstructed one;
    // noise for wide differences, a slow ramp for the ties. Widths around the loops'
    // 16-byte blocks and their tails. The buffer has exactly the rows' size, so that the
    // sanitizer sees any read or write past the last row.
    for (uint8_t channels : {3, 4}) {
        for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 401u}) {
            for (uint8_t filter = 0; filter <= 4; ++filter) {
                const uint32_t height = 6;
                const uint32_t stride = width * channels + 1;
                std::vector<uint8_t> rows(stride * height);
                Bytes noise = NoiseBytes(rows.size(), width * 5 + filter);
                for (size_t i = 0; i < rows.size(); ++i) {
                    rows[i] = i < rows.size() / 2 ? static_cast<uint8_t>(noise[i]) : static_cast<uint8_t>(i % 7);
                }
                rows[0] = 1;
                for (uint32_t y = 1; y < height; ++y) rows[y * stride] = filter;
                std::vector<uint8_t> portable = rows;
                ASSERT_TRUE(UnfilterPngRowsWith(portable.data(), width, height, channels, UnfilterLoops::Portable));
                for (UnfilterLoops loops : RunnableLoops()) {
                    std::vector<uint8_t> out = rows;
                    ASSERT_TRUE(UnfilterPngRowsWith(out.data(), width, height, channels, loops));
                    EXPECT_EQ(out, portable) << Name(loops) << ", " << int(channels) << " channels, width "
                                             << width << ", filter " << int(filter);
                }
            }
        }
    }
}

TEST(PixelPaths, PaethLoopsMatchThePredictorWhereTiesAbound) {
    // Paeth rows under rows of four levels only, with small raw offsets: neighbours are
    // often equal or equally far, where a wrong comparison (< for <=) or a wrong order of
    // preference shows. A width of 64 keeps both the block loop and the tail busy.
    for (uint8_t channels : {3, 4}) {
        const uint32_t width = 64;
        const uint32_t height = 40;
        const uint32_t stride = width * channels + 1;
        std::vector<uint8_t> rows(stride * height);
        Bytes noise = NoiseBytes(rows.size(), channels);
        for (uint32_t y = 0; y < height; ++y) {
            rows[y * stride] = y == 0 ? 0 : (y % 2 ? 4 : 0);
            for (uint32_t i = 1; i < stride; ++i) {
                rows[y * stride + i] = y % 2 ? static_cast<uint8_t>(noise[y * stride + i] & 3)
                                             : static_cast<uint8_t>((noise[y * stride + i] & 3) * 85);
            }
        }
        std::vector<uint8_t> expected = rows;
        for (uint32_t y = 1; y < height; y += 2) {
            uint8_t* cur = &expected[y * stride + 1];
            const uint8_t* prev = cur - stride;
            for (uint32_t x = 0; x < width * channels; ++x) {
                const uint8_t a = x >= channels ? cur[x - channels] : 0;
                const uint8_t c = x >= channels ? prev[x - channels] : 0;
                cur[x] = static_cast<uint8_t>(cur[x] + PaethPredictor(a, prev[x], c));
            }
        }
        for (UnfilterLoops loops : RunnableLoops()) {
            std::vector<uint8_t> out = rows;
            ASSERT_TRUE(UnfilterPngRowsWith(out.data(), width, height, channels, loops));
            EXPECT_EQ(out, expected) << Name(loops) << ", " << int(channels) << " channels";
        }
    }
}

TEST(PixelPaths, BestLoopsFollowThePathAndTheProcessor) {
    EXPECT_EQ(BestUnfilterLoops(PixelPath::Portable), UnfilterLoops::Portable);
    const UnfilterLoops best = BestUnfilterLoops(PixelPath::Sse2);
    if (!CanUseSse2()) {
        EXPECT_EQ(best, UnfilterLoops::Portable);
    } else {
        EXPECT_EQ(best, CanUseAvx() ? UnfilterLoops::Avx : UnfilterLoops::Sse2);
    }
}

}  // namespace
