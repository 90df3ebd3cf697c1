// Square-wave correlation over all periods and phases, computed incrementally. Moving the weight
// pattern of period L one sample later changes the weight of only two residue classes mod L
// (even L: -2 and +2) or five (odd L: -1.5, -0.25, +1, +1, -0.25), so each further phase costs a
// few multiples of the column sums c[j] = sum_k x[j + k L] instead of a pass over the frame.
// Even periods need only phases 0 ... h-1: the others are their negatives.
//
// Every sum keeps its order of operations: phase 0 accumulates w[k mod L] x[k] from k = 0
// upward, each column sum from k = 0 upward, each phase step applies its terms in a fixed
// order. The vectorised kernels keep all of that per period and only run eight (SSE2), sixteen
// (AVX) or thirty-two (AVX-512) periods of one parity side by side, one per lane, so their
// results are bit-identical to the plain one; they
// turns the search from a chain of dependent additions into independent ones. The weights of
// phase 0 depend only on the periods, so each group's weights, turned to one vector of lanes
// per sample, are kept from frame to frame while the search range stays the same. The vectorised
// kernels sum the columns over a copy of the frame followed by zeros, so that every column of a
// period takes the same number of rows.
//
// Column sums are held extended: e[1 + j] = c[j] for j < L, e[0] = c[L - 1] and
// e[1 + L + j] = c[j] for j <= h, so that every residue class a phase step touches is a plain
// offset from the phase p: c[p - 1] = e[p], c[p] = e[p + 1], c[(h + p - 1) mod L] = e[h + p],
// c[(h + p) mod L] = e[h + p + 1], c[(p + L - 2) mod L] = e[p - 1], c[p - 1 + h] = e[h + p].

#include "dsp/SquareWaveSearch.h"
#include "platform/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VELTRANO_SQUARE_WAVE_SSE2 1
#include <emmintrin.h>
#endif

// The AVX kernel is compiled with a target attribute and chosen at run time. (Windows builds
// assemble aligned vector moves as unaligned ones, since the stack there is not aligned for
// spilled 256-bit registers; see the mingw toolchain files.)
#if defined(VELTRANO_SQUARE_WAVE_SSE2) && defined(__GNUC__) &&                                     \
    (defined(__x86_64__) || defined(__i386__))
#define VELTRANO_SQUARE_WAVE_AVX 1
#define VELTRANO_TARGET_AVX __attribute__((target("avx")))
#include <immintrin.h>
#endif

// The AVX-512 kernel: the AVX one on twice the lanes, with twice the registers (x86-64 only).
#if defined(VELTRANO_SQUARE_WAVE_AVX) && defined(__x86_64__)
#define VELTRANO_SQUARE_WAVE_AVX512 1
#define VELTRANO_TARGET_AVX512 __attribute__((target("avx,avx2,avx512f")))
#endif

bool SquareWaveSearch::kernelAvailable(Kernel which) {
    switch (which) {
    case Kernel::Plain:
        return true;
    case Kernel::Sse2:
#if defined(VELTRANO_SQUARE_WAVE_SSE2)
        return true;
#else
        return false;
#endif
    case Kernel::Avx:
#if defined(VELTRANO_SQUARE_WAVE_AVX)
        return platform::cpuHasAvx();
#else
        return false;
#endif
    case Kernel::Avx512:
#if defined(VELTRANO_SQUARE_WAVE_AVX512)
        return platform::cpuHasAvx512();
#else
        return false;
#endif
    }
    return false;
}

SquareWaveSearch::Kernel SquareWaveSearch::fastestKernel() {
    if (kernelAvailable(Kernel::Avx512)) {
        return Kernel::Avx512;
    }
    if (kernelAvailable(Kernel::Avx)) {
        return Kernel::Avx;
    }
    return kernelAvailable(Kernel::Sse2) ? Kernel::Sse2 : Kernel::Plain;
}

bool SquareWaveSearch::selectKernel(Kernel which) {
    if (!kernelAvailable(which)) {
        return false;
    }
    if ((which == Kernel::Avx512) != (kernel == Kernel::Avx512) && slotKey) {
        // The kept weights are laid out differently for the new kernel.
        std::fill(slotKey.get(), slotKey.get() + slotCount, 0u);
    }
    kernel = which;
    return true;
}

bool SquareWaveSearch::prepare(unsigned frameSamples, unsigned longest) {
    buffer.reset();
    columns = nullptr;
    patterns = nullptr;
    padded.reset();
    paddedStart = nullptr;
    turned.reset();
    slotKey.reset();
    frameLength = 0;
    longestPeriod = 0;
    if (longest < kShortestPeriod || longest > (1u << 16) || frameSamples > (1u << 16)) {
        return false;
    }
    // Room for the phase steps' reads four phases ahead past the longest lane's last phase, and
    // for one period of weights followed by its first four again.
    const unsigned ext = longest + longest / 2 + 8 + 16;
    const unsigned weights = longest + 8;
    // Groups of a search from rate / (1.1 f) to rate / (0.9 f): at most 2/11 of the longest
    // period, and a few more; at least one chunk.
    const unsigned range = longest * 2 / 11 + 4;
    const unsigned slots = std::max(kChunk, 2 * ((range / 2 + kLanes - 1) / kLanes) + 2);
    // Column sums c[0] ... of every lane start on a 64-byte boundary (e[1], see above).
    const unsigned extAligned = ext <= kFixedExtStride ? kFixedExtStride : (ext + 15) / 16 * 16;
    buffer.reset(
        new (std::nothrow) float[kFrames * kColumnLanes * extAligned + kLanes * weights + 16]());
    turned.reset(new (std::nothrow) float[std::size_t{slots} * frameSamples * kLanes]());
    slotKey.reset(new (std::nothrow) unsigned[slots]());
    // Each frame starts on a 64-byte boundary (its first rows' loads then split no cache
    // line): 16 floats of room for the alignment, frames a multiple of 16 floats apart.
    const std::size_t paddedFrame = (std::size_t{frameSamples} + longest + 32 + 15) / 16 * 16;
    padded.reset(new (std::nothrow) float[kFrames * paddedFrame + 16]());
    if (!buffer || !turned || !slotKey || !padded) {
        padded.reset();
        buffer.reset();
        turned.reset();
        slotKey.reset();
        return false;
    }
    frameLength = frameSamples;
    longestPeriod = longest;
    extStride = extAligned;
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.get() + 1);
    columns = buffer.get() + (64 - address % 64) % 64 / sizeof(float);
    patterns = columns + kFrames * kColumnLanes * extStride;
    paddedStride = paddedFrame;
    const auto paddedAddress = reinterpret_cast<std::uintptr_t>(padded.get());
    paddedStart = padded.get() + (64 - paddedAddress % 64) % 64 / sizeof(float);
    weightStride = weights;
    slotCount = slots;
    return true;
}

namespace {

#if defined(__GNUC__)
#define VELTRANO_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define VELTRANO_ALWAYS_INLINE inline
#endif

// Sums of two and three rows of column sums, element by element: c = a + b, c = (a + b) + d.
struct PlainRows {
    static void two(const float* a, const float* b, float* c, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            c[i] = a[i] + b[i];
        }
    }
    static void three(const float* a, const float* b, const float* d, float* c, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            c[i] = (a[i] + b[i]) + d[i];
        }
    }
};

