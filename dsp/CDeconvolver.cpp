// Adaptive linear prediction with Widrow and Hoff's least-mean-squares rule, normalized by a
// running input power (NLMS): for every sample the prediction
// y = sum h[k] x[n-D-k] is formed with the coefficients from before the sample, the error
// e = x[n] - y drives the update h[k] += 2 mu e x[n-D-k], and mu = c / max(P, 1e-9) (at most 1)
// follows the mean square P of the input. Removing the predictable part of a signal this way is
// the classic adaptive line enhancer turned round: the error keeps the broadband part, the
// prediction holds the narrowband and reverberant part.
//
// The two passes over the coefficients per sample (prediction, update) are the whole cost. They
// are fused: the pass that updates the coefficients for sample n also accumulates the prediction
// for sample n + 1 with the updated values, which is exactly the prediction that sample needs.
// Each prediction is summed in 16 lanes (lane l takes the taps l, l + 16, ...) and the lanes are
// added in one fixed tree, so the plain, SSE2, AVX and AVX-512 kernels round identically, and
// the result never depends on where a block starts.
#include "dsp/CDeconvolver.h"
#include "platform/CpuFeatures.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VELTRANO_DECONV_SSE2 1
#else
#define VELTRANO_DECONV_SSE2 0
#endif

// The AVX and AVX-512 kernels are compiled for their own targets and chosen at run time, so the
// build keeps the SSE2 baseline. Their loops keep every vector in registers: on Windows, where
// GCC does not realign the stack for 32- and 64-byte vectors, nothing of them may be spilled
// with aligned moves.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VELTRANO_DECONV_AVX 1
#else
#define VELTRANO_DECONV_AVX 0
#endif

namespace {

constexpr float kPowerKeep = 0.999375f; // per-sample weight of the previous power
constexpr float kPowerNew = 0.000625f;  // per-sample weight of the new squared sample
constexpr float kPowerFloor = 1e-9f;    // smallest power the step is computed from
constexpr unsigned kLanes = 16;         // partial sums per prediction
constexpr unsigned kLineLength =
    CDeconvolver::kMaxDelay + CDeconvolver::kMaxOrder + CDeconvolver::kChunk;

inline float clampUnit(float v) {
    return std::min(std::max(v, -1.0f), 1.0f);
}

// The fixed reduction: lanes l and l + 8, then l and l + 4, l and l + 2, 0 and 1.
inline float sumLanes(const float* lanes) {
    float t[8];
    for (unsigned l = 0; l < 8; ++l) {
        t[l] = lanes[l] + lanes[l + 8];
    }
    for (unsigned l = 0; l < 4; ++l) {
        t[l] = t[l] + t[l + 4];
    }
    for (unsigned l = 0; l < 2; ++l) {
        t[l] = t[l] + t[l + 2];
    }
    return t[0] + t[1];
}

// Taps past the last whole group of kLanes, added one by one after the lanes.
inline float predictTail(float sum, const float* taps, const float* x, unsigned from,
                         unsigned count) {
    float tail = 0.0f;
    for (unsigned j = from; j < count; ++j) {
        tail = tail + taps[j] * x[j];
    }
    return sum + tail;
}

inline float updatePredictTail(float sum, float* taps, const float* x, unsigned from,
                               unsigned count, float gain) {
    float tail = 0.0f;
    for (unsigned j = from; j < count; ++j) {
        const float h = clampUnit(taps[j] + gain * x[j]);
        taps[j] = h;
        tail = tail + h * x[j + 1];
    }
    return sum + tail;
}

inline void updateTail(float* taps, const float* x, unsigned from, unsigned count, float gain) {
    for (unsigned j = from; j < count; ++j) {
        taps[j] = clampUnit(taps[j] + gain * x[j]);
    }
}

// The three inner loops over count taps (taps[j] weights x[j]):
//   predict:        returns sum taps[j] x[j]
//   updatePredict:  taps[j] := clamp(taps[j] + gain x[j]), returns sum taps[j] x[j + 1]
//   update:         taps[j] := clamp(taps[j] + gain x[j])
struct Kernels {
    float (*predict)(const float* taps, const float* x, unsigned count);
    float (*updatePredict)(float* taps, const float* x, unsigned count, float gain);
    void (*update)(float* taps, const float* x, unsigned count, float gain);
};

// ---- Plain C++

float predictPlain(const float* taps, const float* x, unsigned count) {
    float acc[kLanes] = {};
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        for (unsigned l = 0; l < kLanes; ++l) {
            acc[l] = acc[l] + taps[j + l] * x[j + l];
        }
    }
    return predictTail(sumLanes(acc), taps, x, body, count);
}

