#include "image/png_unfilter.h"

#include <cstring>

#include "image/png_decoder.h"

#include "image/sse2_target.h"

namespace {

enum FilterType : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// Portable loops. n is the row's sample count, bpp the bytes per pixel.

void SubPortable(uint8_t* cur, uint32_t n, uint32_t bpp) {
    for (uint32_t x = bpp; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + cur[x - bpp]);
}

void UpPortable(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    for (uint32_t x = 0; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x]);
}

void AveragePortable(uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp) {
    uint32_t x = 0;
    for (; x < bpp && x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x] / 2);
    for (; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + (cur[x - bpp] + prev[x]) / 2);
}

void PaethPortable(uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp) {
    uint32_t x = 0;
    for (; x < bpp && x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x]);
    for (; x < n; ++x) {
        cur[x] = static_cast<uint8_t>(
            cur[x] + PaethPredictor(cur[x - bpp], prev[x], prev[x - bpp]));
    }
}

#ifdef KALNIX_HAVE_SSE2_CODE

// SSE2 loops for 4-byte pixels (RGBA), the logo's format; 3-byte pixels stay portable.

KALNIX_SSE2 inline __m128i Load32(const uint8_t* p) {
    int32_t v;
    memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

KALNIX_SSE2 inline void Store32(uint8_t* p, __m128i v) {
    int32_t bits = _mm_cvtsi128_si32(v);
    memcpy(p, &bits, 4);
}

// Sub is a running sum over pixels: a prefix sum inside each 16-byte block, then the
// block's last pixel carried into the next.
KALNIX_SSE2_ENTRY void Sub4Sse2(uint8_t* cur, uint32_t n) {
    __m128i carry = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi8(v, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x), v);
        carry = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3));
    }
    for (; x < n; x += 4) {
        carry = _mm_add_epi8(carry, Load32(cur + x));
        Store32(cur + x, carry);
    }
}

KALNIX_SSE2_ENTRY void UpSse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x), _mm_add_epi8(v, p));
    }
    for (; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x]);
}

KALNIX_SSE2_ENTRY void Average4Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i left = _mm_setzero_si128();
    for (uint32_t x = 0; x < n; x += 4) {
        __m128i above = Load32(prev + x);
        // pavgb rounds up; taking off the low bit of a ^ b makes it truncate.
        __m128i avg = _mm_sub_epi8(_mm_avg_epu8(left, above),
                                   _mm_and_si128(_mm_xor_si128(left, above), one));
        left = _mm_add_epi8(Load32(cur + x), avg);
        Store32(cur + x, left);
    }
}

// Paeth in 16-bit lanes, one pixel per step: with p = a + b - c, |p - a| = |b - c|,
// |p - b| = |a - c| and |p - c| = |(b - c) + (a - c)|.
KALNIX_SSE2 inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

KALNIX_SSE2 inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

KALNIX_SSE2_ENTRY void Paeth4Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    __m128i a = zero;
    __m128i c = zero;
    for (uint32_t x = 0; x < n; x += 4) {
        __m128i b = _mm_unpacklo_epi8(Load32(prev + x), zero);
        __m128i raw = _mm_unpacklo_epi8(Load32(cur + x), zero);
        __m128i bc = _mm_sub_epi16(b, c);
        __m128i ac = _mm_sub_epi16(a, c);
        __m128i pa = Abs16(bc);
        __m128i pb = Abs16(ac);
        __m128i pc = Abs16(_mm_add_epi16(bc, ac));
        __m128i bOrC = Select(_mm_cmpgt_epi16(pb, pc), c, b);
        __m128i pred = Select(_mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc)), bOrC, a);
        a = _mm_and_si128(_mm_add_epi16(raw, pred), lowByte);
        Store32(cur + x, _mm_packus_epi16(a, a));
        c = b;
    }
}

#endif

bool UnfilterRow(uint8_t filter, uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp,
                 bool sse2) {
    switch (filter) {
    case kNone:
        return true;
    case kSub:
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2 && bpp == 4) { Sub4Sse2(cur, n); return true; }
#endif
        SubPortable(cur, n, bpp);
        return true;
    case kUp:
        if (!prev) return true;  // the row above the first counts as zeros
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2) { UpSse2(cur, prev, n); return true; }
#endif
        UpPortable(cur, prev, n);
        return true;
    case kAverage:
        if (!prev) return false;
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2 && bpp == 4) { Average4Sse2(cur, prev, n); return true; }
#endif
        AveragePortable(cur, prev, n, bpp);
        return true;
    case kPaeth:
        if (!prev) return false;
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2 && bpp == 4) { Paeth4Sse2(cur, prev, n); return true; }
#endif
        PaethPortable(cur, prev, n, bpp);
        return true;
    }
    return false;
}

}  // namespace

bool UnfilterPngRows(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                     PixelPath path) {
    const bool sse2 = path == PixelPath::Sse2 && CanUseSse2();
    const uint32_t samples = width * channels;
    const uint32_t stride = samples + 1;
    const uint8_t* prev = nullptr;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = rows + static_cast<size_t>(y) * stride;
        if (!UnfilterRow(row[0], row + 1, prev, samples, channels, sse2)) return false;
        prev = row + 1;
    }
    return true;
}
