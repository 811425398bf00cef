// Writes the benchmark's further images, derived from the shipped logo, with libpng's
// default filter choice and compression:
//   logo-rgb.png     the logo flattened on white, colour type 2 (no alpha);
//   splash-rgba.png  1024 x 768 RGBA: a rounded panel with a soft shadow on a transparent
//                    ground, a gradient inside, the logo at twice its size and at its own.
// Each file holds its zlib stream in one IDAT chunk, as Kalnix requires, and fails unless
// that chunk fits Kalnix's limit of 131,072 bytes.
// Usage: png_bench_images logo.png output-folder
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>

namespace {

constexpr uint32_t kMaxIdat = 0x20000;

struct Rgba {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A, rows top-down
    uint8_t* at(uint32_t x, uint32_t y) { return &pixels[(size_t(y) * width + x) * 4]; }
};

bool ReadRgba(const char* path, Rgba* image) {
    png_image png;
    memset(&png, 0, sizeof(png));
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) return false;
    png.format = PNG_FORMAT_RGBA;
    image->width = png.width;
    image->height = png.height;
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr) != 0;
}

// One IDAT: libpng cuts IDAT chunks at its compression buffer's size, so the buffer is
// made larger than any chunk Kalnix accepts and the size is checked afterwards.
bool WritePng(const std::string& path, uint32_t width, uint32_t height, int channels,
              const std::vector<uint8_t>& pixels) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_buffer_size(png, 1u << 22);
    png_set_IHDR(png, info, width, height, 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        png_write_row(png, &pixels[size_t(y) * width * channels]);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0;
}

// Length of the file's IDAT data, or 0 when there is not exactly one IDAT chunk.
uint32_t SingleIdatLength(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return 0;
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    uint32_t found = 0, length = 0;
    for (size_t at = 8; at + 8 <= bytes.size();) {
        const uint8_t* p = &bytes[at];
        const uint32_t n = uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (memcmp(p + 4, "IDAT", 4) == 0) { ++found; length = n; }
        at += 12 + size_t(n);
    }
    return found == 1 ? length : 0;
}

std::vector<uint8_t> FlattenOnWhite(const Rgba& logo) {
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(logo.width) * logo.height * 3);
    for (size_t i = 0; i < logo.pixels.size(); i += 4) {
        const uint32_t a = logo.pixels[i + 3];
        for (int c = 0; c < 3; ++c) {
            rgb.push_back(uint8_t((logo.pixels[i + c] * a + 255 * (255 - a) + 127) / 255));
        }
    }
    return rgb;
}

// Straight-alpha "over".
void Over(uint8_t* dst, const uint8_t* src) {
    const double sa = src[3] / 255.0, da = dst[3] / 255.0;
    const double oa = sa + da * (1 - sa);
    for (int c = 0; c < 3 && oa > 0; ++c) {
        dst[c] = uint8_t(std::lround((src[c] * sa + dst[c] * da * (1 - sa)) / oa));
    }
    dst[3] = uint8_t(std::lround(oa * 255));
}

// Coverage of a rounded rectangle at a pixel centre, with a soft edge `blur` pixels wide.
double RoundedCoverage(double x, double y, double left, double top, double right,
                       double bottom, double radius, double blur) {
    const double cx = std::clamp(x, left + radius, right - radius);
    const double cy = std::clamp(y, top + radius, bottom - radius);
    const double outside = std::hypot(x - cx, y - cy) - radius;
    return std::clamp(0.5 - outside / blur, 0.0, 1.0);
}

Rgba MakeSplash(Rgba& logo) {
    Rgba image;
    image.width = 1024;
    image.height = 768;
    image.pixels.assign(size_t(image.width) * image.height * 4, 0);
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double shadow = RoundedCoverage(px, py - 12, 48, 48, 976, 720, 28, 40);
            const uint8_t shade[4] = {0, 0, 0, uint8_t(std::lround(shadow * 110))};
            Over(image.at(x, y), shade);
            const double panel = RoundedCoverage(px, py, 40, 32, 984, 712, 24, 1.5);
            const double t = py / image.height;
            const uint8_t fill[4] = {uint8_t(236 - 60 * t), uint8_t(242 - 40 * t),
                                     uint8_t(250 - 10 * t), uint8_t(std::lround(panel * 255))};
            Over(image.at(x, y), fill);
        }
    }
    // Twice the logo's size, bilinear, centred in the upper part; then the logo itself.
    const uint32_t bigWidth = logo.width * 2, bigHeight = logo.height * 2;
    const uint32_t left = (image.width - bigWidth) / 2, top = 96;
    for (uint32_t y = 0; y < bigHeight; ++y) {
        for (uint32_t x = 0; x < bigWidth; ++x) {
            const double sx = std::clamp((x + 0.5) / 2 - 0.5, 0.0, logo.width - 1.0);
            const double sy = std::clamp((y + 0.5) / 2 - 0.5, 0.0, logo.height - 1.0);
            const uint32_t x0 = uint32_t(sx), y0 = uint32_t(sy);
            const uint32_t x1 = std::min(x0 + 1, logo.width - 1), y1 = std::min(y0 + 1, logo.height - 1);
            const double fx = sx - x0, fy = sy - y0;
            uint8_t pixel[4];
            for (int c = 0; c < 4; ++c) {
                const double top2 = logo.at(x0, y0)[c] * (1 - fx) + logo.at(x1, y0)[c] * fx;
                const double bottom2 = logo.at(x0, y1)[c] * (1 - fx) + logo.at(x1, y1)[c] * fx;
                pixel[c] = uint8_t(std::lround(top2 * (1 - fy) + bottom2 * fy));
            }
            Over(image.at(left + x, top + y), pixel);
        }
    }
    for (uint32_t y = 0; y < logo.height; ++y) {
        for (uint32_t x = 0; x < logo.width; ++x) Over(image.at(72 + x, 480 + y), logo.at(x, y));
    }
    return image;
}

bool WriteChecked(const std::string& path, uint32_t width, uint32_t height, int channels,
                  const std::vector<uint8_t>& pixels) {
    if (!WritePng(path, width, height, channels, pixels)) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    const uint32_t idat = SingleIdatLength(path);
    if (idat == 0 || idat > kMaxIdat) {
        fprintf(stderr, "%s: IDAT of %u bytes, not one chunk within %u\n", path.c_str(), idat, kMaxIdat);
        return false;
    }
    printf("%s: %u x %u, %d channels, one IDAT of %u bytes\n", path.c_str(), width, height,
           channels, idat);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s logo.png output-folder\n", argv[0]);
        return 2;
    }
    Rgba logo;
    if (!ReadRgba(argv[1], &logo)) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string folder = argv[2];
    const Rgba splash = MakeSplash(logo);
    const bool ok =
        WriteChecked(folder + "/logo-rgb.png", logo.width, logo.height, 3, FlattenOnWhite(logo)) &&
        WriteChecked(folder + "/splash-rgba.png", splash.width, splash.height, 4, splash.pixels);
    return ok ? 0 : 1;
}
