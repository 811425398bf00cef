#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/logo_scale.h"

namespace {

// Pixels of one grey level each, opaque: B = G = R = level, A = 255.
std::vector<uint8_t> GreyRow(const std::vector<uint8_t>& levels) {
    std::vector<uint8_t> pixels;
    for (uint8_t level : levels) pixels.insert(pixels.end(), {level, level, level, 255});
    return pixels;
}

std::vector<uint8_t> Levels(const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> levels;
    for (size_t i = 0; i < pixels.size(); i += 4) levels.push_back(pixels[i]);
    return levels;
}

// Enlarging interpolates between neighbours (no blocks of repeated pixels), reducing averages
// over a destination pixel's width and a little around it, and the edges hold their colour.
TEST(ScalePremultipliedTest, EnlargesSmoothlyAndReducesByAveraging) {
    const struct { const char* name; std::vector<uint8_t> from; std::vector<uint8_t> to; } rows[] = {
        {"twice as wide: bilinear", {0, 255}, {0, 64, 191, 255}},
        {"one and a half", {0, 255}, {0, 128, 255}},
        {"the same size copies", {10, 200, 30}, {10, 200, 30}},
        {"half as wide: a tent two pixels wide", {0, 0, 255, 255}, {32, 223}},
        {"a flat row stays flat", {90, 90, 90}, {90, 90, 90, 90, 90, 90, 90}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> source = GreyRow(row.from);
        std::vector<uint8_t> scaled(row.to.size() * 4, 0xEE);
        ASSERT_TRUE(ScalePremultiplied(source.data(), static_cast<uint32_t>(row.from.size()), 1, scaled.data(),
                                       static_cast<uint32_t>(row.to.size()), 1));
        EXPECT_EQ(Levels(scaled), row.to);
        for (size_t i = 3; i < scaled.size(); i += 4) EXPECT_EQ(scaled[i], 255);
    }
}

// Premultiplied colour blends with its alpha: half a red pixel beside a transparent one stays
// red, only fainter, and no colour ever exceeds its alpha.
TEST(ScalePremultipliedTest, ColourFadesWithTransparencyAndNeverExceedsAlpha) {
    const uint8_t source[] = {0, 0, 255, 255, 0, 0, 0, 0, 0, 3, 5, 9};  // red, transparent, faint
    uint8_t scaled[7 * 2 * 4];
    ASSERT_TRUE(ScalePremultiplied(source, 3, 1, scaled, 7, 2));
    for (size_t i = 0; i < sizeof(scaled); i += 4) {
        EXPECT_EQ(scaled[i], 0u) << i;  // no blue appears
        for (int c = 0; c < 3; ++c) EXPECT_LE(scaled[i + c], scaled[i + 3]) << i;
    }
    EXPECT_EQ(scaled[2], 255);  // the red edge stays whole
    EXPECT_EQ(scaled[3], 255);
    EXPECT_EQ(scaled[2 * 4 + 2], scaled[2 * 4 + 3]) << "between red and transparent: fainter red, still pure";
    EXPECT_LT(scaled[2 * 4 + 3], 255);
    EXPECT_GT(scaled[2 * 4 + 3], 0);
}

TEST(ScalePremultipliedTest, RefusesEmptyAndOversizedImagesWritingNothing) {
    const uint8_t source[4] = {1, 2, 3, 4};
    uint8_t destination[4] = {9, 9, 9, 9};
    const struct { uint32_t sw, sh, dw, dh; } rows[] = {
        {0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}, {1, 1, 1u << 15, 1}, {1u << 15, 1, 1, 1}};
    for (const auto& row : rows) {
        EXPECT_FALSE(ScalePremultiplied(source, row.sw, row.sh, destination, row.dw, row.dh));
        EXPECT_EQ(destination[0], 9);
    }
}

}  // namespace
