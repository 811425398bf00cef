#include "image/pixel_path.h"

bool CanUseSse2() {
#if defined(__x86_64__)
    return true;
#elif defined(__i386__)
    // The 32-bit build targets processors without SSE2 too.
    static const bool hasSse2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2") != 0;
    }();
    return hasSse2;
#else
    return false;
#endif
}

bool CanUseAvx() {
#if defined(__i386__) || defined(__x86_64__)
    // The runtime's test also asks whether the system saves the AVX registers.
    static const bool hasAvx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return hasAvx;
#else
    return false;
#endif
}

PixelPath BestPixelPath() {
    return CanUseSse2() ? PixelPath::Sse2 : PixelPath::Portable;
}
