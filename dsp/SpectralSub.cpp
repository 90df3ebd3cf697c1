// Spectral subtraction with a minimum-statistics noise estimate.
//
// Short-time spectral attenuation on a weighted overlap-add frame (square-root Hann analysis and
// synthesis windows, half overlap), in the line of Boll's spectral subtraction (IEEE Trans.
// ASSP 27(2), 1979) and Berouti, Schwartz and Makhoul's over-subtraction with a spectral floor
// (ICASSP 1979). The noise power per bin is not measured in pauses but tracked as the minimum
// of the recursively smoothed power over a window of about three seconds, kept as the minima of
// six sub-windows so that the search window slides without storing every frame (Martin, "Noise
// power spectral density estimation based on optimal smoothing and minimum statistics", IEEE
// Trans. SAP 9(5), 2001, without its bias compensation). The over-subtraction factor grows with
// the noise-to-signal ratio and with a weight that falls with frequency, so low frequencies are
// cleaned harder; the gain is floored at 2 % of the noise-to-frame magnitude ratio, which keeps
// the residual noise-like instead of leaving isolated "musical" peaks.
//
// Every per-bin quantity is single precision and computed in a fixed order; only the amount
// fraction is formed in double precision. The stream bookkeeping (input carry, overlap tail,
// output backlog) makes the result independent of how the input is cut into blocks.
#include "dsp/SpectralSub.h"

#include "common/PortableMath.h"
#include "common/ScopedDenormals.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VELTRANO_SPECTRAL_SSE 1
#else
#define VELTRANO_SPECTRAL_SSE 0
#endif

namespace {

constexpr float kDesignRate = 16000.0f; // rate every time and frequency constant assumes (Hz)
constexpr float kTwoPi = 6.283184f;     // 2 pi as the window formula uses it
constexpr float kPowerOffset = 1e-8f;   // added to Ps: keeps Ps and Ps + Nmin above 0
constexpr float kLongTermFloor = 1e-9f; // replaces a long-term power of exactly 0
constexpr float kGainFloor = 0.02f;     // gain floor relative to the noise-to-frame ratio
constexpr float kRingStart = 611.0f;    // initial value of every minimum (N / 2)

// Time constants and minimum-search spans (s) with the Aggressive switch off and on.
constexpr float kConservativeLongTerm = 0.5f;
constexpr float kConservativeSearch = 2.75f;
constexpr float kAggressiveLongTerm = 0.05f;
constexpr float kAggressiveSearch = 0.75f;

// base^exponent in single precision, by repeated squaring.
float powerBySquaring(float base, unsigned exponent) {
    float result = 1.0f;
    while (exponent != 0) {
        if ((exponent & 1u) != 0) {
            result *= base;
        }
        base *= base;
        exponent >>= 1;
    }
    return result;
}

// The first trunc(2.04^i), i = 1, 2, ..., that reaches 512: 611.
unsigned hopLength() {
    for (unsigned i = 1;; ++i) {
        const auto hop = static_cast<unsigned>(powerBySquaring(2.04f, i));
        if (hop >= 512) {
            return hop;
        }
    }
}

// values[i] := sqrt(values[i]) for i < count, correctly rounded like std::sqrt (which the
// compiler does not run on vectors while it must keep errno).
void squareRoots(float* values, unsigned count) {
    unsigned i = 0;
#if VELTRANO_SPECTRAL_SSE
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_ps(values + i, _mm_sqrt_ps(_mm_loadu_ps(values + i)));
    }
#endif
    for (; i < count; ++i) {
        values[i] = std::sqrt(values[i]);
    }
}

// The gain of one bin from the magnitude ratios a = sqrt(Nmin / P) and b = sqrt(Q Nmin / Pl).
inline float gain(float a, float b, double fraction) {
    float G = 1.0f - b;
    if (G < kGainFloor * a) {
        G = kGainFloor * a;
    }
    if (G >= 1.0f) {
        G = 1.0f;
    } else if (G <= 0.0f) {
        G = 0.0f;
    }
    const auto reduction = static_cast<float>(static_cast<double>(1.0f - G) * fraction);
    return 1.0f - reduction;
}

