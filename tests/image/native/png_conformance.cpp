// Decodes each file given with Kalnix's decoder and with libpng (no transformations, so no
// gamma), and sorts it: decoded identically, refused by Kalnix, or a disagreement. Exit
// code 1 on any disagreement. Built with ASan/UBSan, so a fault aborts the run.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/png_decoder.h"

namespace {

struct Source {
    const std::string* bytes;
    size_t at;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    Source* src = static_cast<Source*>(png_get_io_ptr(png));
    if (src->at + count > src->bytes->size()) png_error(png, "read past end");
    memcpy(out, src->bytes->data() + src->at, count);
    src->at += count;
}

void QuietWarning(png_structp, png_const_charp) {}
void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// libpng's raw samples when the file is 8-bit truecolour without interlacing; the reason
// otherwise.
bool LibpngSamples(const std::string& file, std::vector<uint8_t>* samples, std::string* why) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
    png_infop info = png_create_info_struct(png);
    Source src = {&file, 0};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        *why = "libpng refuses it";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &src, ReadFromMemory);
    png_read_info(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int colour = png_get_color_type(png, info);
    const int interlace = png_get_interlace_type(png, info);
    if (depth != 8 || (colour != PNG_COLOR_TYPE_RGB && colour != PNG_COLOR_TYPE_RGBA) ||
        interlace != PNG_INTERLACE_NONE) {
        *why = "not 8-bit non-interlaced truecolour";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    samples->assign(rowBytes * height, 0);
    for (uint32_t y = 0; y < height; ++y) rows.push_back(samples->data() + y * rowBytes);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int same = 0, refused = 0, disagree = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        const std::string file = buffer.str();
        const char* name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];

        MemoryReader reader = {reinterpret_cast<const uint8_t*>(file.data()),
                               static_cast<uint32_t>(file.size())};
        PngImage* image = DecodePng(&reader, ReadMemory);
        std::vector<uint8_t> reference;
        std::string why;
        const bool referenceOk = LibpngSamples(file, &reference, &why);
        if (!image) {
            ++refused;
            printf("refused   %-16s (%s)\n", name, referenceOk ? "libpng decodes it: 8-bit truecolour" : why.c_str());
            continue;
        }
        std::vector<uint8_t> ours;
        const uint32_t stride = PngImageStride(image);
        for (uint32_t y = 0; y < image->height; ++y) {
            const uint8_t* row = PngImageRows(image) + size_t(y) * stride + 1;
            ours.insert(ours.end(), row, row + stride - 1);
        }
        FreePngImage(image);
        if (referenceOk && ours == reference) {
            ++same;
            printf("identical %s\n", name);
        } else {
            ++disagree;
            printf("DIFFERS   %-16s (%s)\n", name, referenceOk ? "samples differ" : why.c_str());
        }
    }
    printf("\n%d files: %d decoded identically to libpng, %d refused, %d disagreements\n",
           argc - 1, same, refused, disagree);
    return disagree ? 1 : 0;
}
