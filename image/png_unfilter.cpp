#include "image/png_unfilter.h"

#include <cstring>

#include "image/paeth.h"
#include "image/sse2_target.h"

#ifdef KALNIX_HAVE_SSE2_CODE
#include <immintrin.h>
#endif

namespace {

enum FilterType : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// Portable loops. n is the row's sample count, bpp the bytes per pixel; each starts at
// sample `from`, so that the SSE2 loops can leave them the last pixels of a row.

void SubPortable(uint8_t* cur, uint32_t n, uint32_t bpp, uint32_t from) {
    for (uint32_t x = from < bpp ? bpp : from; x < n; ++x) {
        cur[x] = static_cast<uint8_t>(cur[x] + cur[x - bpp]);
    }
}

void UpPortable(uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t from) {
    for (uint32_t x = from; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x]);
}

void AveragePortable(uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp,
                     uint32_t from) {
    uint32_t x = from;
    for (; x < bpp && x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x] / 2);
    for (; x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + (cur[x - bpp] + prev[x]) / 2);
}

void PaethPortable(uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp,
                   uint32_t from) {
    uint32_t x = from;
    for (; x < bpp && x < n; ++x) cur[x] = static_cast<uint8_t>(cur[x] + prev[x]);
    for (; x < n; ++x) {
        cur[x] = static_cast<uint8_t>(cur[x] + PaethNearest(cur[x - bpp], prev[x], prev[x - bpp]));
    }
}

#ifdef KALNIX_HAVE_SSE2_CODE

// SSE2 loops for 4-byte (RGBA) and 3-byte (RGB) pixels. A 3-byte pixel is read and written
// as 4 bytes whose fourth, the next pixel's first sample, goes back unchanged; so the last
// pixel of a row, whose fourth byte lies beyond the row, is left to the portable loops.

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

// The carry keeps its fourth byte zero, so adding it leaves the next pixel's sample as read.
KALNIX_SSE2_ENTRY uint32_t Sub3Sse2(uint8_t* cur, uint32_t n) {
    const __m128i threeBytes = _mm_cvtsi32_si128(0xFFFFFF);
    __m128i carry = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 4 <= n; x += 3) {
        __m128i v = _mm_add_epi8(Load32(cur + x), carry);
        Store32(cur + x, v);
        carry = _mm_and_si128(v, threeBytes);
    }
    return x;
}

KALNIX_SSE2_ENTRY void UpSse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x), _mm_add_epi8(v, p));
    }
    UpPortable(cur, prev, n, x);
}

// pavgb rounds up; taking off the low bit of a ^ b makes it truncate.
KALNIX_SSE2 inline __m128i AverageDown(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

KALNIX_SSE2_ENTRY void Average4Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    __m128i left = _mm_setzero_si128();
    for (uint32_t x = 0; x < n; x += 4) {
        left = _mm_add_epi8(Load32(cur + x), AverageDown(left, Load32(prev + x)));
        Store32(cur + x, left);
    }
}

KALNIX_SSE2_ENTRY uint32_t Average3Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i threeBytes = _mm_cvtsi32_si128(0xFFFFFF);
    __m128i left = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 4 <= n; x += 3) {
        __m128i above = _mm_and_si128(Load32(prev + x), threeBytes);
        __m128i v = _mm_add_epi8(Load32(cur + x), AverageDown(left, above));
        Store32(cur + x, v);
        left = _mm_and_si128(v, threeBytes);
    }
    return x;
}

// Paeth in 16-bit lanes. With the neighbours relative to c: |p - a| = |b - c|,
// |p - b| = |a - c| and |p - c| = |(a - c) + (b - c)|. What depends only on the row above
// (b, c, b - c, |b - c|) is worked out ahead for several pixels; only the rest waits for
// the pixel on the left.
struct PaethAbove {
    __m128i b, c, bc, pa, bXorC;
};

KALNIX_SSE2 inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

KALNIX_SSE2 inline PaethAbove PaethFromAbove(__m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c);
    return {b, c, bc, Abs16(bc), _mm_xor_si128(b, c)};
}

// The predictor for a, chosen by masks: b ^ ((b ^ c) & m) is c where m is set, b elsewhere.
KALNIX_SSE2 inline __m128i PaethPredict(__m128i a, const PaethAbove& up) {
    const __m128i ac = _mm_sub_epi16(a, up.c);
    const __m128i pb = Abs16(ac);
    const __m128i pc = Abs16(_mm_add_epi16(ac, up.bc));
    const __m128i bOrC = _mm_xor_si128(up.b, _mm_and_si128(up.bXorC, _mm_cmpgt_epi16(pb, pc)));
    const __m128i notA = _mm_cmpgt_epi16(up.pa, _mm_min_epi16(pb, pc));
    return _mm_xor_si128(a, _mm_and_si128(_mm_xor_si128(a, bOrC), notA));
}

