// The FIR engine's inner loops and their run-time selection.
//
// All kernels compute several outputs per pass: for each tap, one broadcast of the tap and one
// multiply-add per group of adjacent outputs, with one accumulator per output. That keeps the
// summation order of every output fixed (tap 0 first) and independent of where the output lies
// in the block, and keeps enough independent accumulators in flight to hide the add latency.
// The last, partly used pass runs at full width into a side buffer, so there is no separate
// scalar remainder that could round differently.
//
// The AVX kernels are compiled with target attributes and chosen at run time, so the project
// itself keeps the x86-64 baseline (and builds for 32-bit x86 and non-x86 as well). The AVX
// and AVX-512 kernels multiply and add separately like the SSE2 and generic ones, so all of
// them give the same bits and a result does not depend on the machine it was computed on; the fused
// kernel is faster but rounds differently and is used only when chosen explicitly.
#include "platform/FirKernels.h"
#include "platform/CpuFeatures.h"

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

// ---- AVX: 8 lanes per vector, multiply then add (the same roundings as SSE2).

#if VELTRANO_FIR_AVX2
#define VELTRANO_TARGET_AVX __attribute__((target("avx")))
constexpr unsigned kAvxPassLanes = 8 * kVectorsPerPass;
static_assert(kAvxPassLanes <= kKernelPad);

VELTRANO_TARGET_AVX inline void passAvx(const float* taps, const std::ptrdiff_t* offsets,
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
            acc[v] = _mm256_add_ps(acc[v], _mm256_mul_ps(w, _mm256_loadu_ps(p + 8 * v)));
        }
    }
#pragma GCC unroll 8
    for (unsigned v = 0; v < kVectorsPerPass; ++v) {
        _mm256_storeu_ps(out + 8 * v, acc[v]);
    }
}

VELTRANO_TARGET_AVX void convolveAvx(const float* taps, const std::ptrdiff_t* offsets,
                                     unsigned tapCount, const float* src, float* out,
                                     unsigned count, float* tail) {
    unsigned l = 0;
    for (; l + kAvxPassLanes <= count; l += kAvxPassLanes) {
        passAvx(taps, offsets, tapCount, src + l, out + l);
    }
    if (l < count) {
        passAvx(taps, offsets, tapCount, src + l, tail);
        std::copy(tail, tail + (count - l), out + l);
    }
}
#endif

// ---- AVX-512: 16 lanes per vector, multiply then add (the same roundings as SSE2), x86-64.

#if VELTRANO_FIR_AVX2 && defined(__x86_64__)
#define VELTRANO_FIR_AVX512 1
#define VELTRANO_TARGET_AVX512 __attribute__((target("avx512f")))
constexpr unsigned kAvx512Vectors = 4;
constexpr unsigned kAvx512PassLanes = 16 * kAvx512Vectors;
static_assert(kAvx512PassLanes <= kKernelPad);

VELTRANO_TARGET_AVX512 inline void passAvx512(const float* taps, const std::ptrdiff_t* offsets,
                                              unsigned tapCount, const float* src, float* out) {
    __m512 acc[kAvx512Vectors];
#pragma GCC unroll 4
    for (unsigned v = 0; v < kAvx512Vectors; ++v) {
        acc[v] = _mm512_setzero_ps();
    }
    for (unsigned k = 0; k < tapCount; ++k) {
        const __m512 w = _mm512_set1_ps(taps[k]);
        const float* p = src + offsets[k];
#pragma GCC unroll 4
        for (unsigned v = 0; v < kAvx512Vectors; ++v) {
            acc[v] = _mm512_add_ps(acc[v], _mm512_mul_ps(w, _mm512_loadu_ps(p + 16 * v)));
        }
    }
#pragma GCC unroll 4
    for (unsigned v = 0; v < kAvx512Vectors; ++v) {
        _mm512_storeu_ps(out + 16 * v, acc[v]);
    }
}

VELTRANO_TARGET_AVX512 void convolveAvx512(const float* taps, const std::ptrdiff_t* offsets,
                                           unsigned tapCount, const float* src, float* out,
                                           unsigned count, float* tail) {
    unsigned l = 0;
    for (; l + kAvx512PassLanes <= count; l += kAvx512PassLanes) {
        passAvx512(taps, offsets, tapCount, src + l, out + l);
    }
    if (l < count) {
        passAvx512(taps, offsets, tapCount, src + l, tail);
        std::copy(tail, tail + (count - l), out + l);
    }
}
#else
#define VELTRANO_FIR_AVX512 0
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

