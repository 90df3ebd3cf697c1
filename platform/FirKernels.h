// Inner loops of the FIR engine (internal to platform/).
#pragma once

#include "platform/FirEngine.h"

#include <cstddef>

namespace platform::detail {

// Lanes of the widest pass of any kernel. A kernel reads source samples up to this many places
// past the last output it was asked for (the last pass always runs at full width and its
// surplus lanes are discarded), so every source array needs this much readable slack.
inline constexpr unsigned kKernelPad = 64;

// out[l] = sum_{k=0}^{tapCount-1} taps[k] * src[offsets[k] + l] for l in [0, count), each
// output accumulated from k = 0 upward starting at +0. `tail` receives the full last pass when
// count is not a multiple of the pass width (room for kKernelPad floats). src[offsets[k] + l]
// must be readable for l < count + kKernelPad - 1.
using ConvolveFn = void (*)(const float* taps, const std::ptrdiff_t* offsets, unsigned tapCount,
                            const float* src, float* out, unsigned count, float* tail);

// The routine of the active kernel.
ConvolveFn activeConvolve();

// Two tap sets of `tapCount` taps over the same source in one pass: outA as ConvolveFn gives
// for tapsA, outB as it gives for tapsB, bit for bit (but for the sign and payload of a NaN).
// The first `shared` taps of B must be the negatives of A's (tapsB[k] == -tapsA[k]); B's sum is
// then not accumulated over them but taken from A's. Tails as ConvolveFn, one per set.
using ConvolvePairFn = void (*)(const float* tapsA, const float* tapsB,
                                const std::ptrdiff_t* offsets, unsigned tapCount, unsigned shared,
                                const float* src, float* outA, float* outB, unsigned count,
                                float* tailA, float* tailB);

// The pair routine of the active kernel.
ConvolvePairFn activeConvolvePair();

// Splits `count` groups of `step` samples into `step` rows: row i (at rowBase + i * rowStride)
// receives src[step q + i] at index q. Pure data movement, the same on every kernel.
void deinterleave(const float* src, unsigned step, float* rowBase, std::ptrdiff_t rowStride,
                  std::size_t count);
// The inverse: out[step q + i] = row i [q] for q in [0, count).
void interleave(const float* rowBase, std::ptrdiff_t rowStride, unsigned step, float* out,
                std::size_t count);

} // namespace platform::detail