// a[k] := gain(a[k], b[k], fraction) for k < count. The compiler keeps the comparisons as
// branches, so the vector form is written out; it selects exactly as gain() does, NaN included.
void gains(float* a, const float* b, unsigned count, double fraction) {
    unsigned k = 0;
#if VELTRANO_SPECTRAL_SSE
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 floorFactor = _mm_set1_ps(kGainFloor);
    const __m128d share = _mm_set1_pd(fraction);
    for (; k + 4 <= count; k += 4) {
        __m128 G = _mm_sub_ps(one, _mm_loadu_ps(b + k));
        const __m128 floor = _mm_mul_ps(floorFactor, _mm_loadu_ps(a + k));
        const __m128 below = _mm_cmplt_ps(G, floor);
        G = _mm_or_ps(_mm_and_ps(below, floor), _mm_andnot_ps(below, G));
        const __m128 full = _mm_cmpge_ps(G, one);
        G = _mm_or_ps(_mm_and_ps(full, one), _mm_andnot_ps(full, G));
        G = _mm_andnot_ps(_mm_cmple_ps(G, zero), G);
        const __m128 cut = _mm_sub_ps(one, G);
        const __m128 low = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(cut), share));
        const __m128 high = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(cut, cut)), share));
        _mm_storeu_ps(a + k, _mm_sub_ps(one, _mm_movelh_ps(low, high)));
    }
#endif
    for (; k < count; ++k) {
        a[k] = gain(a[k], b[k], fraction);
    }
}

// exp(-period / timeConstant), rounded to single precision.
float smoothingFactor(float period, float timeConstant) {
    return static_cast<float>(portable::exp(-static_cast<double>(period) / timeConstant));
}

} // namespace

SpectralSub::SpectralSub() : N(2 * hopLength()), H(hopLength()), fft(N) {
    const unsigned K = N / 2;
    const float period = static_cast<float>(H) / kDesignRate;
    alphaS = smoothingFactor(period, 0.1f);
    alphaQ = smoothingFactor(period, 0.08f);

    window.resize(N);
    for (unsigned j = 0; j < N; ++j) {
        const float phase = kTwoPi * static_cast<float>(j) / static_cast<float>(N);
        // The cosine correctly rounded to single precision (the C libraries' cosf differ).
        const auto cosine = static_cast<float>(portable::cos(static_cast<double>(phase)));
        window[j] = std::sqrt(0.5f - 0.5f * cosine);
    }
    frequencyWeights.resize(K);
    for (unsigned k = 0; k < K; ++k) {
        const float frequency = kDesignRate * static_cast<float>(k) / static_cast<float>(N);
        frequencyWeights[k] = 4.0f / (1.0f + frequency / 400.0f);
    }

    ringStorage.resize(static_cast<std::size_t>(kRingSize) * K);
    noiseEstimate.resize(K);
    shortTermPower.resize(K);
    longTermPower.resize(K);
    framePower.resize(K);
    overSubtraction.resize(K);
    timeBuffer.resize(N);
    spectrumBuffer.resize(fft.complexSize());

    // Carry: below N samples before a piece, plus the piece. Backlog: below N samples before a
    // piece, plus every frame of the piece, plus the last frame's second half.
    inputCarry.resize(N + kMaxPiece);
    overlapTail.resize(N - H);
    outputBacklog.resize(2 * N + kMaxPiece);
    reset();
}

SpectralSub::~SpectralSub() = default;