// The coefficients and the samples never overlap; saying so lets the compiler vectorise.
float updatePredictPlain(float* __restrict taps, const float* __restrict x, unsigned count,
                         float gain) {
    float acc[kLanes] = {};
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        for (unsigned l = 0; l < kLanes; ++l) {
            const float h = clampUnit(taps[j + l] + gain * x[j + l]);
            taps[j + l] = h;
            acc[l] = acc[l] + h * x[j + l + 1];
        }
    }
    return updatePredictTail(sumLanes(acc), taps, x, body, count, gain);
}

void updatePlain(float* __restrict taps, const float* __restrict x, unsigned count, float gain) {
    for (unsigned j = 0; j < count; ++j) {
        taps[j] = clampUnit(taps[j] + gain * x[j]);
    }
}

constexpr Kernels kPlain{predictPlain, updatePredictPlain, updatePlain};

// ---- SSE2: four vectors of four lanes

#if VELTRANO_DECONV_SSE2

// Lanes 0-3, 4-7, 8-11, 12-15 in a0 ... a3, reduced in the order of sumLanes.
inline float sumLanesSse2(__m128 a0, __m128 a1, __m128 a2, __m128 a3) {
    const __m128 t4 = _mm_add_ps(_mm_add_ps(a0, a2), _mm_add_ps(a1, a3));
    const __m128 t2 = _mm_add_ps(t4, _mm_movehl_ps(t4, t4));
    return _mm_cvtss_f32(_mm_add_ss(t2, _mm_shuffle_ps(t2, t2, 1)));
}

inline __m128 clampSse2(__m128 v) {
    return _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
}

float predictSse2(const float* taps, const float* x, unsigned count) {
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(taps + j), _mm_loadu_ps(x + j)));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(taps + j + 4), _mm_loadu_ps(x + j + 4)));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(taps + j + 8), _mm_loadu_ps(x + j + 8)));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(taps + j + 12), _mm_loadu_ps(x + j + 12)));
    }
    return predictTail(sumLanesSse2(a0, a1, a2, a3), taps, x, body, count);
}

// One group of four taps: update, store, and return the updated taps times the next window.
inline __m128 updateFourSse2(float* taps, const float* x, __m128 gain) {
    const __m128 h = clampSse2(_mm_add_ps(_mm_loadu_ps(taps), _mm_mul_ps(gain, _mm_loadu_ps(x))));
    _mm_storeu_ps(taps, h);
    return _mm_mul_ps(h, _mm_loadu_ps(x + 1));
}

float updatePredictSse2(float* taps, const float* x, unsigned count, float gain) {
    const __m128 g = _mm_set1_ps(gain);
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        a0 = _mm_add_ps(a0, updateFourSse2(taps + j, x + j, g));
        a1 = _mm_add_ps(a1, updateFourSse2(taps + j + 4, x + j + 4, g));
        a2 = _mm_add_ps(a2, updateFourSse2(taps + j + 8, x + j + 8, g));
        a3 = _mm_add_ps(a3, updateFourSse2(taps + j + 12, x + j + 12, g));
    }
    return updatePredictTail(sumLanesSse2(a0, a1, a2, a3), taps, x, body, count, gain);
}

