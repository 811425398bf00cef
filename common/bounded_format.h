#pragma once

#include <cstdarg>

// swprintf into a fixed buffer of `capacity` characters (terminator included): a longer
// result is cut to fit, and the buffer always ends in a terminator.
void FormatBoundedV(wchar_t* out, int capacity, const wchar_t* format, va_list args);
void FormatBounded(wchar_t* out, int capacity, const wchar_t* format, ...);
