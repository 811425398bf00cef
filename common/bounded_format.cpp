#include "common/bounded_format.h"

#include <cstdio>

void FormatBoundedV(wchar_t* out, int capacity, const wchar_t* format, va_list args) {
    if (capacity < 2) {
        if (capacity == 1) out[0] = L'\0';
        return;
    }
    // The runtime's _vsnwprintf neither terminates a cut result nor reports its length.
    int written = _vsnwprintf(out, capacity - 1, format, args);
    out[capacity - 1] = L'\0';
    if (written < 0) out[capacity - 2] = L'\0';
}

void FormatBounded(wchar_t* out, int capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatBoundedV(out, capacity, format, args);
    va_end(args);
}