void updateSse2(float* taps, const float* x, unsigned count, float gain) {
    const __m128 g = _mm_set1_ps(gain);
    const unsigned body = count - count % 4;
    for (unsigned j = 0; j < body; j += 4) {
        _mm_storeu_ps(taps + j, clampSse2(_mm_add_ps(_mm_loadu_ps(taps + j),
                                                     _mm_mul_ps(g, _mm_loadu_ps(x + j)))));
    }
    updateTail(taps, x, body, count, gain);
}

constexpr Kernels kSse2{predictSse2, updatePredictSse2, updateSse2};

#endif

// ---- AVX: two vectors of eight lanes (multiply and add kept apart, as in the other kernels)

#if VELTRANO_DECONV_AVX

#define VELTRANO_AVX __attribute__((target("avx")))

// Lanes 0-7 in a0, 8-15 in a1, reduced in the order of sumLanes.
VELTRANO_AVX inline float sumLanesAvx(__m256 a0, __m256 a1) {
    const __m256 t8 = _mm256_add_ps(a0, a1);
    const __m128 t4 = _mm_add_ps(_mm256_castps256_ps128(t8), _mm256_extractf128_ps(t8, 1));
    const __m128 t2 = _mm_add_ps(t4, _mm_movehl_ps(t4, t4));
    return _mm_cvtss_f32(_mm_add_ss(t2, _mm_shuffle_ps(t2, t2, 1)));
}

VELTRANO_AVX inline __m256 clampAvx(__m256 v) {
    return _mm256_min_ps(_mm256_max_ps(v, _mm256_set1_ps(-1.0f)), _mm256_set1_ps(1.0f));
}

VELTRANO_AVX float predictAvx(const float* taps, const float* x, unsigned count) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0;
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_loadu_ps(taps + j), _mm256_loadu_ps(x + j)));
        a1 = _mm256_add_ps(
            a1, _mm256_mul_ps(_mm256_loadu_ps(taps + j + 8), _mm256_loadu_ps(x + j + 8)));
    }
    return predictTail(sumLanesAvx(a0, a1), taps, x, body, count);
}

VELTRANO_AVX inline __m256 updateEightAvx(float* taps, const float* x, __m256 gain) {
    const __m256 h =
        clampAvx(_mm256_add_ps(_mm256_loadu_ps(taps), _mm256_mul_ps(gain, _mm256_loadu_ps(x))));
    _mm256_storeu_ps(taps, h);
    return _mm256_mul_ps(h, _mm256_loadu_ps(x + 1));
}

VELTRANO_AVX float updatePredictAvx(float* taps, const float* x, unsigned count, float gain) {
    const __m256 g = _mm256_set1_ps(gain);
    __m256 a0 = _mm256_setzero_ps(), a1 = a0;
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        a0 = _mm256_add_ps(a0, updateEightAvx(taps + j, x + j, g));
        a1 = _mm256_add_ps(a1, updateEightAvx(taps + j + 8, x + j + 8, g));
    }
    return updatePredictTail(sumLanesAvx(a0, a1), taps, x, body, count, gain);
}

VELTRANO_AVX void updateAvx(float* taps, const float* x, unsigned count, float gain) {
    const __m256 g = _mm256_set1_ps(gain);
    const unsigned body = count - count % 8;
    for (unsigned j = 0; j < body; j += 8) {
        _mm256_storeu_ps(taps + j,
                         clampAvx(_mm256_add_ps(_mm256_loadu_ps(taps + j),
                                                _mm256_mul_ps(g, _mm256_loadu_ps(x + j)))));
    }
    updateTail(taps, x, body, count, gain);
}

#undef VELTRANO_AVX

constexpr Kernels kAvx{predictAvx, updatePredictAvx, updateAvx};

// ---- AVX-512: one vector of sixteen lanes. Half the instructions of the AVX kernel per tap,
// which is what bounds the long predictors; the sums are the same. The lanes start from their
// first products instead of 0 + product: the two differ at most in the sign of a zero, which
// never changes a non-zero sum, and a zero prediction comes out as +0 either way because the
// tail sum added last is +0 or non-zero (it starts at +0, and adding to +0 never gives -0).