#if defined(VELTRANO_SQUARE_WAVE_SSE2)
struct Sse2Rows {
    static VELTRANO_ALWAYS_INLINE void two(const float* a, const float* b, float* c,
                                           unsigned count) {
        unsigned i = 0;
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_ps(c + i, _mm_add_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
        }
        PlainRows::two(a + i, b + i, c + i, count - i);
    }
    static VELTRANO_ALWAYS_INLINE void three(const float* a, const float* b, const float* d,
                                             float* c, unsigned count) {
        unsigned i = 0;
        for (; i + 4 <= count; i += 4) {
            const __m128 ab = _mm_add_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i));
            _mm_storeu_ps(c + i, _mm_add_ps(ab, _mm_loadu_ps(d + i)));
        }
        PlainRows::three(a + i, b + i, d + i, c + i, count - i);
    }
};
#endif

#if defined(VELTRANO_SQUARE_WAVE_AVX)
struct AvxRows {
    static VELTRANO_TARGET_AVX void two(const float* a, const float* b, float* c, unsigned count) {
        unsigned i = 0;
        for (; i + 8 <= count; i += 8) {
            _mm256_storeu_ps(c + i, _mm256_add_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
        }
        PlainRows::two(a + i, b + i, c + i, count - i);
    }
    static VELTRANO_TARGET_AVX void three(const float* a, const float* b, const float* d, float* c,
                                          unsigned count) {
        unsigned i = 0;
        for (; i + 8 <= count; i += 8) {
            const __m256 ab = _mm256_add_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i));
            _mm256_storeu_ps(c + i, _mm256_add_ps(ab, _mm256_loadu_ps(d + i)));
        }
        PlainRows::three(a + i, b + i, d + i, c + i, count - i);
    }
};
#endif

// Column sums c[j] for j = from ... to - 1 (to <= period) into out[j - from]. Column j holds
// rows 0 ... rows(j) - 1, added from row 0 on; the columns are filled in runs with the same
// number of rows.
template <class Rows>
VELTRANO_ALWAYS_INLINE void columnRange(const float* x, unsigned n, unsigned period, unsigned from,
                                        unsigned to, float* out) {
    float* c = out - from;
    unsigned j = from;
    while (j < to) {
        const unsigned rows = j < n ? (n - j + period - 1) / period : 0;
        // Columns j ... end - 1 have `rows` rows (the last run reaches the range's end).
        const unsigned end = rows == 0 ? to : std::min(to, n - (rows - 1) * period);
        if (rows == 0) {
            std::fill(c + j, c + end, 0.0f);
        } else if (rows == 1) {
            std::copy(x + j, x + end, c + j);
        } else if (rows == 2) {
            Rows::two(x + j, x + period + j, c + j, end - j);
        } else if (rows == 3) {
            Rows::three(x + j, x + period + j, x + 2 * period + j, c + j, end - j);
        } else {
            for (unsigned i = j; i < end; ++i) {
                float sum = x[i];
                for (unsigned r = 1; r < rows; ++r) {
                    sum += x[i + r * period];
                }
                c[i] = sum;
            }
        }
        j = end;
    }
}

// Extended column sums of one period (see above) into e. The repeated columns are summed again
// from the frame rather than copied: the same operations, so the same values, without reading
// back what was just stored.
template <class Rows>
VELTRANO_ALWAYS_INLINE void columnSums(const float* x, unsigned n, unsigned period, float* e) {
    const unsigned h = period / 2;
    columnRange<Rows>(x, n, period, 0, period, e + 1);
    columnRange<Rows>(x, n, period, 0, h + 1, e + 1 + period);
    columnRange<Rows>(x, n, period, period - 1, period, e);
}

// How many columns the extended sums repeat after the period. Even periods stop at phase h - 1
// of the longest period side by side, so the columns read past the period reach only as far as
// its h exceeds their own (sixteen periods of one parity side by side: at most 15) and a block
// of four phases: 32 is plenty. Odd periods step through every phase; the kernels that read
// the repeats for all of them need all h + 1 (`allOdd`), the AVX-512 one only for the sixteen
// phases in which some of its lanes have passed the period and others not (beyond those it
// reads the columns where they first stand).
constexpr unsigned repeatedColumns(unsigned period, bool allOdd) {
    return period % 2 == 0 || !allOdd ? std::min(period / 2 + 1, 32u) : period / 2 + 1;
}

// The same extended column sums from the frame followed by zeros (padded): every column sums
// `rows` rows, the most any column has; the rows past the frame add zeros, which leaves every
// sum as it is (up to the sign of a zero sum, which no magnitude sees). Whole vectors of `width`
// floats throughout: writes run up to a vector past the end of each part, reads stay in the
// padding. The repeated columns are copied when whole vectors of them lie clear of the repeats,
// else summed again. The body of one such function for each vector type (Type, Load, Add, Store).
#define VELTRANO_PADDED_COLUMN_SUMS(Type, width, Load, Add, Store, allOdd)                         \
    do {                                                                                           \
        const unsigned h = period / 2;                                                             \
        const unsigned rows = (n + period - 1) / period;                                           \
        float* c = e + 1;                                                                          \
        for (unsigned part = 0; part < 2; ++part) {                                                \
            float* out = part == 0 ? c : c + period;                                               \
            const unsigned count = part == 0 ? period : repeatedColumns(period, allOdd);           \
            if (part == 1 && period - h > (width)) {                                               \
                /* Whole vectors of columns already stored, none of the repeats. */                \
                for (unsigned j = 0; j < count; j += (width)) {                                    \
                    Store(out + j, Load(c + j));                                                   \
                }                                                                                  \
                break;                                                                             \
            }                                                                                      \
            /* Two and three rows (the hum search's) written out, so that the vectors of */        \
            /* neighbouring columns are summed side by side. */                                    \
            if (rows == 3) {                                                                       \
                for (unsigned j = 0; j < count; j += (width)) {                                    \
                    const Type ab = Add(Load(padded + j), Load(padded + j + period));              \
                    Store(out + j, Add(ab, Load(padded + j + 2 * period)));                        \
                }                                                                                  \
            } else if (rows == 2) {                                                                \
                for (unsigned j = 0; j < count; j += (width)) {                                    \
                    Store(out + j, Add(Load(padded + j), Load(padded + j + period)));              \
                }                                                                                  \
            } else {                                                                               \
                for (unsigned j = 0; j < count; j += (width)) {                                    \
                    Type v = Load(padded + j);                                                     \
                    for (unsigned r = 1; r < rows; ++r) {                                          \
                        v = Add(v, Load(padded + j + r * period));                                 \
                    }                                                                              \
                    Store(out + j, v);                                                             \
                }                                                                                  \
            }                                                                                      \
            if (part == 0) {                                                                       \
                e[0] = c[period - 1];                                                              \
            }                                                                                      \
        }                                                                                          \
    } while (false)

#if defined(VELTRANO_SQUARE_WAVE_SSE2)
void paddedColumnSumsSse2(const float* padded, unsigned n, unsigned period, float* e) {
    VELTRANO_PADDED_COLUMN_SUMS(__m128, 4, _mm_loadu_ps, _mm_add_ps, _mm_storeu_ps, true);
}
#endif

#if defined(VELTRANO_SQUARE_WAVE_AVX)
VELTRANO_TARGET_AVX void paddedColumnSumsAvx(const float* padded, unsigned n, unsigned period,
                                             float* e) {
    VELTRANO_PADDED_COLUMN_SUMS(__m256, 8, _mm256_loadu_ps, _mm256_add_ps, _mm256_storeu_ps, true);
}
#endif