// ---- Pairs: two tap sets of one length over one source in a single pass (filterAlongside).
// Each source vector is loaded once for both sets. The first `shared` taps of B are the
// negatives of A's, so B's partial sum after them is exactly the negative of A's (rounding to
// nearest is symmetric), and it is taken as +0 - A's sum: that also gives +0 for a zero sum, as
// B's own accumulation from +0 would (such a sum is never -0). Every other step is B's own, in
// tap order, so both outputs are those of the single kernel bit for bit (a NaN may differ in
// sign and payload).

// Accumulators of each set per pass: half those of a single filter, so that both sets' fit in
// the registers.
constexpr unsigned kPairVectors = kVectorsPerPass / 2;

inline void pairPassGeneric(const float* tapsA, const float* tapsB, const std::ptrdiff_t* offsets,
                            unsigned tapCount, unsigned shared, const float* src, float* outA,
                            float* outB) {
    float a[kGenericLanes] = {};
    float b[kGenericLanes];
    unsigned k = 0;
    for (; k < shared; ++k) {
        const float w = tapsA[k];
        const float* p = src + offsets[k];
        for (unsigned j = 0; j < kGenericLanes; ++j) {
            a[j] = a[j] + w * p[j];
        }
    }
    for (unsigned j = 0; j < kGenericLanes; ++j) {
        b[j] = 0.0f - a[j];
    }
    for (; k < tapCount; ++k) {
        const float wa = tapsA[k];
        const float wb = tapsB[k];
        const float* p = src + offsets[k];
        for (unsigned j = 0; j < kGenericLanes; ++j) {
            a[j] = a[j] + wa * p[j];
            b[j] = b[j] + wb * p[j];
        }
    }
    std::copy(a, a + kGenericLanes, outA);
    std::copy(b, b + kGenericLanes, outB);
}

// The body of one vector kernel's pair pass: Vec holds `width` floats; MulAdd(acc, w, x) is
// the kernel's multiply-add step.
#define VELTRANO_PAIR_PASS(Vec, width, Zero, Set1, Load, Store, MulAdd, Sub)                       \
    do {                                                                                           \
        Vec a[kPairVectors];                                                                       \
        Vec b[kPairVectors];                                                                       \
        _Pragma("GCC unroll 8") for (unsigned v = 0; v < kPairVectors; ++v) {                      \
            a[v] = Zero();                                                                         \
        }                                                                                          \
        unsigned k = 0;                                                                            \
        for (; k < shared; ++k) {                                                                  \
            const Vec w = Set1(tapsA[k]);                                                          \
            const float* p = src + offsets[k];                                                     \
            _Pragma("GCC unroll 8") for (unsigned v = 0; v < kPairVectors; ++v) {                  \
                a[v] = MulAdd(a[v], w, Load(p + (width)*v));                                       \
            }                                                                                      \
        }                                                                                          \
        _Pragma("GCC unroll 8") for (unsigned v = 0; v < kPairVectors; ++v) {                      \
            b[v] = Sub(Zero(), a[v]);                                                              \
        }                                                                                          \
        for (; k < tapCount; ++k) {                                                                \
            const Vec wa = Set1(tapsA[k]);                                                         \
            const Vec wb = Set1(tapsB[k]);                                                         \
            const float* p = src + offsets[k];                                                     \
            _Pragma("GCC unroll 8") for (unsigned v = 0; v < kPairVectors; ++v) {                  \
                const Vec x = Load(p + (width)*v);                                                 \
                a[v] = MulAdd(a[v], wa, x);                                                        \
                b[v] = MulAdd(b[v], wb, x);                                                        \
            }                                                                                      \
        }                                                                                          \
        _Pragma("GCC unroll 8") for (unsigned v = 0; v < kPairVectors; ++v) {                      \
            Store(outA + (width)*v, a[v]);                                                         \
            Store(outB + (width)*v, b[v]);                                                         \
        }                                                                                          \
    } while (false)

