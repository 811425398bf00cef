#include "image/logo_pixels.h"

#include <cstddef>

#include "image/sse2_target.h"

namespace {

void ConvertRgbaPortable(const uint8_t* src, uint8_t* dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
        uint32_t a = src[3];
        dst[0] = Premultiply(src[2], a);
        dst[1] = Premultiply(src[1], a);
        dst[2] = Premultiply(src[0], a);
        dst[3] = static_cast<uint8_t>(a);
    }
}

void ConvertRgbPortable(const uint8_t* src, uint8_t* dst, uint32_t width) {
    // Alpha 255 leaves every colour as it is.
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 255;
    }
}

#ifdef KALNIX_HAVE_SSE2_CODE

// Two pixels in 16-bit lanes: reorder to B, G, R, A and multiply by alpha, with 255 in
// the alpha lane so that the same division gives alpha back.
KALNIX_SSE2 inline __m128i PremultiplyTwo(__m128i rgba16) {
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i alphaAs255 = _mm_set_epi16(255, 0, 0, 0, 255, 0, 0, 0);
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba16, 0xFF), 0xFF);
    alpha = _mm_or_si128(_mm_andnot_si128(alphaLanes, alpha), alphaAs255);
    __m128i bgra = _mm_shufflehi_epi16(
        _mm_shufflelo_epi16(rgba16, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
    __m128i product = _mm_mullo_epi16(bgra, alpha);
    // (x * 0x8081) >> 23 == floor(x / 255) for every product of two bytes.
    return _mm_srli_epi16(_mm_mulhi_epu16(product, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
}

KALNIX_SSE2_ENTRY void ConvertRgbaSse2(const uint8_t* src, uint8_t* dst, uint32_t width) {
    const __m128i zero = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4, src += 16, dst += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        __m128i lo = PremultiplyTwo(_mm_unpacklo_epi8(v, zero));
        __m128i hi = PremultiplyTwo(_mm_unpackhi_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(lo, hi));
    }
    ConvertRgbaPortable(src, dst, width - x);
}

#endif

}  // namespace

bool ConvertToDibPixels(const PngImage* image, uint8_t* dib, PixelPath path) {
    const uint32_t channels = image->channels;
    if (channels != 3 && channels != 4) return false;
    const uint32_t width = image->width;
    const uint32_t stride = PngImageStride(image);
    const uint8_t* rows = PngImageRows(image);
    auto convert = channels == 4 ? ConvertRgbaPortable : ConvertRgbPortable;
#ifdef KALNIX_HAVE_SSE2_CODE
    if (channels == 4 && path == PixelPath::Sse2 && CanUseSse2()) convert = ConvertRgbaSse2;
#else
    (void)path;
#endif
    // The DIB is bottom-up: the last PNG row goes first so that the image stands upright.
    for (uint32_t y = image->height; y-- > 0;) {
        convert(rows + static_cast<size_t>(y) * stride + 1, dib, width);
        dib += static_cast<size_t>(width) * 4;
    }
    return true;
}