void SpectralSub::reset() {
    const auto clear = [](std::vector<float>& values) {
        std::fill(values.begin(), values.end(), 0.0f);
    };
    useTimeConstants(kConservativeLongTerm, kConservativeSearch);
    std::fill(ringStorage.begin(), ringStorage.end(), kRingStart);
    const std::size_t K = noiseEstimate.size();
    for (unsigned r = 0; r < kRingSize; ++r) {
        minimumRing[r] = ringStorage.data() + static_cast<std::size_t>(r) * K;
    }
    for (auto* values :
         {&noiseEstimate, &shortTermPower, &longTermPower, &framePower, &overSubtraction,
          &timeBuffer, &spectrumBuffer, &inputCarry, &overlapTail, &outputBacklog}) {
        clear(*values);
    }
    carryCount = 0;
    backlogCount = 0;
    firstBlock = true;
    frameCounter = 0;
}

void SpectralSub::useTimeConstants(float longTerm, float search) {
    longTermSeconds = longTerm;
    searchSeconds = search;
    alphaL = smoothingFactor(static_cast<float>(H) / kDesignRate, longTerm);
    const float subWindow = search * kDesignRate / static_cast<float>(kRingSize * H);
    const auto length = static_cast<unsigned>(std::ceil(subWindow));
    if (length != L) {
        // The ring keeps its minima; the next sub-window starts now.
        L = length;
        frameCounter = 0;
    }
}

int SpectralSub::process(const float* input, float* output, unsigned count, float amountPercent,
                         unsigned* outCount, bool conservative) {
    if (count == 0) {
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr || count > INT_MAX) {
        return 2;
    }
    const ScopedFlushDenormals noDenormals;

    const float longTerm = conservative ? kConservativeLongTerm : kAggressiveLongTerm;
    const float search = conservative ? kConservativeSearch : kAggressiveSearch;
    if (longTerm != longTermSeconds || search != searchSeconds) {
        useTimeConstants(longTerm, search);
    }

    float amount = amountPercent;
    if (!(amount >= 0.0f)) {
        amount = 0.0f;
    } else if (amount > 100.0f) {
        amount = 100.0f;
    }
    const double fraction = static_cast<double>(amount) / 100.0;

    // Pieces read their whole input before writing and never write past the input they have
    // read, so the output may be the input array.
    unsigned consumed = 0;
    unsigned written = 0;
    while (consumed < count) {
        const unsigned piece = std::min(count - consumed, kMaxPiece);
        written += processPiece(input + consumed, output + written, piece, fraction);
        consumed += piece;
    }
    *outCount = written;
    return static_cast<int>(written);
}

unsigned SpectralSub::processPiece(const float* input, float* output, unsigned count,
                                   double fraction) {
    // Work signal: the carry followed by the new samples, cleaned of values that would make a
    // power non-finite.
    float* const work = inputCarry.data();
    for (unsigned i = 0; i < count; ++i) {
        const float x = input[i];
        work[carryCount + i] = std::isfinite(x) ? std::clamp(x, -kMaxInput, kMaxInput) : 0.0f;
    }
    const unsigned total = carryCount + count;
    const unsigned frames = total >= N ? (total - N) / H + 1 : 0;

    // Frames overlap-add straight behind the samples already waiting in the backlog.
    float* const accumulator = outputBacklog.data() + backlogCount;
    for (unsigned f = 0; f < frames; ++f) {
        processFrame(work + static_cast<std::size_t>(f) * H,
                     accumulator + static_cast<std::size_t>(f) * H, f == 0, fraction);
    }
    const unsigned finished = frames * H;
    if (frames > 0) {
        std::memcpy(overlapTail.data(), accumulator + finished, (N - H) * sizeof(float));
        std::memmove(work, work + finished, (total - finished) * sizeof(float));
    }
    carryCount = total - finished;

    const unsigned available = backlogCount + finished;
    unsigned produced;
    if (firstBlock) {
        if (frames == 0) {
            return 0;
        }
        // The first output ends H samples before the end of the finished part; from then on
        // at least one sample always waits, and every call can return as many as it got.
        produced = finished - H;
        firstBlock = false;
    } else {
        produced = std::min(count, available);
    }
    std::memcpy(output, outputBacklog.data(), produced * sizeof(float));
    backlogCount = available - produced;
    std::memmove(outputBacklog.data(), outputBacklog.data() + produced,
                 backlogCount * sizeof(float));
    return produced;
}