// The block loop around a pair pass of `lanes` outputs (the last, partial pass into the tails).
#define VELTRANO_PAIR_CONVOLVE(pass, lanes)                                                        \
    do {                                                                                           \
        unsigned l = 0;                                                                            \
        for (; l + (lanes) <= count; l += (lanes)) {                                               \
            pass(tapsA, tapsB, offsets, tapCount, shared, src + l, outA + l, outB + l);            \
        }                                                                                          \
        if (l < count) {                                                                           \
            pass(tapsA, tapsB, offsets, tapCount, shared, src + l, tailA, tailB);                  \
            std::copy(tailA, tailA + (count - l), outA + l);                                       \
            std::copy(tailB, tailB + (count - l), outB + l);                                       \
        }                                                                                          \
    } while (false)

#define VELTRANO_PAIR_ARGS                                                                         \
    const float *tapsA, const float *tapsB, const std::ptrdiff_t *offsets, unsigned tapCount,      \
        unsigned shared, const float *src
#define VELTRANO_PAIR_CONVOLVE_ARGS                                                                \
    VELTRANO_PAIR_ARGS, float *outA, float *outB, unsigned count, float *tailA, float *tailB

void convolvePairGeneric(VELTRANO_PAIR_CONVOLVE_ARGS) {
    VELTRANO_PAIR_CONVOLVE(pairPassGeneric, kGenericLanes);
}

#if VELTRANO_FIR_SSE2
inline __m128 mulAddSse2(__m128 acc, __m128 w, __m128 x) {
    return _mm_add_ps(acc, _mm_mul_ps(w, x));
}
inline void pairPassSse2(VELTRANO_PAIR_ARGS, float* outA, float* outB) {
    VELTRANO_PAIR_PASS(__m128, 4, _mm_setzero_ps, _mm_set1_ps, _mm_loadu_ps, _mm_storeu_ps,
                       mulAddSse2, _mm_sub_ps);
}
void convolvePairSse2(VELTRANO_PAIR_CONVOLVE_ARGS) {
    VELTRANO_PAIR_CONVOLVE(pairPassSse2, 4 * kPairVectors);
}
#endif

#if VELTRANO_FIR_AVX2
VELTRANO_TARGET_AVX inline __m256 mulAddAvx(__m256 acc, __m256 w, __m256 x) {
    return _mm256_add_ps(acc, _mm256_mul_ps(w, x));
}
VELTRANO_TARGET_AVX inline __m256 set1Avx(float w) {
    return _mm256_set1_ps(w);
}
VELTRANO_TARGET_AVX inline void pairPassAvx(VELTRANO_PAIR_ARGS, float* outA, float* outB) {
    VELTRANO_PAIR_PASS(__m256, 8, _mm256_setzero_ps, set1Avx, _mm256_loadu_ps, _mm256_storeu_ps,
                       mulAddAvx, _mm256_sub_ps);
}
VELTRANO_TARGET_AVX void convolvePairAvx(VELTRANO_PAIR_CONVOLVE_ARGS) {
    VELTRANO_PAIR_CONVOLVE(pairPassAvx, 8 * kPairVectors);
}

VELTRANO_TARGET_AVX2_FMA inline __m256 mulAddFma(__m256 acc, __m256 w, __m256 x) {
    return _mm256_fmadd_ps(w, x, acc);
}
VELTRANO_TARGET_AVX2_FMA inline void pairPassAvx2Fma(VELTRANO_PAIR_ARGS, float* outA, float* outB) {
    VELTRANO_PAIR_PASS(__m256, 8, _mm256_setzero_ps, _mm256_set1_ps, _mm256_loadu_ps,
                       _mm256_storeu_ps, mulAddFma, _mm256_sub_ps);
}
VELTRANO_TARGET_AVX2_FMA void convolvePairAvx2Fma(VELTRANO_PAIR_CONVOLVE_ARGS) {
    VELTRANO_PAIR_CONVOLVE(pairPassAvx2Fma, 8 * kPairVectors);
}
#endif

