// Decodes one PNG with each decoder once to warm up, then once more inside a Measure*
// function, which callgrind (--toggle-collect=Measure*) counts. The floor is zlib's raw
// inflate of the IDAT data alone, in one call. Only the decoding is measured: every output
// buffer the caller provides is allocated before and checked after, outside the count.
// Prints the versions and checks that every decoder gives the same pixels.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <png.h>
#include <spng.h>
#include <stb_image.h>
#include <zlib.h>

#include "image/logo_pixels.h"
#include "image/png_decoder.h"
#include "image/png_unfilter.h"

namespace {

std::string g_file;
std::string g_idat;            // the IDAT data, joined
uint32_t g_width = 0;
uint32_t g_height = 0;
uint32_t g_capacity = 0;       // rows with their filter bytes
std::vector<uint8_t> g_rows;   // the floor's output
std::vector<uint8_t> g_dib;    // Kalnix's output: premultiplied B, G, R, A, bottom-up
std::vector<uint8_t> g_rgba;   // libpng's and libspng's output: straight RGBA, top-down
stbi_uc* g_stbPixels = nullptr;  // stb_image allocates its own

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

bool ParseFile() {
    if (g_file.size() < 33) return false;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_file.data());
    g_width = BigEndian32(p + 16);
    g_height = BigEndian32(p + 20);
    const uint64_t channels = (p[25] & 4) ? 4 : 3;
    const uint64_t capacity = (g_width * channels + 1) * g_height;
    if (capacity > kMaxPngImageCapacity) return false;
    g_capacity = static_cast<uint32_t>(capacity);
    for (size_t at = 33; at + 8 <= g_file.size();) {
        const uint32_t length = BigEndian32(p + at);
        if (memcmp(p + at + 4, "IDAT", 4) == 0) g_idat.append(g_file, at + 8, length);
        at += 12 + size_t(length);
    }
    return g_idat.size() > 6;
}

}  // namespace

extern "C" {

__attribute__((noinline)) size_t RunFloor() {
    z_stream z = {};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(&g_idat[2]);
    z.avail_in = static_cast<uInt>(g_idat.size() - 6);
    z.next_out = g_rows.data();
    z.avail_out = g_capacity;
    int status = inflate(&z, Z_FINISH);
    size_t produced = g_capacity - z.avail_out;
    inflateEnd(&z);
    return status == Z_STREAM_END ? produced : 0;
}

// The image and chunk buffers are the decoder's own work; the DIB stands in for the DIB
// section, which the system provides.
__attribute__((noinline)) size_t RunKalnix() {
    MemoryReader reader = {reinterpret_cast<const uint8_t*>(g_file.data()),
                           static_cast<uint32_t>(g_file.size())};
    PngImage* image = DecodePng(&reader, ReadMemory);
    if (!image) return 0;
    const bool converted = ConvertToDibPixels(image, g_dib.data(), BestPixelPath());
    FreePngImage(image);
    return converted ? g_dib.size() : 0;
}

__attribute__((noinline)) size_t RunLibpng() {
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, g_file.data(), g_file.size())) return 0;
    image.format = PNG_FORMAT_RGBA;
    if (PNG_IMAGE_SIZE(image) != g_rgba.size()) {
        png_image_free(&image);
        return 0;
    }
    if (!png_image_finish_read(&image, nullptr, g_rgba.data(), 0, nullptr)) return 0;
    return g_rgba.size();
}

size_t DecodeWithSpng(int flags, int crcAction) {
    spng_ctx* ctx = spng_ctx_new(flags);
    if (!ctx) return 0;
    size_t size = 0;
    if (spng_set_crc_action(ctx, crcAction, crcAction) != 0 ||
        spng_set_png_buffer(ctx, g_file.data(), g_file.size()) != 0 ||
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) != 0 || size != g_rgba.size() ||
        spng_decode_image(ctx, g_rgba.data(), size, SPNG_FMT_RGBA8, 0) != 0) {
        size = 0;
    }
    spng_ctx_free(ctx);
    return size;
}

__attribute__((noinline)) size_t RunSpng() { return DecodeWithSpng(0, SPNG_CRC_ERROR); }

// What Kalnix does not do either: verify the Adler-32 value and the chunk CRCs.
__attribute__((noinline)) size_t RunSpngUnchecked() {
    return DecodeWithSpng(SPNG_CTX_IGNORE_ADLER32, SPNG_CRC_USE);
}

