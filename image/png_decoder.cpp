#include "image/png_decoder.h"

#include <cstdlib>
#include <cstring>

// Placeholder until the decoder lands.
int ReadMemory(void* destination, uint32_t count, void* state) {
    MemoryReader* reader = static_cast<MemoryReader*>(state);
    if (count > reader->remaining) return 0;
    if (destination) memcpy(destination, reader->next, count);
    reader->next += count;
    reader->remaining -= count;
    return 1;
}
uint8_t* PngImageRows(PngImage* image) { return reinterpret_cast<uint8_t*>(image + 1); }
const uint8_t* PngImageRows(const PngImage* image) { return reinterpret_cast<const uint8_t*>(image + 1); }
PngImage* DecodePng(void*, PngReadCallback) { return nullptr; }
void FreePngImage(PngImage* image) { free(image); }
uint8_t PaethPredictor(uint8_t a, uint8_t, uint8_t) { return a; }