#if VELTRANO_FIR_AVX512
VELTRANO_TARGET_AVX512 inline __m512 mulAddAvx512(__m512 acc, __m512 w, __m512 x) {
    return _mm512_add_ps(acc, _mm512_mul_ps(w, x));
}
VELTRANO_TARGET_AVX512 inline void pairPassAvx512(VELTRANO_PAIR_ARGS, float* outA, float* outB) {
    VELTRANO_PAIR_PASS(__m512, 16, _mm512_setzero_ps, _mm512_set1_ps, _mm512_loadu_ps,
                       _mm512_storeu_ps, mulAddAvx512, _mm512_sub_ps);
}
VELTRANO_TARGET_AVX512 void convolvePairAvx512(VELTRANO_PAIR_CONVOLVE_ARGS) {
    VELTRANO_PAIR_CONVOLVE(pairPassAvx512, 16 * kPairVectors);
}
#endif

bool processorHasAvx() {
#if VELTRANO_FIR_AVX2
    return cpuHasAvx();
#else
    return false;
#endif
}

bool processorHasAvx512() {
#if VELTRANO_FIR_AVX512
    return cpuHasAvx512();
#else
    return false;
#endif
}

bool processorHasAvx2Fma() {
#if VELTRANO_FIR_AVX2
    return cpuHasAvx2Fma();
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
    case FirKernel::Avx: {
        static const bool available = processorHasAvx();
        return available;
    }
    case FirKernel::Avx512: {
        static const bool available = processorHasAvx512();
        return available;
    }
    case FirKernel::Avx2Fma: {
        static const bool available = processorHasAvx2Fma();
        return available;
    }
    }
    return false;
}

FirKernel bestFirKernel() {
    if (firKernelAvailable(FirKernel::Avx512)) {
        return FirKernel::Avx512;
    }
    if (firKernelAvailable(FirKernel::Avx)) {
        return FirKernel::Avx;
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

// Rows of 4 at a time for the common factors with SSE2 shuffles, one sample at a time
// otherwise. _mm_shuffle_ps(x, y, _MM_SHUFFLE(d, c, b, a)) is {x[a], x[b], y[c], y[d]}.
void deinterleave(const float* src, unsigned step, float* rowBase, std::ptrdiff_t rowStride,
                  std::size_t count) {
    std::size_t q = 0;
#if VELTRANO_FIR_SSE2
    float* r0 = rowBase;
    float* r1 = rowBase + rowStride;
    float* r2 = rowBase + 2 * rowStride;
    float* r3 = rowBase + 3 * rowStride;
    if (step == 2) {
        for (; q + 4 <= count; q += 4) {
            const __m128 a = _mm_loadu_ps(src + 2 * q);
            const __m128 b = _mm_loadu_ps(src + 2 * q + 4);
            _mm_storeu_ps(r0 + q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(r1 + q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        }
    } else if (step == 3) {
        for (; q + 4 <= count; q += 4) {
            const __m128 a = _mm_loadu_ps(src + 3 * q);     // x0 x1 x2 x3
            const __m128 b = _mm_loadu_ps(src + 3 * q + 4); // x4 x5 x6 x7
            const __m128 c = _mm_loadu_ps(src + 3 * q + 8); // x8 x9 x10 x11
            const __m128 x6x9 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));
            _mm_storeu_ps(r0 + q, _mm_shuffle_ps(a, x6x9, _MM_SHUFFLE(2, 0, 3, 0)));
            const __m128 x1x4 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));
            const __m128 x7x10 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));
            _mm_storeu_ps(r1 + q, _mm_shuffle_ps(x1x4, x7x10, _MM_SHUFFLE(2, 0, 2, 0)));
            const __m128 x2x5 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));
            const __m128 x8x11 = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0));
            _mm_storeu_ps(r2 + q, _mm_shuffle_ps(x2x5, x8x11, _MM_SHUFFLE(2, 0, 2, 0)));
        }
    } else if (step == 4) {
        for (; q + 4 <= count; q += 4) {
            __m128 a = _mm_loadu_ps(src + 4 * q);
            __m128 b = _mm_loadu_ps(src + 4 * q + 4);
            __m128 c = _mm_loadu_ps(src + 4 * q + 8);
            __m128 d = _mm_loadu_ps(src + 4 * q + 12);
            _MM_TRANSPOSE4_PS(a, b, c, d);
            _mm_storeu_ps(r0 + q, a);
            _mm_storeu_ps(r1 + q, b);
            _mm_storeu_ps(r2 + q, c);
            _mm_storeu_ps(r3 + q, d);
        }
    }
#endif
    for (; q < count; ++q) {
        for (unsigned i = 0; i < step; ++i) {
            rowBase[i * rowStride + static_cast<std::ptrdiff_t>(q)] = src[step * q + i];
        }
    }
}