#if defined(VELTRANO_SQUARE_WAVE_AVX512)
// For `count` periods at once, lane i's sums at first + i * stride (one call for a group).
VELTRANO_TARGET_AVX512 void paddedColumnSumsAvx512(const float* padded, unsigned n,
                                                   const unsigned* periods, unsigned count,
                                                   float* first, std::size_t stride) {
    for (unsigned i = 0; i < count; ++i) {
        const unsigned period = periods[i];
        float* const e = first + i * stride;
        VELTRANO_PADDED_COLUMN_SUMS(__m512, 16, _mm512_loadu_ps, _mm512_add_ps, _mm512_storeu_ps,
                                    false);
    }
}
#endif

} // namespace

void SquareWaveSearch::prepareColumns(const float* x, unsigned lane, unsigned period) {
#if defined(VELTRANO_SQUARE_WAVE_SSE2)
    columnSums<Sse2Rows>(x, frameLength, period, columns + lane * extStride);
#else
    columnSums<PlainRows>(x, frameLength, period, columns + lane * extStride);
#endif
}

void SquareWaveSearch::preparePattern(unsigned lane, unsigned period) {
    const unsigned h = period / 2;
    // One period of the weight pattern, then its first four weights again, so that four
    // consecutive weights can be read from any offset within the period.
    float* w = patterns + lane * weightStride;
    if (period % 2 == 0) {
        std::fill(w, w + h, 1.0f);
        std::fill(w + h, w + period, -1.0f);
    } else {
        w[0] = 0.75f;
        std::fill(w + 1, w + h, 1.0f);
        w[h] = 0.0f;
        std::fill(w + h + 1, w + 2 * h, -1.0f);
        w[2 * h] = -0.75f;
    }
    std::copy(w, w + 4, w + period);
}

// Groups of up to eight periods of one parity, first the parity of `first`, then the other,
// handed to `flush` in chunks of up to kChunk groups.
template <class Flush>
void SquareWaveSearch::forEachChunk(unsigned first, unsigned last, Flush&& flush) {
    Group groups[kChunk];
    unsigned count = 0;
    unsigned groupIndex = 0;
    for (unsigned start = first; start <= last && start < first + 2; ++start) {
        for (unsigned period0 = start; period0 <= last; period0 += 2 * kLanes) {
            Group& group = groups[count++];
            group.lanes = 0;
            for (unsigned period = period0; period <= last && group.lanes < kLanes; period += 2) {
                group.periods[group.lanes++] = period;
            }
            for (unsigned i = group.lanes; i < kLanes; ++i) {
                group.periods[i] = group.periods[group.lanes - 1];
            }
            // Slots are used round robin; a chunk never holds two groups in one slot.
            group.slot = groupIndex++ % slotCount;
            if (count == kChunk) {
                flush(static_cast<const Group*>(groups), count);
                count = 0;
            }
        }
    }
    if (count > 0) {
        flush(static_cast<const Group*>(groups), count);
    }
}

bool SquareWaveSearch::match(const float* x, unsigned first, unsigned last, float* matches) {
    if (x == nullptr || matches == nullptr || !buffer || first < kShortestPeriod ||
        last > longestPeriod || last < first) {
        return false;
    }
    if (kernel == Kernel::Plain) {
        for (unsigned period = first; period <= last; ++period) {
            prepareColumns(x, 0, period);
            preparePattern(0, period);
            matchPlain(x, period, matches + (period - first));
        }
        return true;
    }
#if defined(VELTRANO_SQUARE_WAVE_AVX512)
    if (kernel == Kernel::Avx512) {
        matchAvx512(&x, 1, first, last, &matches);
        return true;
    }
#endif
#if defined(VELTRANO_SQUARE_WAVE_SSE2)
    // The frame, then zeros (written once in prepare) for the column sums.
    std::copy(x, x + frameLength, paddedStart);
    const float* xp = paddedStart;
    // Per chunk: phase 0 of the whole chunk in one pass over the frame, then the phase steps,
    // two groups of one parity together where the kernel can.
    forEachChunk(first, last, [&](const Group* groups, unsigned count) {
        const float* weights[kChunk];
        for (unsigned g = 0; g < count; ++g) {
            weights[g] = turnedWeights(groups[g]);
        }
        float sums[kChunk * kLanes];
        float groupMatches[kChunk * kLanes];
#if defined(VELTRANO_SQUARE_WAVE_AVX)
        if (kernel == Kernel::Avx) {
            phaseZeroAvx(x, weights, count, sums);
            for (unsigned g = 0; g < count;) {
                const unsigned run =
                    (g + 1 < count && groups[g + 1].periods[0] % 2 == groups[g].periods[0] % 2) ? 2
                                                                                                : 1;
                for (unsigned r = 0; r < run; ++r) {
                    for (unsigned i = 0; i < groups[g + r].lanes; ++i) {
                        paddedColumnSumsAvx(xp, frameLength, groups[g + r].periods[i],
                                            columns + (r * kLanes + i) * extStride);
                    }
                }
                stepsAvx(groups + g, run, sums + g * kLanes, groupMatches + g * kLanes);
                g += run;
            }
        } else
#endif
        {
            phaseZeroSse2(x, weights, count, sums);
            for (unsigned g = 0; g < count; ++g) {
                for (unsigned i = 0; i < groups[g].lanes; ++i) {
                    paddedColumnSumsSse2(xp, frameLength, groups[g].periods[i],
                                         columns + i * extStride);
                }
                stepsSse2(groups[g], sums + g * kLanes, groupMatches + g * kLanes);
            }
        }
        for (unsigned g = 0; g < count; ++g) {
            for (unsigned i = 0; i < groups[g].lanes; ++i) {
                matches[groups[g].periods[i] - first] = groupMatches[g * kLanes + i];
            }
        }
    });
#endif
    return true;
}

bool SquareWaveSearch::matchPair(const float* frameA, const float* frameB, unsigned first,
                                 unsigned last, float* matchesA, float* matchesB) {
    if (frameA == nullptr || frameB == nullptr || matchesA == nullptr || matchesB == nullptr ||
        !buffer || first < kShortestPeriod || last > longestPeriod || last < first) {
        return false;
    }
#if defined(VELTRANO_SQUARE_WAVE_AVX512)
    if (kernel == Kernel::Avx512) {
        const float* frames[kFrames] = {frameA, frameB};
        float* matches[kFrames] = {matchesA, matchesB};
        matchAvx512(frames, kFrames, first, last, matches);
        return true;
    }
#endif
    return match(frameA, first, last, matchesA) && match(frameB, first, last, matchesB);
}

