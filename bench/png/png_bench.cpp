// Decodes one PNG with each decoder once to warm up, then once more inside a Measure*
// function, which callgrind (--toggle-collect=Measure*) counts. The floor is zlib's raw
// inflate of the IDAT data alone, in one call. Prints the versions and checks that every
// decoder gives the same pixels.
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

namespace {

std::string g_file;
std::string g_idat;         // the IDAT data, joined
uint32_t g_capacity = 0;    // rows with their filter bytes
std::vector<uint8_t> g_out; // every decoder's pixels, for the check

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

bool ParseIdat() {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_file.data());
    size_t at = 33;
    const uint32_t width = BigEndian32(p + 16), height = BigEndian32(p + 20);
    const uint32_t channels = (p[25] & 4) ? 4 : 3;
    g_capacity = (width * channels + 1) * height;
    while (at + 8 <= g_file.size()) {
        uint32_t length = BigEndian32(p + at);
        if (memcmp(p + at + 4, "IDAT", 4) == 0) g_idat.append(g_file, at + 8, length);
        at += 12 + length;
    }
    return !g_idat.empty();
}

}  // namespace

extern "C" {

__attribute__((noinline)) size_t RunFloor() {
    std::vector<uint8_t> out(g_capacity);
    z_stream z = {};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(&g_idat[2]);
    z.avail_in = static_cast<uInt>(g_idat.size() - 6);
    z.next_out = out.data();
    z.avail_out = g_capacity;
    int status = inflate(&z, Z_FINISH);
    size_t produced = g_capacity - z.avail_out;
    inflateEnd(&z);
    return status == Z_STREAM_END ? produced : 0;
}

__attribute__((noinline)) size_t RunKalnix() {
    MemoryReader reader = {reinterpret_cast<const uint8_t*>(g_file.data()),
                           static_cast<uint32_t>(g_file.size())};
    PngImage* image = DecodePng(&reader, ReadMemory);
    if (!image) return 0;
    const size_t bytes = size_t(image->width) * image->height * 4;
    uint8_t* dib = static_cast<uint8_t*>(malloc(bytes));  // stands in for the DIB section
    ConvertToDibPixels(image, dib, BestPixelPath());
    g_out.assign(dib, dib + bytes);
    free(dib);
    FreePngImage(image);
    return bytes;
}

__attribute__((noinline)) size_t RunLibpng() {
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, g_file.data(), g_file.size())) return 0;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return 0;
    g_out = out;
    return out.size();
}

__attribute__((noinline)) size_t RunSpng() {
    spng_ctx* ctx = spng_ctx_new(0);
    size_t size = 0;
    std::vector<uint8_t> out;
    if (spng_set_png_buffer(ctx, g_file.data(), g_file.size()) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        out.resize(size);
        if (spng_decode_image(ctx, out.data(), size, SPNG_FMT_RGBA8, 0) != 0) size = 0;
    }
    spng_ctx_free(ctx);
    g_out = out;
    return size;
}

__attribute__((noinline)) size_t RunStb() {
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(g_file.data()),
                                            static_cast<int>(g_file.size()), &w, &h, &n, 4);
    if (!pixels) return 0;
    g_out.assign(pixels, pixels + size_t(w) * h * 4);
    stbi_image_free(pixels);
    return size_t(w) * h * 4;
}

__attribute__((noinline)) size_t MeasureFloor() { return RunFloor(); }
__attribute__((noinline)) size_t MeasureKalnix() { return RunKalnix(); }
__attribute__((noinline)) size_t MeasureLibpng() { return RunLibpng(); }
__attribute__((noinline)) size_t MeasureSpng() { return RunSpng(); }
__attribute__((noinline)) size_t MeasureStb() { return RunStb(); }

}  // extern "C"

// Kalnix's output is premultiplied B, G, R, A, bottom-up; the others give straight RGBA,
// top-down. Premultiplying theirs must give exactly Kalnix's bytes.
static bool SameAsKalnix(const std::vector<uint8_t>& rgba, const std::vector<uint8_t>& dib,
                         uint32_t width, uint32_t height) {
    if (rgba.size() != dib.size()) return false;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = rgba.data() + size_t(y) * width * 4;
        const uint8_t* d = dib.data() + size_t(height - 1 - y) * width * 4;
        for (uint32_t x = 0; x < width * 4; x += 4) {
            const uint32_t a = s[x + 3];
            if (d[x] != s[x + 2] * a / 255 || d[x + 1] != s[x + 1] * a / 255 ||
                d[x + 2] != s[x] * a / 255 || d[x + 3] != a) {
                return false;
            }
        }
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s file.png\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    g_file = bytes.str();
    if (!ParseIdat()) return 1;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_file.data());
    const uint32_t width = BigEndian32(p + 16), height = BigEndian32(p + 20);

    size_t (*warm[])() = {RunFloor, RunKalnix, RunLibpng, RunSpng, RunStb};
    for (auto run : warm) run();

    bool ok = MeasureFloor() == g_capacity;
    ok = MeasureKalnix() != 0 && ok;
    const std::vector<uint8_t> kalnix = g_out;
    ok = MeasureLibpng() != 0 && SameAsKalnix(g_out, kalnix, width, height) && ok;
    ok = MeasureSpng() != 0 && SameAsKalnix(g_out, kalnix, width, height) && ok;
    ok = MeasureStb() != 0 && SameAsKalnix(g_out, kalnix, width, height) && ok;

    printf("image: %s, %u x %u, %zu bytes, IDAT data %zu bytes, %u bytes inflated\n", argv[1],
           width, height, g_file.size(), g_idat.size(), g_capacity);
    printf("compiler: %s; flags: %s; pixel path: %s\n", KALNIX_BENCH_COMPILER, KALNIX_BENCH_FLAGS,
           BestPixelPath() == PixelPath::Sse2 ? "SSE2" : "portable");
    printf("libraries: zlib %s, libpng %s, libspng %d.%d.%d, stb_image (Debian libstb)\n",
           zlibVersion(), png_libpng_ver, SPNG_VERSION_MAJOR, SPNG_VERSION_MINOR,
           SPNG_VERSION_PATCH);
    printf("outputs agree: %s\n", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
