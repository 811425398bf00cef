#include <cstring>

#include "image/png_decoder.h"

int ReadMemory(void* destination, uint32_t count, void* state) {
    MemoryReader* reader = static_cast<MemoryReader*>(state);
    if (count > reader->remaining) return 0;
    if (destination) memcpy(destination, reader->next, count);
    reader->next += count;
    reader->remaining -= count;
    return 1;
}