void SpectralSub::processFrame(const float* frame, float* accumulator, bool firstOfCall,
                               double fraction) {
    const unsigned K = N / 2;
    float* const t = timeBuffer.data();
    float* const X = spectrumBuffer.data(); // K + 1 pairs (re, im)

    for (unsigned j = 0; j < N; ++j) {
        t[j] = window[j] * frame[j];
    }
    fft.forwardComplex(t, X);

    // The bins' loops below are written so that the compiler can run them on vectors; every
    // element is still computed with the same operations in the same order.
    float* const P = framePower.data();
    float* const Ps = shortTermPower.data();
    for (unsigned k = 0; k < K; ++k) {
        P[k] = X[2 * k] * X[2 * k] + X[2 * k + 1] * X[2 * k + 1]; // im0 is 0: P0 = r0 * r0
    }
    const float keepS = alphaS;
    const float takeS = 1.0f - alphaS;
    for (unsigned k = 0; k < K; ++k) {
        const float smoothed = keepS * Ps[k] + takeS * P[k];
        Ps[k] = smoothed + kPowerOffset;
    }

    // Sub-window bookkeeping: a new minimum array every L frames, the oldest one dropped.
    frameCounter = (frameCounter + 1) % L;
    if (frameCounter == 0) {
        std::rotate(minimumRing.begin(), minimumRing.end() - 1, minimumRing.end());
        std::memcpy(minimumRing[0], Ps, K * sizeof(float));
    } else {
        float* const m0 = minimumRing[0];
        for (unsigned k = 0; k < K; ++k) {
            m0[k] = std::min(m0[k], Ps[k]);
        }
    }
    float* const Nmin = noiseEstimate.data();
    std::memcpy(Nmin, minimumRing[0], K * sizeof(float));
    for (unsigned r = 1; r < kRingSize; ++r) {
        const float* const m = minimumRing[r];
        for (unsigned k = 0; k < K; ++k) {
            Nmin[k] = std::min(Nmin[k], m[k]);
        }
    }

    float* const Q = overSubtraction.data();
    float* const Pl = longTermPower.data();
    const float* const W = frequencyWeights.data();
    const float keepQ = alphaQ;
    const float takeQ = 1.0f - alphaQ;
    const float keepL = alphaL;
    const float takeL = 1.0f - alphaL;
    for (unsigned k = 0; k < K; ++k) {
        Q[k] = keepQ * Q[k] + takeQ * (1.0f + W[k] * Nmin[k] / (Ps[k] + Nmin[k]));
        const float longTerm = keepL * Pl[k] + takeL * P[k];
        Pl[k] = longTerm == 0.0f ? kLongTermFloor : longTerm;
    }

    // Gains: the two magnitude ratios go through the time buffer (free until the inverse
    // transform), the gain of bin k replaces the first ratio at t[k].
    float* const a = t;
    float* const b = t + K;
    for (unsigned k = 0; k < K; ++k) {
        a[k] = Nmin[k] / P[k];
        b[k] = Q[k] * Nmin[k] / Pl[k];
    }
    squareRoots(a, N);
    gains(a, b, K, fraction);
    for (unsigned k = 0; k < K; ++k) {
        X[2 * k] = a[k] * X[2 * k];
        X[2 * k + 1] = a[k] * X[2 * k + 1];
    }
    // The Nyquist coefficient follows the highest bin with a gain of its own.
    X[2 * K] = a[K - 1] * X[2 * K];

    fft.backwardComplex(X, t);
    const auto scale = static_cast<float>(N);
    if (firstOfCall) {
        for (unsigned j = 0; j < N - H; ++j) {
            accumulator[j] = window[j] * t[j] / scale + overlapTail[j];
        }
    } else {
        for (unsigned j = 0; j < N - H; ++j) {
            accumulator[j] += window[j] * t[j] / scale;
        }
    }
    for (unsigned j = N - H; j < N; ++j) {
        accumulator[j] = window[j] * t[j] / scale;
    }
}