__attribute__((noinline)) size_t RunStb() {
    int w = 0, h = 0, n = 0;
    g_stbPixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(g_file.data()),
                                        static_cast<int>(g_file.size()), &w, &h, &n, 4);
    if (!g_stbPixels || uint32_t(w) != g_width || uint32_t(h) != g_height) return 0;
    return size_t(w) * h * 4;
}

__attribute__((noinline)) size_t MeasureFloor() { return RunFloor(); }
__attribute__((noinline)) size_t MeasureKalnix() { return RunKalnix(); }
__attribute__((noinline)) size_t MeasureLibpng() { return RunLibpng(); }
__attribute__((noinline)) size_t MeasureSpng() { return RunSpng(); }
__attribute__((noinline)) size_t MeasureSpngUnchecked() { return RunSpngUnchecked(); }
__attribute__((noinline)) size_t MeasureStb() { return RunStb(); }

}  // extern "C"

namespace {

// Kalnix's output is premultiplied B, G, R, A, bottom-up; the others give straight RGBA,
// top-down. Premultiplying theirs must give exactly Kalnix's bytes.
bool SameAsKalnix(const uint8_t* rgba) {
    for (uint32_t y = 0; y < g_height; ++y) {
        const uint8_t* s = rgba + size_t(y) * g_width * 4;
        const uint8_t* d = g_dib.data() + size_t(g_height - 1 - y) * g_width * 4;
        for (uint32_t x = 0; x < g_width * 4; x += 4) {
            const uint32_t a = s[x + 3];
            if (d[x] != s[x + 2] * a / 255 || d[x + 1] != s[x + 1] * a / 255 ||
                d[x + 2] != s[x] * a / 255 || d[x + 3] != a) {
                return false;
            }
        }
    }
    return true;
}

// Runs one decoder that writes into g_rgba, from a cleared buffer so that stale pixels
// cannot pass the check.
bool CheckedRgba(size_t (*measure)()) {
    std::fill(g_rgba.begin(), g_rgba.end(), 0xA5);
    return measure() == g_rgba.size() && SameAsKalnix(g_rgba.data());
}

bool CheckedStb(size_t (*run)()) {
    const bool ok = run() == g_dib.size() && SameAsKalnix(g_stbPixels);
    stbi_image_free(g_stbPixels);
    g_stbPixels = nullptr;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s file.png\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    g_file = bytes.str();
    if (!ParseFile()) return 1;
    g_rows.assign(g_capacity, 0);
    g_dib.assign(size_t(g_width) * g_height * 4, 0);
    g_rgba.assign(g_dib.size(), 0);

    // Warm-up: every code path and every output page touched once.
    RunFloor();
    RunKalnix();
    RunLibpng();
    RunSpng();
    RunSpngUnchecked();
    CheckedStb(RunStb);

    bool ok = MeasureFloor() == g_capacity;
    std::fill(g_dib.begin(), g_dib.end(), 0xA5);
    ok = MeasureKalnix() == g_dib.size() && ok;
    ok = CheckedRgba(MeasureLibpng) && ok;
    ok = CheckedRgba(MeasureSpng) && ok;
    ok = CheckedRgba(MeasureSpngUnchecked) && ok;
    ok = CheckedStb(MeasureStb) && ok;

    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_file.data());
    printf("image: %s, %u x %u, colour type %u, %zu bytes, IDAT data %zu bytes, %u bytes inflated\n",
           argv[1], g_width, g_height, p[25], g_file.size(), g_idat.size(), g_capacity);
    const UnfilterLoops loops = BestUnfilterLoops(BestPixelPath());
    printf("compiler: %s; flags: %s; pixel path: %s; unfiltering: %s\n", KALNIX_BENCH_COMPILER,
           KALNIX_BENCH_FLAGS, BestPixelPath() == PixelPath::Sse2 ? "SSE2" : "portable",
           loops == UnfilterLoops::Avx ? "SSE2, Paeth in AVX forms"
                                       : loops == UnfilterLoops::Sse2 ? "SSE2" : "portable");
    printf("libraries: zlib %s, libpng %s, libspng %d.%d.%d, stb_image (Debian libstb)\n",
           zlibVersion(), png_libpng_ver, SPNG_VERSION_MAJOR, SPNG_VERSION_MINOR,
           SPNG_VERSION_PATCH);
    printf("outputs agree: %s\n", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