void interleave(const float* rowBase, std::ptrdiff_t rowStride, unsigned step, float* out,
                std::size_t count) {
    std::size_t q = 0;
#if VELTRANO_FIR_SSE2
    const float* r0 = rowBase;
    const float* r1 = rowBase + rowStride;
    const float* r2 = rowBase + 2 * rowStride;
    const float* r3 = rowBase + 3 * rowStride;
    if (step == 2) {
        for (; q + 4 <= count; q += 4) {
            const __m128 a = _mm_loadu_ps(r0 + q);
            const __m128 b = _mm_loadu_ps(r1 + q);
            _mm_storeu_ps(out + 2 * q, _mm_unpacklo_ps(a, b));
            _mm_storeu_ps(out + 2 * q + 4, _mm_unpackhi_ps(a, b));
        }
    } else if (step == 3) {
        for (; q + 4 <= count; q += 4) {
            const __m128 a = _mm_loadu_ps(r0 + q); // a0 a1 a2 a3
            const __m128 b = _mm_loadu_ps(r1 + q);
            const __m128 c = _mm_loadu_ps(r2 + q);
            const __m128 ab01 = _mm_unpacklo_ps(a, b); // a0 b0 a1 b1
            const __m128 ca01 = _mm_unpacklo_ps(c, a); // c0 a0 c1 a1
            const __m128 bc01 = _mm_unpacklo_ps(b, c); // b0 c0 b1 c1
            const __m128 ab23 = _mm_unpackhi_ps(a, b); // a2 b2 a3 b3
            const __m128 ca23 = _mm_unpackhi_ps(c, a); // c2 a2 c3 a3
            const __m128 bc23 = _mm_unpackhi_ps(b, c); // b2 c2 b3 c3
            _mm_storeu_ps(out + 3 * q, _mm_shuffle_ps(ab01, ca01, _MM_SHUFFLE(3, 0, 1, 0)));
            _mm_storeu_ps(out + 3 * q + 4, _mm_shuffle_ps(bc01, ab23, _MM_SHUFFLE(1, 0, 3, 2)));
            _mm_storeu_ps(out + 3 * q + 8, _mm_shuffle_ps(ca23, bc23, _MM_SHUFFLE(3, 2, 3, 0)));
        }
    } else if (step == 4) {
        for (; q + 4 <= count; q += 4) {
            __m128 a = _mm_loadu_ps(r0 + q);
            __m128 b = _mm_loadu_ps(r1 + q);
            __m128 c = _mm_loadu_ps(r2 + q);
            __m128 d = _mm_loadu_ps(r3 + q);
            _MM_TRANSPOSE4_PS(a, b, c, d);
            _mm_storeu_ps(out + 4 * q, a);
            _mm_storeu_ps(out + 4 * q + 4, b);
            _mm_storeu_ps(out + 4 * q + 8, c);
            _mm_storeu_ps(out + 4 * q + 12, d);
        }
    }
#endif
    for (; q < count; ++q) {
        for (unsigned i = 0; i < step; ++i) {
            out[step * q + i] = rowBase[i * rowStride + static_cast<std::ptrdiff_t>(q)];
        }
    }
}

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
    case FirKernel::Avx:
#if VELTRANO_FIR_AVX2
        return convolveAvx;
#else
        break;
#endif
    case FirKernel::Avx512:
#if VELTRANO_FIR_AVX512
        return convolveAvx512;
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

ConvolvePairFn activeConvolvePair() {
    switch (activeFirKernel()) {
    case FirKernel::Generic:
        break;
    case FirKernel::Sse2:
#if VELTRANO_FIR_SSE2
        return convolvePairSse2;
#else
        break;
#endif
    case FirKernel::Avx:
#if VELTRANO_FIR_AVX2
        return convolvePairAvx;
#else
        break;
#endif
    case FirKernel::Avx512:
#if VELTRANO_FIR_AVX512
        return convolvePairAvx512;
#else
        break;
#endif
    case FirKernel::Avx2Fma:
#if VELTRANO_FIR_AVX2
        return convolvePairAvx2Fma;
#else
        break;
#endif
    }
    return convolvePairGeneric;
}

} // namespace detail
} // namespace platform
