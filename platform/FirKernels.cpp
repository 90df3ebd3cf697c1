// The FIR engine's inner loops and their run-time selection.
//
// All kernels compute several outputs per pass: for each tap, one broadcast of the tap and one
// multiply-add per group of adjacent outputs, with one accumulator per output. That keeps the
// summation order of every output fixed (tap 0 first) and independent of where the output lies
// in the block, and keeps enough independent accumulators in flight to hide the add latency.
// The last, partly used pass runs at full width into a side buffer, so there is no separate
// scalar remainder that could round differently.
//
// The AVX2+FMA kernel is compiled with a target attribute and chosen at run time, so the
// project itself keeps the x86-64 baseline (and builds for 32-bit x86 and non-x86 as well).
#include "platform/FirKernels.h"

#include <algorithm>
#include <atomic>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VELTRANO_FIR_SSE2 1
#else
#define VELTRANO_FIR_SSE2 0
#endif

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VELTRANO_FIR_AVX2 1
#else
#define VELTRANO_FIR_AVX2 0
#endif

namespace platform {
namespace {

using detail::kKernelPad;

// Accumulators per pass: x86-64 has 16 vector registers, 32-bit x86 only 8.
constexpr unsigned kVectorsPerPass = sizeof(void*) == 8 ? 8 : 4;

// ---- Generic: plain C++ (the project builds with -ffp-contract=off for this folder, so a
// multiply and an add stay two roundings, as in the SSE2 kernel).

constexpr unsigned kGenericLanes = 16;
static_assert(kGenericLanes <= kKernelPad);

inline void passGeneric(const float* taps, const std::ptrdiff_t* offsets, unsigned tapCount,
                        const float* src, float* out) {
    float acc[kGenericLanes] = {};
    for (unsigned k = 0; k < tapCount; ++k) {
        const float w = taps[k];
        const float* p = src + offsets[k];
        for (unsigned j = 0; j < kGenericLanes; ++j) {
            acc[j] = acc[j] + w * p[j];
        }
    }
    std::copy(acc, acc + kGenericLanes, out);
}

void convolveGeneric(const float* taps, const std::ptrdiff_t* offsets, unsigned tapCount,
                     const float* src, float* out, unsigned count, float* tail) {
    unsigned l = 0;
    for (; l + kGenericLanes <= count; l += kGenericLanes) {
        passGeneric(taps, offsets, tapCount, src + l, out + l);
    }
    if (l < count) {
        passGeneric(taps, offsets, tapCount, src + l, tail);
        std::copy(tail, tail + (count - l), out + l);
    }
}

// ---- SSE2: 4 lanes per vector, multiply then add.

#if VELTRANO_FIR_SSE2
constexpr unsigned kSse2Lanes = 4 * kVectorsPerPass;
static_assert(kSse2Lanes <= kKernelPad);

inline void passSse2(const float* taps, const std::ptrdiff_t* offsets, unsigned tapCount,
                     const float* src, float* out) {
    __m128 acc[kVectorsPerPass];
#pragma GCC unroll 8
    for (unsigned v = 0; v < kVectorsPerPass; ++v) {
        acc[v] = _mm_setzero_ps();
    }
    for (unsigned k = 0; k < tapCount; ++k) {
        const __m128 w = _mm_set1_ps(taps[k]);
        const float* p = src + offsets[k];
#pragma GCC unroll 8
        for (unsigned v = 0; v < kVectorsPerPass; ++v) {
            acc[v] = _mm_add_ps(acc[v], _mm_mul_ps(w, _mm_loadu_ps(p + 4 * v)));
        }
    }
#pragma GCC unroll 8
    for (unsigned v = 0; v < kVectorsPerPass; ++v) {
        _mm_storeu_ps(out + 4 * v, acc[v]);
    }
}

void convolveSse2(const float* taps, const std::ptrdiff_t* offsets, unsigned tapCount,
                  const float* src, float* out, unsigned count, float* tail) {
    unsigned l = 0;
    for (; l + kSse2Lanes <= count; l += kSse2Lanes) {
        passSse2(taps, offsets, tapCount, src + l, out + l);
    }
    if (l < count) {
        passSse2(taps, offsets, tapCount, src + l, tail);
        std::copy(tail, tail + (count - l), out + l);
    }
}
#endif

// ---- AVX2+FMA: 8 lanes per vector, one fused multiply-add per tap.

#if VELTRANO_FIR_AVX2
#define VELTRANO_TARGET_AVX2_FMA __attribute__((target("avx2,fma")))
constexpr unsigned kAvxLanes = 8 * kVectorsPerPass;
static_assert(kAvxLanes <= kKernelPad);

VELTRANO_TARGET_AVX2_FMA inline void passAvx2Fma(const float* taps, const std::ptrdiff_t* offsets,
                                                 unsigned tapCount, const float* src, float* out) {
    __m256 acc[kVectorsPerPass];
#pragma GCC unroll 8
    for (unsigned v = 0; v < kVectorsPerPass; ++v) {
        acc[v] = _mm256_setzero_ps();
    }
    for (unsigned k = 0; k < tapCount; ++k) {
        const __m256 w = _mm256_broadcast_ss(taps + k);
        const float* p = src + offsets[k];
#pragma GCC unroll 8
        for (unsigned v = 0; v < kVectorsPerPass; ++v) {
            acc[v] = _mm256_fmadd_ps(w, _mm256_loadu_ps(p + 8 * v), acc[v]);
        }
    }
#pragma GCC unroll 8
    for (unsigned v = 0; v < kVectorsPerPass; ++v) {
        _mm256_storeu_ps(out + 8 * v, acc[v]);
    }
}

VELTRANO_TARGET_AVX2_FMA void convolveAvx2Fma(const float* taps, const std::ptrdiff_t* offsets,
                                              unsigned tapCount, const float* src, float* out,
                                              unsigned count, float* tail) {
    unsigned l = 0;
    for (; l + kAvxLanes <= count; l += kAvxLanes) {
        passAvx2Fma(taps, offsets, tapCount, src + l, out + l);
    }
    if (l < count) {
        passAvx2Fma(taps, offsets, tapCount, src + l, tail);
        std::copy(tail, tail + (count - l), out + l);
    }
}
#endif

bool processorHasAvx2Fma() {
#if VELTRANO_FIR_AVX2
    // libgcc's check includes the operating system's support for the wider registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

constexpr int kUnresolved = -1;
std::atomic<int> activeKernel{kUnresolved};

} // namespace

bool firKernelAvailable(FirKernel kernel) {
    switch (kernel) {
    case FirKernel::Generic:
        return true;
    case FirKernel::Sse2:
        return VELTRANO_FIR_SSE2 != 0;
    case FirKernel::Avx2Fma: {
        static const bool available = processorHasAvx2Fma();
        return available;
    }
    }
    return false;
}

FirKernel bestFirKernel() {
    if (firKernelAvailable(FirKernel::Avx2Fma)) {
        return FirKernel::Avx2Fma;
    }
    if (firKernelAvailable(FirKernel::Sse2)) {
        return FirKernel::Sse2;
    }
    return FirKernel::Generic;
}

FirKernel activeFirKernel() {
    int kernel = activeKernel.load(std::memory_order_relaxed);
    if (kernel == kUnresolved) {
        int best = static_cast<int>(bestFirKernel());
        // Another thread may have selected a kernel meanwhile; its choice wins.
        activeKernel.compare_exchange_strong(kernel, best, std::memory_order_relaxed);
        kernel = activeKernel.load(std::memory_order_relaxed);
    }
    return static_cast<FirKernel>(kernel);
}

bool selectFirKernel(FirKernel kernel) {
    if (!firKernelAvailable(kernel)) {
        return false;
    }
    activeKernel.store(static_cast<int>(kernel), std::memory_order_relaxed);
    return true;
}

namespace detail {

ConvolveFn activeConvolve() {
    switch (activeFirKernel()) {
    case FirKernel::Generic:
        break;
    case FirKernel::Sse2:
#if VELTRANO_FIR_SSE2
        return convolveSse2;
#else
        break;
#endif
    case FirKernel::Avx2Fma:
#if VELTRANO_FIR_AVX2
        return convolveAvx2Fma;
#else
        break;
#endif
    }
    return convolveGeneric;
}

} // namespace detail
} // namespace platform