#if defined(VELTRANO_SQUARE_WAVE_AVX512)
void SquareWaveSearch::matchAvx512(const float* const* frames, unsigned frameCount, unsigned first,
                                   unsigned last, float* const* matches) {
    // Each frame, then zeros (written once in prepare) for the column sums.
    const float* xp[kFrames] = {};
    for (unsigned f = 0; f < frameCount; ++f) {
        float* to = paddedStart + f * paddedStride;
        std::copy(frames[f], frames[f] + frameLength, to);
        xp[f] = to;
    }
    // Per chunk: phase 0 of the whole chunk in one pass over the frames, then the phase steps of
    // up to four groups of one parity of every frame side by side.
    forEachChunk(first, last, [&](const Group* groups, unsigned count) {
        const float* weights[kChunk];
        for (unsigned g = 0; g < count; ++g) {
            weights[g] = turnedWeights(groups[g]);
        }
        float sums[kFrames][kChunk * kLanes];
        float groupMatches[kFrames][kChunk * kLanes];
        if (frameCount == 2) {
            float* to[kFrames] = {sums[0], sums[1]};
            phaseZeroPairAvx512(frames, weights, count, to);
        } else {
            phaseZeroAvx512(frames[0], weights, count, sums[0]);
        }
        for (unsigned g = 0; g < count;) {
            unsigned run = 1;
            while (run < kRun && g + run < count &&
                   groups[g + run].periods[0] % 2 == groups[g].periods[0] % 2) {
                ++run;
            }
            for (unsigned f = 0; f < frameCount; ++f) {
                for (unsigned r = 0; r < run; ++r) {
                    paddedColumnSumsAvx512(
                        xp[f], frameLength, groups[g + r].periods, groups[g + r].lanes,
                        columns + (f * kColumnLanes + r * kLanes) * extStride, extStride);
                }
            }
            const float* from[kFrames] = {sums[0] + g * kLanes, sums[1] + g * kLanes};
            float* to[kFrames] = {groupMatches[0] + g * kLanes, groupMatches[1] + g * kLanes};
            const bool fixed = extStride == kFixedExtStride;
            if (frameCount == 2) {
                fixed ? stepsAvx512<2, true>(groups + g, run, from, to)
                      : stepsAvx512<2, false>(groups + g, run, from, to);
            } else {
                fixed ? stepsAvx512<1, true>(groups + g, run, from, to)
                      : stepsAvx512<1, false>(groups + g, run, from, to);
            }
            g += run;
        }
        for (unsigned f = 0; f < frameCount; ++f) {
            for (unsigned g = 0; g < count; ++g) {
                for (unsigned i = 0; i < groups[g].lanes; ++i) {
                    matches[f][groups[g].periods[i] - first] = groupMatches[f][g * kLanes + i];
                }
            }
        }
    });
}
#endif

void SquareWaveSearch::matchPlain(const float* x, unsigned period, float* match) {
    const unsigned n = frameLength;
    const unsigned h = period / 2;
    const float* e = columns;
    const float* w = patterns;
    float s = 0.0f;
    for (unsigned base = 0; base < n; base += period) {
        const unsigned row = std::min(period, n - base);
        for (unsigned j = 0; j < row; ++j) {
            s += w[j] * x[base + j];
        }
    }
    float m = std::fabs(s);
    if (period % 2 == 0) {
        for (unsigned p = 1; p < h; ++p) {
            s = s - 2.0f * e[p] + 2.0f * e[h + p];
            m = std::max(m, std::fabs(s));
        }
    } else {
        for (unsigned p = 1; p < period; ++p) {
            s = s - 1.5f * e[p];
            s = s - 0.25f * e[p + 1];
            s = s + e[h + p];
            s = s + e[h + p + 1];
            s = s - 0.25f * e[p - 1];
            m = std::max(m, std::fabs(s));
        }
    }
    *match = m;
}

#if defined(VELTRANO_SQUARE_WAVE_SSE2)

namespace {

// Four consecutive values from each of four arrays, turned so that result j holds value j of
// every array.
struct Turned {
    __m128 v[4];
};

inline Turned turn(const float* a, const float* b, const float* c, const float* d) {
    Turned t{{_mm_loadu_ps(a), _mm_loadu_ps(b), _mm_loadu_ps(c), _mm_loadu_ps(d)}};
    _MM_TRANSPOSE4_PS(t.v[0], t.v[1], t.v[2], t.v[3]);
    return t;
}

inline __m128 gather(const float* const* rows, unsigned offset0, unsigned offset1, unsigned offset2,
                     unsigned offset3) {
    return _mm_setr_ps(rows[0][offset0], rows[1][offset1], rows[2][offset2], rows[3][offset3]);
}

inline __m128 magnitude(__m128 t) {
    return _mm_and_ps(t, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
}

// |t| in the lanes whose phase p is below their limit, 0 in the others.
inline __m128 magnitudeWhile(__m128 t, unsigned p, __m128i limit) {
    const __m128 valid =
        _mm_castsi128_ps(_mm_cmplt_epi32(_mm_set1_epi32(static_cast<int>(p)), limit));
    return _mm_and_ps(magnitude(t), valid);
}

inline __m128i limits(const unsigned* values) {
    return _mm_setr_epi32(static_cast<int>(values[0]), static_cast<int>(values[1]),
                          static_cast<int>(values[2]), static_cast<int>(values[3]));
}

} // namespace

const float* SquareWaveSearch::turnedWeights(const Group& group) {
    // The AVX-512 kernel keeps two groups (slots 2 i and 2 i + 1) side by side, sixteen lanes
    // per sample; the others one group, eight lanes per sample. Either way a pair of slots
    // takes the same memory.
    const unsigned n = frameLength;
    const bool paired = kernel == Kernel::Avx512;
    const unsigned stride = paired ? 2 * kLanes : kLanes;
    float* out = paired ? turned.get() + std::size_t{group.slot / 2} * n * 2 * kLanes +
                              (group.slot % 2) * kLanes
                        : turned.get() + std::size_t{group.slot} * n * kLanes;
    const unsigned key = group.periods[0] << 5 | group.lanes << 1 | (paired ? 1 : 0);
    if (slotKey[group.slot] == key) {
        return out;
    }
    for (unsigned i = 0; i < group.lanes; ++i) {
        preparePattern(i, group.periods[i]);
    }
    const float* w[kLanes];
    unsigned offset[kLanes] = {}; // k mod L of each lane
    for (unsigned i = 0; i < kLanes; ++i) {
        w[i] = patterns + std::min(i, group.lanes - 1) * weightStride;
    }
    unsigned k = 0;
    for (; k + 4 <= n; k += 4) {
        const Turned a =
            turn(w[0] + offset[0], w[1] + offset[1], w[2] + offset[2], w[3] + offset[3]);
        const Turned b =
            turn(w[4] + offset[4], w[5] + offset[5], w[6] + offset[6], w[7] + offset[7]);
#pragma GCC unroll 4
        for (unsigned j = 0; j < 4; ++j) {
            _mm_storeu_ps(out + (k + j) * stride, a.v[j]);
            _mm_storeu_ps(out + (k + j) * stride + 4, b.v[j]);
        }
        for (unsigned i = 0; i < kLanes; ++i) {
            const unsigned next = offset[i] + 4;
            offset[i] = next >= group.periods[i] ? next - group.periods[i] : next;
        }
    }
    for (; k < n; ++k) {
        _mm_storeu_ps(out + k * stride, gather(w, offset[0], offset[1], offset[2], offset[3]));
        _mm_storeu_ps(out + k * stride + 4,
                      gather(w + 4, offset[4], offset[5], offset[6], offset[7]));
        for (unsigned i = 0; i < kLanes; ++i) {
            offset[i] = offset[i] + 1 == group.periods[i] ? 0 : offset[i] + 1;
        }
    }
    slotKey[group.slot] = key;
    return out;
}

void SquareWaveSearch::phaseZeroSse2(const float* x, const float* const* weights, unsigned count,
                                     float* sums) {
    // Each lane summed in index order; two groups at a time give four independent chains (a
    // last single group is summed twice over).
    const unsigned n = frameLength;
    for (unsigned g = 0; g < count; g += 2) {
        const float* weightsA = weights[g];
        const float* weightsB = weights[std::min(g + 1, count - 1)];
        __m128 s0 = _mm_setzero_ps();
        __m128 s1 = _mm_setzero_ps();
        __m128 s2 = _mm_setzero_ps();
        __m128 s3 = _mm_setzero_ps();
        for (unsigned k = 0; k < n; ++k) {
            const __m128 xk = _mm_set1_ps(x[k]);
            const float* wa = weightsA + k * kLanes;
            const float* wb = weightsB + k * kLanes;
            s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_loadu_ps(wa), xk));
            s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_loadu_ps(wa + 4), xk));
            s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_loadu_ps(wb), xk));
            s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_loadu_ps(wb + 4), xk));
        }
        _mm_storeu_ps(sums + g * kLanes, s0);
        _mm_storeu_ps(sums + g * kLanes + 4, s1);
        if (g + 1 < count) {
            _mm_storeu_ps(sums + (g + 1) * kLanes, s2);
            _mm_storeu_ps(sums + (g + 1) * kLanes + 4, s3);
        }
    }
}