KALNIX_SSE2 inline __m128i LowOf(__m128i v) { return _mm_unpacklo_epi64(v, v); }
KALNIX_SSE2 inline __m128i HighOf(__m128i v) { return _mm_unpackhi_epi64(v, v); }
// The high half of `high` above the low half of `low`.
KALNIX_SSE2 inline __m128i Join(__m128i low, __m128i high) {
    return _mm_castpd_si128(_mm_move_sd(_mm_castsi128_pd(high), _mm_castsi128_pd(low)));
}
// The high half of `low` below the low half of `high`: the pixel before each of a pair.
KALNIX_SSE2 inline __m128i Straddle(__m128i low, __m128i high) {
    return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(low), _mm_castsi128_pd(high), 1));
}

// Four pixels a step, two to a register. A pixel's samples plus its prediction, added
// bytewise, are its reconstruction mod 256 with the lanes' high bytes staying zero.
KALNIX_SSE2_ENTRY void Paeth4Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero;      // the pixel on the left, in both halves
    __m128i above = zero;  // the previous pixels above, the last in the high half
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i prev16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x));
        const __m128i raw16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        const __m128i b01 = _mm_unpacklo_epi8(prev16, zero);
        const __m128i b23 = _mm_unpackhi_epi8(prev16, zero);
        const PaethAbove up01 = PaethFromAbove(b01, Straddle(above, b01));
        const PaethAbove up23 = PaethFromAbove(b23, Straddle(b01, b23));
        const __m128i raw01 = _mm_unpacklo_epi8(raw16, zero);
        const __m128i raw23 = _mm_unpackhi_epi8(raw16, zero);
        const __m128i p0 = _mm_add_epi8(raw01, PaethPredict(a, up01));
        const __m128i p1 = _mm_add_epi8(raw01, PaethPredict(LowOf(p0), up01));
        const __m128i p2 = _mm_add_epi8(raw23, PaethPredict(HighOf(p1), up23));
        const __m128i p3 = _mm_add_epi8(raw23, PaethPredict(LowOf(p2), up23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x),
                         _mm_packus_epi16(Join(p0, p1), Join(p2, p3)));
        a = HighOf(p3);
        above = b23;
    }
    __m128i c = HighOf(above);
    for (; x < n; x += 4) {
        const __m128i b = _mm_unpacklo_epi8(Load32(prev + x), zero);
        a = _mm_add_epi8(_mm_unpacklo_epi8(Load32(cur + x), zero),
                         PaethPredict(a, PaethFromAbove(b, c)));
        Store32(cur + x, _mm_packus_epi16(a, a));
        c = b;
    }
}

// The fourth lane's prediction is cleared, so that the next pixel's sample goes back as read.
KALNIX_SSE2_ENTRY uint32_t Paeth3Sse2(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i threeLanes = _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1);
    __m128i a = zero;
    __m128i c = zero;
    uint32_t x = 0;
    for (; x + 4 <= n; x += 3) {
        const __m128i b = _mm_unpacklo_epi8(Load32(prev + x), zero);
        const __m128i predicted = _mm_and_si128(PaethPredict(a, PaethFromAbove(b, c)), threeLanes);
        a = _mm_add_epi8(_mm_unpacklo_epi8(Load32(cur + x), zero), predicted);
        Store32(cur + x, _mm_packus_epi16(a, a));
        c = b;
    }
    return x;
}

// The same two Paeth loops in AVX's forms: no register copies, and one instruction each for
// an absolute value and for a choice by mask.
#define KALNIX_AVX __attribute__((target("avx")))
#if defined(__i386__)
#define KALNIX_AVX_ENTRY __attribute__((target("avx"), force_align_arg_pointer))
#else
#define KALNIX_AVX_ENTRY KALNIX_AVX
#endif

KALNIX_AVX inline PaethAbove PaethFromAboveAvx(__m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c);
    return {b, c, bc, _mm_abs_epi16(bc), _mm_setzero_si128()};
}

KALNIX_AVX inline __m128i PaethPredictAvx(__m128i a, const PaethAbove& up) {
    const __m128i ac = _mm_sub_epi16(a, up.c);
    const __m128i pb = _mm_abs_epi16(ac);
    const __m128i pc = _mm_abs_epi16(_mm_add_epi16(ac, up.bc));
    const __m128i bOrC = _mm_blendv_epi8(up.b, up.c, _mm_cmpgt_epi16(pb, pc));
    return _mm_blendv_epi8(a, bOrC, _mm_cmpgt_epi16(up.pa, _mm_min_epi16(pb, pc)));
}