#define VELTRANO_AVX512 __attribute__((target("avx512f")))

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge operand, which its
// uninitialised-value analysis reports once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Lanes 0-15 in a, reduced in the order of sumLanes.
VELTRANO_AVX512 inline float sumLanesAvx512(__m512 a) {
    const __m256 t8 =
        _mm256_add_ps(_mm512_castps512_ps256(a),
                      _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(a), 1)));
    const __m128 t4 = _mm_add_ps(_mm256_castps256_ps128(t8), _mm256_extractf128_ps(t8, 1));
    const __m128 t2 = _mm_add_ps(t4, _mm_movehl_ps(t4, t4));
    return _mm_cvtss_f32(_mm_add_ss(t2, _mm_shuffle_ps(t2, t2, 1)));
}

VELTRANO_AVX512 inline __m512 clampAvx512(__m512 v) {
    return _mm512_min_ps(_mm512_max_ps(v, _mm512_set1_ps(-1.0f)), _mm512_set1_ps(1.0f));
}

VELTRANO_AVX512 float predictAvx512(const float* taps, const float* x, unsigned count) {
    const unsigned body = count - count % kLanes;
    if (body == 0) {
        return predictTail(0.0f, taps, x, 0, count);
    }
    __m512 a = _mm512_mul_ps(_mm512_loadu_ps(taps), _mm512_loadu_ps(x));
    for (unsigned j = kLanes; j < body; j += kLanes) {
        a = _mm512_add_ps(a, _mm512_mul_ps(_mm512_loadu_ps(taps + j), _mm512_loadu_ps(x + j)));
    }
    return predictTail(sumLanesAvx512(a), taps, x, body, count);
}

VELTRANO_AVX512 inline __m512 updateSixteenAvx512(float* taps, const float* x, __m512 gain) {
    const __m512 h =
        clampAvx512(_mm512_add_ps(_mm512_loadu_ps(taps), _mm512_mul_ps(gain, _mm512_loadu_ps(x))));
    _mm512_storeu_ps(taps, h);
    return _mm512_mul_ps(h, _mm512_loadu_ps(x + 1));
}

VELTRANO_AVX512 float updatePredictAvx512(float* taps, const float* x, unsigned count, float gain) {
    const unsigned body = count - count % kLanes;
    if (body == 0) {
        return updatePredictTail(0.0f, taps, x, 0, count, gain);
    }
    const __m512 g = _mm512_set1_ps(gain);
    __m512 a = updateSixteenAvx512(taps, x, g);
    for (unsigned j = kLanes; j < body; j += kLanes) {
        a = _mm512_add_ps(a, updateSixteenAvx512(taps + j, x + j, g));
    }
    return updatePredictTail(sumLanesAvx512(a), taps, x, body, count, gain);
}

VELTRANO_AVX512 void updateAvx512(float* taps, const float* x, unsigned count, float gain) {
    const __m512 g = _mm512_set1_ps(gain);
    const unsigned body = count - count % kLanes;
    for (unsigned j = 0; j < body; j += kLanes) {
        _mm512_storeu_ps(taps + j,
                         clampAvx512(_mm512_add_ps(_mm512_loadu_ps(taps + j),
                                                   _mm512_mul_ps(g, _mm512_loadu_ps(x + j)))));
    }
    updateTail(taps, x, body, count, gain);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#undef VELTRANO_AVX512

constexpr Kernels kAvx512{predictAvx512, updatePredictAvx512, updateAvx512};

#endif

const Kernels& kernelsFor(CDeconvolver::Kernel which) {
    switch (which) {
#if VELTRANO_DECONV_AVX
    case CDeconvolver::Kernel::Avx:
        return kAvx;
    case CDeconvolver::Kernel::Avx512:
        return kAvx512;
#endif
#if VELTRANO_DECONV_SSE2
    case CDeconvolver::Kernel::Sse2:
        return kSse2;
#endif
    default:
        return kPlain;
    }
}

// Finite and not NaN, by comparison (stays correct whatever the floating-point options).
inline bool isFinite(float v) {
    return std::fabs(v) <= FLT_MAX;
}

} // namespace

