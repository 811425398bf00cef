#pragma once

// Which implementation of the per-pixel loops runs: SSE2 when the processor has it, the
// portable one otherwise. Both give identical bytes.
enum class PixelPath { Portable, Sse2 };

// The fastest path the running processor supports (checked once).
PixelPath BestPixelPath();
// True when this build carries SSE2 code and the processor can run it.
bool CanUseSse2();
// True when this build carries SSE2 code and the processor and system can run AVX, whose
// three-operand forms a few SSE2 loops also come in (checked once).
bool CanUseAvx();
