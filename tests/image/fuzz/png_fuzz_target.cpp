// Fuzz target for the logo decoder: any bytes must decode or be refused without a fault,
// and a decoded image must convert the same way on both pixel paths.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/logo_pixels.h"
#include "image/png_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    MemoryReader reader = {data, static_cast<uint32_t>(size)};
    PngImage* image = DecodePng(&reader, ReadMemory);
    if (!image) return 0;
    const size_t bytes = static_cast<size_t>(image->width) * image->height * 4;
    std::vector<uint8_t> portable(bytes), best(bytes);
    if (!ConvertToDibPixels(image, portable.data(), PixelPath::Portable) ||
        !ConvertToDibPixels(image, best.data(), BestPixelPath()) || portable != best) {
        abort();
    }
    FreePngImage(image);
    return 0;
}