void SquareWaveSearch::stepsSse2(const Group& group, const float* sums, float* matches) {
    // Lanes 0 ... 3 in the A registers, 4 ... 7 in the B registers; lanes beyond group.lanes
    // repeat the last one.
    const unsigned* periods = group.periods;
    const float* e[kLanes];
    unsigned h[kLanes];
    for (unsigned i = 0; i < kLanes; ++i) {
        e[i] = columns + std::min(i, group.lanes - 1) * extStride;
        h[i] = periods[i] / 2;
    }
    __m128 sA = _mm_loadu_ps(sums);
    __m128 sB = _mm_loadu_ps(sums + 4);
    __m128 mA = magnitude(sA);
    __m128 mB = magnitude(sB);

    // Each lane steps through phases 1 ... limit - 1, limit = h (even) or L (odd); lanes are
    // ascending, so while the first is within its phases no mask is needed. Blocks of four
    // phases.
    const bool even = periods[0] % 2 == 0;
    const unsigned* limit = even ? h : periods;
    const __m128i limitA = limits(limit);
    const __m128i limitB = limits(limit + 4);
    const unsigned steps = limit[kLanes - 1];
    const unsigned unmasked = limit[0];
    auto update = [&](unsigned p, auto masked) {
        if constexpr (decltype(masked)::value) {
            mA = _mm_max_ps(mA, magnitudeWhile(sA, p, limitA));
            mB = _mm_max_ps(mB, magnitudeWhile(sB, p, limitB));
        } else {
            mA = _mm_max_ps(mA, magnitude(sA));
            mB = _mm_max_ps(mB, magnitude(sB));
        }
    };
    if (even) {
        // s - 2 c[p - 1] + 2 c[p - 1 + h]: e[p] and e[h + p].
        auto block = [&](unsigned p0, auto masked) {
            const Turned uA = turn(e[0] + p0, e[1] + p0, e[2] + p0, e[3] + p0);
            const Turned vA =
                turn(e[0] + h[0] + p0, e[1] + h[1] + p0, e[2] + h[2] + p0, e[3] + h[3] + p0);
            const Turned uB = turn(e[4] + p0, e[5] + p0, e[6] + p0, e[7] + p0);
            const Turned vB =
                turn(e[4] + h[4] + p0, e[5] + h[5] + p0, e[6] + h[6] + p0, e[7] + h[7] + p0);
#pragma GCC unroll 4
            for (unsigned j = 0; j < 4; ++j) {
                sA = _mm_add_ps(_mm_sub_ps(sA, _mm_add_ps(uA.v[j], uA.v[j])),
                                _mm_add_ps(vA.v[j], vA.v[j]));
                sB = _mm_add_ps(_mm_sub_ps(sB, _mm_add_ps(uB.v[j], uB.v[j])),
                                _mm_add_ps(vB.v[j], vB.v[j]));
                update(p0 + j, masked);
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    } else {
        // s - 1.5 c[p - 1] - 0.25 c[p] + c[(h + p - 1) mod L] + c[(h + p) mod L]
        //   - 0.25 c[(p + L - 2) mod L]: e[p], e[p + 1], e[h + p], e[h + p + 1], e[p - 1].
        const __m128 oneHalf = _mm_set1_ps(1.5f);
        const __m128 quarter = _mm_set1_ps(0.25f);
        // Carried from one phase to the next: e[p - 1], e[p], e[h + p].
        __m128 backA = gather(e, 0, 0, 0, 0);
        __m128 backB = gather(e + 4, 0, 0, 0, 0);
        __m128 hereA = gather(e, 1, 1, 1, 1);
        __m128 hereB = gather(e + 4, 1, 1, 1, 1);
        __m128 upA = gather(e, h[0] + 1, h[1] + 1, h[2] + 1, h[3] + 1);
        __m128 upB = gather(e + 4, h[4] + 1, h[5] + 1, h[6] + 1, h[7] + 1);
        auto block = [&](unsigned p0, auto masked) {
            // e[p + 1] and e[h + p + 1] for p = p0 ... p0 + 3.
            const unsigned q = p0 + 1;
            const Turned nextA = turn(e[0] + q, e[1] + q, e[2] + q, e[3] + q);
            const Turned nextUpA =
                turn(e[0] + h[0] + q, e[1] + h[1] + q, e[2] + h[2] + q, e[3] + h[3] + q);
            const Turned nextB = turn(e[4] + q, e[5] + q, e[6] + q, e[7] + q);
            const Turned nextUpB =
                turn(e[4] + h[4] + q, e[5] + h[5] + q, e[6] + h[6] + q, e[7] + h[7] + q);
#pragma GCC unroll 4
            for (unsigned j = 0; j < 4; ++j) {
                __m128 tA = _mm_sub_ps(sA, _mm_mul_ps(oneHalf, hereA));
                __m128 tB = _mm_sub_ps(sB, _mm_mul_ps(oneHalf, hereB));
                tA = _mm_sub_ps(tA, _mm_mul_ps(quarter, nextA.v[j]));
                tB = _mm_sub_ps(tB, _mm_mul_ps(quarter, nextB.v[j]));
                tA = _mm_add_ps(tA, upA);
                tB = _mm_add_ps(tB, upB);
                tA = _mm_add_ps(tA, nextUpA.v[j]);
                tB = _mm_add_ps(tB, nextUpB.v[j]);
                sA = _mm_sub_ps(tA, _mm_mul_ps(quarter, backA));
                sB = _mm_sub_ps(tB, _mm_mul_ps(quarter, backB));
                update(p0 + j, masked);
                backA = hereA;
                backB = hereB;
                hereA = nextA.v[j];
                hereB = nextB.v[j];
                upA = nextUpA.v[j];
                upB = nextUpB.v[j];
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    }
    float all[kLanes];
    _mm_storeu_ps(all, mA);
    _mm_storeu_ps(all + 4, mB);
    std::copy(all, all + group.lanes, matches);
}

#endif

#if defined(VELTRANO_SQUARE_WAVE_AVX)

namespace {

// Four consecutive values from each of eight arrays, turned so that result j holds value j of
// every array (lanes 0 ... 7).
struct TurnedAvx {
    __m256 v[4];
};

VELTRANO_TARGET_AVX inline __m256 pairOf(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

VELTRANO_TARGET_AVX inline TurnedAvx turnAvx(const float* const* rows, unsigned offset,
                                             const unsigned* extra) {
    const __m256 r0 = pairOf(rows[0] + offset + extra[0], rows[4] + offset + extra[4]);
    const __m256 r1 = pairOf(rows[1] + offset + extra[1], rows[5] + offset + extra[5]);
    const __m256 r2 = pairOf(rows[2] + offset + extra[2], rows[6] + offset + extra[6]);
    const __m256 r3 = pairOf(rows[3] + offset + extra[3], rows[7] + offset + extra[7]);
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1);
    const __m256 t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t3 = _mm256_unpackhi_ps(r2, r3);
    return {{_mm256_shuffle_ps(t0, t2, 0x44), _mm256_shuffle_ps(t0, t2, 0xee),
             _mm256_shuffle_ps(t1, t3, 0x44), _mm256_shuffle_ps(t1, t3, 0xee)}};
}

VELTRANO_TARGET_AVX inline __m256 gatherAvx(const float* const* rows, unsigned offset,
                                            const unsigned* extra) {
    return _mm256_setr_ps(rows[0][offset + extra[0]], rows[1][offset + extra[1]],
                          rows[2][offset + extra[2]], rows[3][offset + extra[3]],
                          rows[4][offset + extra[4]], rows[5][offset + extra[5]],
                          rows[6][offset + extra[6]], rows[7][offset + extra[7]]);
}

VELTRANO_TARGET_AVX inline __m256 magnitudeAvx(__m256 t) {
    return _mm256_and_ps(t, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff)));
}

} // namespace

VELTRANO_TARGET_AVX void SquareWaveSearch::phaseZeroAvx(const float* x, const float* const* weights,
                                                        unsigned count, float* sums) {
    // Each lane summed in index order; four groups at a time give four independent chains (a
    // last set short of groups repeats its last one).
    constexpr unsigned kSet = 4;
    const unsigned n = frameLength;
    for (unsigned g = 0; g < count; g += kSet) {
        const float* w[kSet];
        __m256 s[kSet];
#pragma GCC unroll 4
        for (unsigned r = 0; r < kSet; ++r) {
            w[r] = weights[std::min(g + r, count - 1)];
            s[r] = _mm256_setzero_ps();
        }
        for (unsigned k = 0; k < n; ++k) {
            const __m256 xk = _mm256_set1_ps(x[k]);
#pragma GCC unroll 4
            for (unsigned r = 0; r < kSet; ++r) {
                s[r] = _mm256_add_ps(s[r], _mm256_mul_ps(_mm256_loadu_ps(w[r] + k * kLanes), xk));
            }
        }
        for (unsigned r = 0; r < kSet && g + r < count; ++r) {
            _mm256_storeu_ps(sums + (g + r) * kLanes, s[r]);
        }
    }
}

VELTRANO_TARGET_AVX void SquareWaveSearch::stepsAvx(const Group* groups, unsigned count,
                                                    const float* sums, float* matches) {
    // One or two groups of one parity, eight lanes each, a register per group; group g uses
    // the column sums of lanes g * 8 ... g * 8 + 7, lanes beyond its own repeating the last.
    // A single group is run twice over (the second register repeats it).
    constexpr unsigned kMax = 2;
    const float* e[kMax][kLanes];
    unsigned h[kMax][kLanes];
    unsigned limit[kMax][kLanes];
    __m256 s[kMax];
    __m256 m[kMax];
    __m256 limitV[kMax];
    const bool even = groups[0].periods[0] % 2 == 0;
    unsigned steps = 0;
    unsigned unmasked = ~0u;
#pragma GCC unroll 4
    for (unsigned g = 0; g < kMax; ++g) {
        const Group& group = groups[std::min(g, count - 1)];
        for (unsigned i = 0; i < kLanes; ++i) {
            const unsigned lane = std::min(g, count - 1) * kLanes + std::min(i, group.lanes - 1);
            e[g][i] = columns + lane * extStride;
            h[g][i] = group.periods[i] / 2;
            limit[g][i] = even ? h[g][i] : group.periods[i];
        }
        s[g] = _mm256_loadu_ps(sums + std::min(g, count - 1) * kLanes);
        m[g] = magnitudeAvx(s[g]);
        limitV[g] =
            _mm256_setr_ps(static_cast<float>(limit[g][0]), static_cast<float>(limit[g][1]),
                           static_cast<float>(limit[g][2]), static_cast<float>(limit[g][3]),
                           static_cast<float>(limit[g][4]), static_cast<float>(limit[g][5]),
                           static_cast<float>(limit[g][6]), static_cast<float>(limit[g][7]));
        steps = std::max(steps, limit[g][kLanes - 1]);
        unmasked = std::min(unmasked, limit[g][0]);
    }
    const unsigned zero[kLanes] = {};
    auto update = [&](unsigned g, unsigned p, auto masked) VELTRANO_TARGET_AVX {
        if constexpr (decltype(masked)::value) {
            const __m256 valid =
                _mm256_cmp_ps(_mm256_set1_ps(static_cast<float>(p)), limitV[g], _CMP_LT_OQ);
            m[g] = _mm256_max_ps(m[g], _mm256_and_ps(magnitudeAvx(s[g]), valid));
        } else {
            m[g] = _mm256_max_ps(m[g], magnitudeAvx(s[g]));
        }
    };
    if (even) {
        // s - 2 c[p - 1] + 2 c[p - 1 + h]: e[p] and e[h + p].
        auto block = [&](unsigned p0, auto masked) VELTRANO_TARGET_AVX {
            TurnedAvx u[kMax];
            TurnedAvx v[kMax];
#pragma GCC unroll 4
            for (unsigned g = 0; g < kMax; ++g) {
                u[g] = turnAvx(e[g], p0, zero);
                v[g] = turnAvx(e[g], p0, h[g]);
            }
#pragma GCC unroll 4
            for (unsigned j = 0; j < 4; ++j) {
#pragma GCC unroll 4
                for (unsigned g = 0; g < kMax; ++g) {
                    s[g] = _mm256_add_ps(_mm256_sub_ps(s[g], _mm256_add_ps(u[g].v[j], u[g].v[j])),
                                         _mm256_add_ps(v[g].v[j], v[g].v[j]));
                    update(g, p0 + j, masked);
                }
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    } else {
        // s - 1.5 c[p - 1] - 0.25 c[p] + c[(h + p - 1) mod L] + c[(h + p) mod L]
        //   - 0.25 c[(p + L - 2) mod L]: e[p], e[p + 1], e[h + p], e[h + p + 1], e[p - 1].
        const __m256 oneHalf = _mm256_set1_ps(1.5f);
        const __m256 quarter = _mm256_set1_ps(0.25f);
        __m256 back[kMax];
        __m256 here[kMax];
        __m256 up[kMax];
#pragma GCC unroll 4
        for (unsigned g = 0; g < kMax; ++g) {
            back[g] = gatherAvx(e[g], 0, zero);
            here[g] = gatherAvx(e[g], 1, zero);
            up[g] = gatherAvx(e[g], 1, h[g]);
        }
        auto block = [&](unsigned p0, auto masked) VELTRANO_TARGET_AVX {
            TurnedAvx next[kMax];
            TurnedAvx nextUp[kMax];
#pragma GCC unroll 4
            for (unsigned g = 0; g < kMax; ++g) {
                next[g] = turnAvx(e[g], p0 + 1, zero);
                nextUp[g] = turnAvx(e[g], p0 + 1, h[g]);
            }
#pragma GCC unroll 4
            for (unsigned j = 0; j < 4; ++j) {
#pragma GCC unroll 4
                for (unsigned g = 0; g < kMax; ++g) {
                    __m256 t = _mm256_sub_ps(s[g], _mm256_mul_ps(oneHalf, here[g]));
                    t = _mm256_sub_ps(t, _mm256_mul_ps(quarter, next[g].v[j]));
                    t = _mm256_add_ps(t, up[g]);
                    t = _mm256_add_ps(t, nextUp[g].v[j]);
                    s[g] = _mm256_sub_ps(t, _mm256_mul_ps(quarter, back[g]));
                    update(g, p0 + j, masked);
                    back[g] = here[g];
                    here[g] = next[g].v[j];
                    up[g] = nextUp[g].v[j];
                }
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    }
    float all[kMax * kLanes];
#pragma GCC unroll 4
    for (unsigned g = 0; g < kMax; ++g) {
        _mm256_storeu_ps(all + g * kLanes, m[g]);
    }
    for (unsigned g = 0; g < count; ++g) {
        std::copy(all + g * kLanes, all + g * kLanes + groups[g].lanes, matches + g * kLanes);
    }
}

#endif

#if defined(VELTRANO_SQUARE_WAVE_AVX512)

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge operand, which its
// flow analysis reports as maybe uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// Four consecutive values from each of sixteen arrays at a fixed stride (first, first + stride,
// ...), turned so that result j holds value j of every array (lanes 0 ... 15).
struct TurnedAvx512 {
    __m512 v[4];
};

VELTRANO_TARGET_AVX512 inline __m512 fourOf(const float* a, const float* b, const float* c,
                                            const float* d) {
    // Broadcast loads merged under masks rather than inserts: the loads broadcast by
    // themselves, which leaves the shuffle units to the transposition proper.
    __m512 r = _mm512_castps128_ps512(_mm_loadu_ps(a));
    r = _mm512_mask_broadcast_f32x4(r, 0x00f0, _mm_loadu_ps(b));
    r = _mm512_mask_broadcast_f32x4(r, 0x0f00, _mm_loadu_ps(c));
    return _mm512_mask_broadcast_f32x4(r, 0xf000, _mm_loadu_ps(d));
}

VELTRANO_TARGET_AVX512 inline TurnedAvx512 turnStridedAvx512(const float* first,
                                                             std::ptrdiff_t stride) {
    const float* at[16];
#pragma GCC unroll 16
    for (unsigned i = 0; i < 16; ++i) {
        at[i] = first + static_cast<std::ptrdiff_t>(i) * stride;
    }
    const __m512 r0 = fourOf(at[0], at[4], at[8], at[12]);
    const __m512 r1 = fourOf(at[1], at[5], at[9], at[13]);
    const __m512 r2 = fourOf(at[2], at[6], at[10], at[14]);
    const __m512 r3 = fourOf(at[3], at[7], at[11], at[15]);
    const __m512 t0 = _mm512_unpacklo_ps(r0, r1);
    const __m512 t1 = _mm512_unpackhi_ps(r0, r1);
    const __m512 t2 = _mm512_unpacklo_ps(r2, r3);
    const __m512 t3 = _mm512_unpackhi_ps(r2, r3);
    return {{_mm512_shuffle_ps(t0, t2, 0x44), _mm512_shuffle_ps(t0, t2, 0xee),
             _mm512_shuffle_ps(t1, t3, 0x44), _mm512_shuffle_ps(t1, t3, 0xee)}};
}

VELTRANO_TARGET_AVX512 inline __m512 gatherStridedAvx512(const float* first,
                                                         std::ptrdiff_t stride) {
    alignas(64) float values[16];
    for (unsigned i = 0; i < 16; ++i) {
        values[i] = first[static_cast<std::ptrdiff_t>(i) * stride];
    }
    return _mm512_load_ps(values);
}

VELTRANO_TARGET_AVX512 inline __m512 magnitudeAvx512(__m512 t) {
    return _mm512_castsi512_ps(
        _mm512_and_si512(_mm512_castps_si512(t), _mm512_set1_epi32(0x7fffffff)));
}

} // namespace

VELTRANO_TARGET_AVX512 void SquareWaveSearch::phaseZeroAvx512(const float* x,
                                                              const float* const* weights,
                                                              unsigned count, float* sums) {
    // As phaseZeroAvx, two groups to a register, their weights kept side by side (the group at
    // an even place of the chunk first; a last odd group is summed along with whatever its
    // neighbour slot holds, which is not used): up to four registers, eight groups, one pass.
    constexpr unsigned kSet = 4;
    constexpr unsigned kWide = 2 * kLanes;
    const unsigned n = frameLength;
    for (unsigned g = 0; g < count; g += 2 * kSet) {
        const float* w[kSet];
        __m512 s[kSet];
#pragma GCC unroll 4
        for (unsigned r = 0; r < kSet; ++r) {
            w[r] = weights[std::min(g + 2 * r, count - 1) & ~1u];
            s[r] = _mm512_setzero_ps();
        }
        for (unsigned k = 0; k < n; ++k) {
            const __m512 xk = _mm512_set1_ps(x[k]);
#pragma GCC unroll 4
            for (unsigned r = 0; r < kSet; ++r) {
                s[r] = _mm512_add_ps(s[r], _mm512_mul_ps(_mm512_loadu_ps(w[r] + k * kWide), xk));
            }
        }
        alignas(64) float all[kSet * kWide];
#pragma GCC unroll 4
        for (unsigned r = 0; r < kSet; ++r) {
            _mm512_store_ps(all + r * kWide, s[r]);
        }
        const unsigned done = std::min(2 * kSet, count - g);
        std::copy(all, all + done * kLanes, sums + g * kLanes);
    }
}

VELTRANO_TARGET_AVX512 void SquareWaveSearch::phaseZeroPairAvx512(const float* const* x,
                                                                  const float* const* weights,
                                                                  unsigned count,
                                                                  float* const* sums) {
    // As phaseZeroAvx512 for two frames in one pass: each weight vector loaded serves both.
    constexpr unsigned kSet = 4;
    constexpr unsigned kWide = 2 * kLanes;
    const unsigned n = frameLength;
    const float* a = x[0];
    const float* b = x[1];
    for (unsigned g = 0; g < count; g += 2 * kSet) {
        const float* w[kSet];
        __m512 sa[kSet];
        __m512 sb[kSet];
#pragma GCC unroll 4
        for (unsigned r = 0; r < kSet; ++r) {
            w[r] = weights[std::min(g + 2 * r, count - 1) & ~1u];
            sa[r] = _mm512_setzero_ps();
            sb[r] = _mm512_setzero_ps();
        }
        for (unsigned k = 0; k < n; ++k) {
            const __m512 ak = _mm512_set1_ps(a[k]);
            const __m512 bk = _mm512_set1_ps(b[k]);
#pragma GCC unroll 4
            for (unsigned r = 0; r < kSet; ++r) {
                const __m512 wk = _mm512_loadu_ps(w[r] + k * kWide);
                sa[r] = _mm512_add_ps(sa[r], _mm512_mul_ps(wk, ak));
                sb[r] = _mm512_add_ps(sb[r], _mm512_mul_ps(wk, bk));
            }
        }
        const unsigned done = std::min(2 * kSet, count - g);
        __m512* const all[2] = {sa, sb};
        for (unsigned f = 0; f < 2; ++f) {
            alignas(64) float values[kSet * kWide];
#pragma GCC unroll 4
            for (unsigned r = 0; r < kSet; ++r) {
                _mm512_store_ps(values + r * kWide, all[f][r]);
            }
            std::copy(values, values + done * kLanes, sums[f] + g * kLanes);
        }
    }
}

template <unsigned kFrameCount, bool kFixedStride>
VELTRANO_TARGET_AVX512 void SquareWaveSearch::stepsAvx512(const Group* groups, unsigned count,
                                                          const float* const* sums,
                                                          float* const* matches) {
    // Up to four groups of one parity, two to a register, of each frame: group g of frame f uses
    // the column sums of lanes f * 32 + g * 8 ... f * 32 + g * 8 + 7, lanes beyond its own
    // repeating the last; missing groups repeat the last one. The same operations per lane as
    // stepsAvx; the frames' registers only run side by side.
    //
    // Lane l of a register reads the column sums at base + l * extStride: the periods of a run
    // are consecutive numbers of one parity, L0 + 2 l, so h = h0 + l and the values at h + p
    // lie at base + h0 + p + l * (extStride + 1). Lanes beyond the run's periods read column
    // sums that were not computed for them; their results are not used.
    constexpr unsigned kPerFrame = kRun / 2;
    constexpr unsigned kRegs = kPerFrame * kFrameCount;
    constexpr unsigned kWide = 2 * kLanes;
    const float* base[kRegs];
    const float* baseUp[kRegs];
    // Phase rows from which every lane's e[h + p] lies past its period (p >= P - hP + 16): they
    // are read where the columns first stand, e[h + p - L], at base + hP - P + p + l (S - 1).
    unsigned wrappedFrom[kRegs];
    std::ptrdiff_t wrapOffset[kRegs];
    const auto stride = static_cast<std::ptrdiff_t>(kFixedStride ? kFixedExtStride : extStride);
    const std::ptrdiff_t strideUp = stride + 1;
    __m512 s[kRegs];
    __m512 m[kRegs];
    __m512 limitV[kRegs];
    const bool even = groups[0].periods[0] % 2 == 0;
    unsigned steps = 0;
    unsigned unmasked = ~0u;
    alignas(64) float start[kRegs][kWide];
    alignas(64) float limitF[kRegs][kWide];
    for (unsigned z = 0; z < kRegs; ++z) {
        const unsigned f = z / kPerFrame;
        base[z] = columns + (f * kColumnLanes + z % kPerFrame * kWide) * extStride;
        // h of lane 0: that of the run's period 2 (z % kPerFrame) * 8 places further on.
        const unsigned h0 = (groups[0].periods[0] + z % kPerFrame * 2 * kWide) / 2;
        baseUp[z] = base[z] + h0;
        const unsigned firstPeriod = groups[0].periods[0] + z % kPerFrame * 2 * kWide;
        wrappedFrom[z] = firstPeriod - h0 + 16;
        wrapOffset[z] = static_cast<std::ptrdiff_t>(h0) - static_cast<std::ptrdiff_t>(firstPeriod);
        for (unsigned l = 0; l < kWide; ++l) {
            const unsigned g = std::min(z % kPerFrame * 2 + l / kLanes, count - 1);
            const Group& group = groups[g];
            const unsigned i = l % kLanes;
            const unsigned limit = even ? group.periods[i] / 2 : group.periods[i];
            limitF[z][l] = static_cast<float>(limit);
            start[z][l] = sums[f][g * kLanes + i];
            steps = std::max(steps, limit);
            unmasked = std::min(unmasked, limit);
        }
        s[z] = _mm512_load_ps(start[z]);
        m[z] = magnitudeAvx512(s[z]);
        limitV[z] = _mm512_load_ps(limitF[z]);
    }
    auto update = [&](unsigned z, unsigned p, auto masked) VELTRANO_TARGET_AVX512 {
        if constexpr (decltype(masked)::value) {
            const __mmask16 valid =
                _mm512_cmp_ps_mask(_mm512_set1_ps(static_cast<float>(p)), limitV[z], _CMP_LT_OQ);
            m[z] = _mm512_max_ps(m[z], _mm512_maskz_mov_ps(valid, magnitudeAvx512(s[z])));
        } else {
            m[z] = _mm512_max_ps(m[z], magnitudeAvx512(s[z]));
        }
    };
    if (even) {
        // s - 2 c[p - 1] + 2 c[p - 1 + h]: e[p] and e[h + p].
        const __m512 two = _mm512_set1_ps(2.0f);
        auto block = [&](unsigned p0, auto masked) VELTRANO_TARGET_AVX512 {
#pragma GCC unroll 4
            for (unsigned z = 0; z < kRegs; ++z) {
                const TurnedAvx512 u = turnStridedAvx512(base[z] + p0, stride);
                const TurnedAvx512 v = turnStridedAvx512(baseUp[z] + p0, strideUp);
#pragma GCC unroll 4
                for (unsigned j = 0; j < 4; ++j) {
                    // 2 c as a product (exact either way): it runs beside the additions.
                    s[z] = _mm512_add_ps(_mm512_sub_ps(s[z], _mm512_mul_ps(two, u.v[j])),
                                         _mm512_mul_ps(two, v.v[j]));
                    update(z, p0 + j, masked);
                }
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    } else {
        // s - 1.5 c[p - 1] - 0.25 c[p] + c[(h + p - 1) mod L] + c[(h + p) mod L]
        //   - 0.25 c[(p + L - 2) mod L]: e[p], e[p + 1], e[h + p], e[h + p + 1], e[p - 1].
        // The products of a column sum are formed once and carried from phase to phase
        // (0.25 c[p] is the 0.25 c[p - 2] of two phases later), and the two plain additions
        // run as multiply-adds by exactly 1 (x * 1 + t rounds once, like t + x), so that the
        // multiply and the add units share the work.
        const __m512 oneHalf = _mm512_set1_ps(1.5f);
        const __m512 quarter = _mm512_set1_ps(0.25f);
        const __m512 one = _mm512_set1_ps(1.0f);
        __m512 quarterBack[kRegs];
        __m512 quarterHere[kRegs];
        __m512 halfHere[kRegs];
        __m512 up[kRegs];
#pragma GCC unroll 4
        for (unsigned z = 0; z < kRegs; ++z) {
            quarterBack[z] = _mm512_mul_ps(quarter, gatherStridedAvx512(base[z], stride));
            const __m512 here = gatherStridedAvx512(base[z] + 1, stride);
            quarterHere[z] = _mm512_mul_ps(quarter, here);
            halfHere[z] = _mm512_mul_ps(oneHalf, here);
            up[z] = gatherStridedAvx512(baseUp[z] + 1, strideUp);
        }
        // One register after the other within a block of four phases: their chains are
        // independent, so the processor overlaps them, without holding every register's
        // turned values at once.
        auto block = [&](unsigned p0, auto masked) VELTRANO_TARGET_AVX512 {
#pragma GCC unroll 4
            for (unsigned z = 0; z < kRegs; ++z) {
                const TurnedAvx512 next = turnStridedAvx512(base[z] + p0 + 1, stride);
                const TurnedAvx512 nextUp =
                    p0 + 1 >= wrappedFrom[z]
                        ? turnStridedAvx512(base[z] + (wrapOffset[z] + p0 + 1), strideUp - 2)
                        : turnStridedAvx512(baseUp[z] + p0 + 1, strideUp);
#pragma GCC unroll 4
                for (unsigned j = 0; j < 4; ++j) {
                    const __m512 quarterNext = _mm512_mul_ps(quarter, next.v[j]);
                    __m512 t = _mm512_sub_ps(s[z], halfHere[z]);
                    t = _mm512_sub_ps(t, quarterNext);
                    t = _mm512_fmadd_ps(up[z], one, t);
                    t = _mm512_fmadd_ps(nextUp.v[j], one, t);
                    s[z] = _mm512_sub_ps(t, quarterBack[z]);
                    update(z, p0 + j, masked);
                    quarterBack[z] = quarterHere[z];
                    quarterHere[z] = quarterNext;
                    halfHere[z] = _mm512_mul_ps(oneHalf, next.v[j]);
                    up[z] = nextUp.v[j];
                }
            }
        };
        unsigned p0 = 1;
        for (; p0 + 3 < unmasked; p0 += 4) {
            block(p0, std::false_type{});
        }
        for (; p0 < steps; p0 += 4) {
            block(p0, std::true_type{});
        }
    }
    alignas(64) float all[kRegs][kWide];
#pragma GCC unroll 4
    for (unsigned z = 0; z < kRegs; ++z) {
        _mm512_store_ps(all[z], m[z]);
    }
    for (unsigned f = 0; f < kFrameCount; ++f) {
        for (unsigned g = 0; g < count; ++g) {
            const float* from = all[f * kPerFrame + g / 2] + (g % 2) * kLanes;
            std::copy(from, from + groups[g].lanes, matches[f] + g * kLanes);
        }
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
