#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "image/logo_bitmap.h"
#include "png_writer.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace {


struct BitmapDeleter {
    void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using BitmapPtr = std::unique_ptr<std::remove_pointer<HBITMAP>::type, BitmapDeleter>;

void ExpectShippedLogo(const PngImage* image) {
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 401u);
    EXPECT_EQ(image->height, 197u);
    EXPECT_EQ(image->channels, 4);
}

TEST(LogoBitmap, SectionIsTopDownAs32BitBottomUpDib) {
    // Three opaque rows, red, green, blue from the top, and a half-transparent pixel.
    const uint32_t width = 4, height = 3;
    Bytes pixels;
    const char rowColours[3][4] = {{'\xFF', 0, 0, '\xFF'}, {0, '\xFF', 0, '\xFF'}, {0, 0, '\xFF', '\xFF'}};
    for (const auto& c : rowColours) {
        for (uint32_t x = 0; x < width; ++x) pixels.append(c, 4);
    }
    pixels.replace(4, 4, Bytes{10, 20, 30, 127});
    ImagePtr image = Decode(MakePng(pixels, width, height, 4, {1, 2, 4}));
    ASSERT_TRUE(image);
    BitmapPtr bitmap(CreateLogoBitmap(image.get()));
    ASSERT_TRUE(bitmap);

    DIBSECTION section = {};
    ASSERT_EQ(GetObjectW(bitmap.get(), sizeof(section), &section), int(sizeof(section)));
    EXPECT_EQ(section.dsBm.bmWidth, 4);
    EXPECT_EQ(section.dsBm.bmHeight, 3);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(section.dsBmih.biHeight, 3) << "positive: rows stored bottom-up";
    EXPECT_EQ(section.dsBmih.biCompression, DWORD(BI_RGB));
    const uint8_t* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    const uint8_t blue[4] = {255, 0, 0, 255};
    const uint8_t red[4] = {0, 0, 255, 255};
    const uint8_t premultiplied[4] = {14, 9, 4, 127};
    EXPECT_EQ(0, memcmp(bits, blue, 4)) << "last PNG row first in memory";
    EXPECT_EQ(0, memcmp(bits + 2 * width * 4, red, 4));
    EXPECT_EQ(0, memcmp(bits + (2 * width + 1) * 4, premultiplied, 4));

    // As displayed: the first PNG row is on top.
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(dc);
    HGDIOBJ old = SelectObject(dc, bitmap.get());
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(dc, 3, 2), RGB(0, 0, 255));
    SelectObject(dc, old);
    DeleteDC(dc);
}

TEST(LogoBitmap, ShippedLogoDecodesWithSoftEdges) {
    Bytes file = ReadFileBytes(std::wstring(KALNIX_SOURCE_DIR_W) + L"\\res\\logo.png");
    ASSERT_FALSE(file.empty());
    ImagePtr image = Decode(file);
    ExpectShippedLogo(image.get());
    BitmapPtr bitmap(CreateLogoBitmap(image.get()));
    ASSERT_TRUE(bitmap);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectW(bitmap.get(), sizeof(info), &info));
    EXPECT_EQ(info.bmWidth, 401);
    EXPECT_EQ(info.bmHeight, 197);
    const uint8_t* bits = static_cast<const uint8_t*>(info.bmBits);
    int transparent = 0, partial = 0, opaque = 0, overflowing = 0;
    for (int i = 0; i < 401 * 197; ++i) {
        const uint8_t* p = bits + 4 * i;
        if (p[3] == 0) ++transparent;
        else if (p[3] == 255) ++opaque;
        else ++partial;
        if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]) ++overflowing;
    }
    EXPECT_GT(transparent, 1000) << "corners and margins are clear";
    EXPECT_GT(opaque, 1000);
    EXPECT_GT(partial, 1000) << "soft edges";
    EXPECT_EQ(overflowing, 0) << "premultiplied colour never exceeds alpha";
    EXPECT_EQ(bits[3], 0) << "bottom-left corner transparent";
}

TEST(LogoBitmap, LoadLogoPngFindsTheResource) {
    ImagePtr image(LoadLogoPng(IDR_LOGO));
    ExpectShippedLogo(image.get());
}

}  // namespace