CDeconvolver::CDeconvolver()
    : step(kStepNumerator), adapt(true), order(128), delay(3), amount(1.0f), power(1.0f),
      coefficients(kMaxOrder, 0.0f), history(kLineLength, 0.0f), clearHistory(true),
      historyLength(0), activeKernel(Kernel::Plain) {
    for (const Kernel which : {Kernel::Sse2, Kernel::Avx, Kernel::Avx512}) {
        selectKernel(which);
    }
}

void CDeconvolver::reset() {
    std::fill(coefficients.begin(), coefficients.end(), 0.0f);
    step = kStepNumerator;
    power = 1.0f;
    clearHistory = true;
}

bool CDeconvolver::kernelAvailable(Kernel which) {
    switch (which) {
    case Kernel::Plain:
        return true;
    case Kernel::Sse2:
        return VELTRANO_DECONV_SSE2 != 0;
    case Kernel::Avx:
#if VELTRANO_DECONV_AVX
        return platform::cpuHasAvx();
#else
        return false;
#endif
    case Kernel::Avx512:
#if VELTRANO_DECONV_AVX
        return platform::cpuHasAvx512();
#else
        return false;
#endif
    }
    return false;
}

bool CDeconvolver::selectKernel(Kernel which) {
    if (!kernelAvailable(which)) {
        return false;
    }
    activeKernel = which;
    return true;
}

int CDeconvolver::process(const float* input, float* output, unsigned count, unsigned* outCount) {
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    if (count == 0) {
        *outCount = 0;
        return 0;
    }
    const unsigned p = std::min(order, kMaxOrder);
    const unsigned span = std::min(delay, kMaxDelay) + p;
    float* const line = history.data();
    if (clearHistory || historyLength != span) {
        std::fill_n(line, span, 0.0f);
        historyLength = span;
    }
    clearHistory = false;

    const Kernels& k = kernelsFor(activeKernel);
    // taps[j] weights line[i + 1 + j] for the sample at line[span + i].
    float* const taps = coefficients.data() + (kMaxOrder - p);
    const float keep = 1.0f - amount;

    for (unsigned done = 0; done < count;) {
        const unsigned n = std::min(count - done, kChunk);
        for (unsigned i = 0; i < n; ++i) {
            const float v = input[done + i];
            line[span + i] = isFinite(v) ? v : 0.0f;
        }
        float prediction = k.predict(taps, line + 1, p);
        for (unsigned i = 0; i < n; ++i) {
            const float x = line[span + i];
            float error = x - prediction;
            const float decayed = kPowerKeep * power;
            power = decayed + kPowerNew * (x * x);
            float mu = kStepNumerator / std::max(power, kPowerFloor);
            mu = std::min(mu, 1.0f);
            float gain = 2.0f * mu * error;
            if (!isFinite(prediction) || !isFinite(power) || (adapt && !isFinite(gain)))
                [[unlikely]] {
                // Only absurdly large input gets here: start the model afresh.
                std::fill(coefficients.begin(), coefficients.end(), 0.0f);
                power = 1.0f;
                mu = kStepNumerator;
                prediction = 0.0f;
                error = x;
                gain = 0.0f;
            }
            step = mu;
            output[done + i] = error + keep * prediction;

            const float* window = line + i + 1;
            const bool more = i + 1 < n;
            if (adapt) {
                if (more) {
                    prediction = k.updatePredict(taps, window, p, gain);
                } else {
                    k.update(taps, window, p, gain);
                }
            } else if (more) {
                prediction = k.predict(taps, window + 1, p);
            }
        }
        std::memmove(line, line + n, span * sizeof(float));
        done += n;
    }
    *outCount = count;
    return 0;
}
