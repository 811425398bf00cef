#pragma once

#include <cstdint>

// The Paeth predictor, inline for the unfiltering loops, which need it for every sample.
// With p = a + b - c: |p - a| = |b - c|, |p - b| = |a - c| and |p - c| = |(a - c) + (b - c)|;
// in int nothing can overflow. Ties go to a, then to b.
inline uint8_t PaethNearest(uint8_t a, uint8_t b, uint8_t c) {
    const int bc = b - c;
    const int ac = a - c;
    const int pa = bc < 0 ? -bc : bc;
    const int pb = ac < 0 ? -ac : ac;
    const int pc = ac + bc < 0 ? -(ac + bc) : ac + bc;
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// The same, out of line, for the tests and the benchmarks.
uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c);