KALNIX_AVX_ENTRY void Paeth4Avx(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero;
    __m128i above = zero;
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i prev16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x));
        const __m128i raw16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        const __m128i b01 = _mm_unpacklo_epi8(prev16, zero);
        const __m128i b23 = _mm_unpackhi_epi8(prev16, zero);
        const PaethAbove up01 = PaethFromAboveAvx(b01, _mm_alignr_epi8(b01, above, 8));
        const PaethAbove up23 = PaethFromAboveAvx(b23, _mm_alignr_epi8(b23, b01, 8));
        const __m128i raw01 = _mm_unpacklo_epi8(raw16, zero);
        const __m128i raw23 = _mm_unpackhi_epi8(raw16, zero);
        const __m128i p0 = _mm_add_epi8(raw01, PaethPredictAvx(a, up01));
        const __m128i p1 = _mm_add_epi8(raw01, PaethPredictAvx(LowOf(p0), up01));
        const __m128i p2 = _mm_add_epi8(raw23, PaethPredictAvx(HighOf(p1), up23));
        const __m128i p3 = _mm_add_epi8(raw23, PaethPredictAvx(LowOf(p2), up23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x),
                         _mm_packus_epi16(Join(p0, p1), Join(p2, p3)));
        a = HighOf(p3);
        above = b23;
    }
    __m128i c = HighOf(above);
    for (; x < n; x += 4) {
        const __m128i b = _mm_unpacklo_epi8(Load32(prev + x), zero);
        a = _mm_add_epi8(_mm_unpacklo_epi8(Load32(cur + x), zero),
                         PaethPredictAvx(a, PaethFromAboveAvx(b, c)));
        Store32(cur + x, _mm_packus_epi16(a, a));
        c = b;
    }
}

KALNIX_AVX_ENTRY uint32_t Paeth3Avx(uint8_t* cur, const uint8_t* prev, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i threeLanes = _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1);
    __m128i a = zero;
    __m128i c = zero;
    uint32_t x = 0;
    for (; x + 4 <= n; x += 3) {
        const __m128i b = _mm_unpacklo_epi8(Load32(prev + x), zero);
        const __m128i predicted = _mm_and_si128(PaethPredictAvx(a, PaethFromAboveAvx(b, c)), threeLanes);
        a = _mm_add_epi8(_mm_unpacklo_epi8(Load32(cur + x), zero), predicted);
        Store32(cur + x, _mm_packus_epi16(a, a));
        c = b;
    }
    return x;
}

#endif

bool UnfilterRow(uint8_t filter, uint8_t* cur, const uint8_t* prev, uint32_t n, uint32_t bpp,
                 UnfilterLoops loops) {
#ifdef KALNIX_HAVE_SSE2_CODE
    const bool sse2 = loops != UnfilterLoops::Portable;
    const bool avx = loops == UnfilterLoops::Avx;
#else
    (void)loops;
#endif
    // Where the SSE2 loops stop; the portable loops finish the row from there.
    uint32_t done = 0;
    switch (filter) {
    case kNone:
        return true;
    case kSub:
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2 && bpp == 4) { Sub4Sse2(cur, n); return true; }
        if (sse2 && bpp == 3) done = Sub3Sse2(cur, n);
#endif
        SubPortable(cur, n, bpp, done);
        return true;
    case kUp:
        if (!prev) return true;  // the row above the first counts as zeros
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2) { UpSse2(cur, prev, n); return true; }
#endif
        UpPortable(cur, prev, n, 0);
        return true;
    case kAverage:
        if (!prev) return false;
#ifdef KALNIX_HAVE_SSE2_CODE
        if (sse2 && bpp == 4) { Average4Sse2(cur, prev, n); return true; }
        if (sse2 && bpp == 3) done = Average3Sse2(cur, prev, n);
#endif
        AveragePortable(cur, prev, n, bpp, done);
        return true;
    case kPaeth:
        if (!prev) return false;
#ifdef KALNIX_HAVE_SSE2_CODE
        if (avx && bpp == 4) { Paeth4Avx(cur, prev, n); return true; }
        if (avx && bpp == 3) done = Paeth3Avx(cur, prev, n);
        if (sse2 && !avx && bpp == 4) { Paeth4Sse2(cur, prev, n); return true; }
        if (sse2 && !avx && bpp == 3) done = Paeth3Sse2(cur, prev, n);
#endif
        PaethPortable(cur, prev, n, bpp, done);
        return true;
    }
    return false;
}

}  // namespace

UnfilterLoops BestUnfilterLoops(PixelPath path) {
    if (path != PixelPath::Sse2 || !CanUseSse2()) return UnfilterLoops::Portable;
    return CanUseAvx() ? UnfilterLoops::Avx : UnfilterLoops::Sse2;
}

bool UnfilterPngRows(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                     PixelPath path) {
    return UnfilterPngRowsWith(rows, width, height, channels, BestUnfilterLoops(path));
}

bool UnfilterPngRowsWith(uint8_t* rows, uint32_t width, uint32_t height, uint8_t channels,
                         UnfilterLoops loops) {
    const uint32_t samples = width * channels;
    const uint32_t stride = samples + 1;
    const uint8_t* prev = nullptr;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = rows + static_cast<size_t>(y) * stride;
        if (!UnfilterRow(row[0], row + 1, prev, samples, channels, loops)) return false;
        prev = row + 1;
    }
    return true;
}
