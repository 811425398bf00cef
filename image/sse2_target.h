#pragma once

// SSE2 code compiled for any x86 target, chosen at run time (see pixel_path.h), so a
// processor without SSE2 still runs the portable loops.
#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define KALNIX_HAVE_SSE2_CODE 1
#define KALNIX_SSE2 __attribute__((target("sse2")))
// Entry points realign the stack: 32-bit Windows promises only 4 bytes, and a spilled
// SSE2 register needs 16.
#if defined(__i386__)
#define KALNIX_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define KALNIX_SSE2_ENTRY KALNIX_SSE2
#endif
#endif
