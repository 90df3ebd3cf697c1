// Real FFT of length n = 2 p q (p, q odd) without allocation, in vectors.
//
// The real sequence is transformed as the complex sequence z_j = x_2j + i x_2j+1 of m = p q
// points, whose spectrum Z splits into the spectra of the even and odd samples (the same
// packing as PortableRealFft). The m-point transform is one Cooley-Tukey step with the index
// maps j = a + p b and k = q c + d:
//     T[a][d] = sum_b z_(a + p b) w_q^(b d)          p transforms of q points
//     T[a][d] *= w_m^(a d)                            twiddle factors
//     Z_(q c + d) = sum_a T[a][d] w_p^(a c)           q transforms of p points
// Each short transform is a direct DFT that pairs the terms b and q - b (their sum meets the
// cosines, their difference the sines, and the outputs d and q - d share both sums), which
// halves the multiplications. The q-point transforms run in vectors over the output index d, their
// inputs broadcast; the p-point transforms in vectors over d, one row of T per input. Every output
// is formed by the same single-precision operations in the same order whatever the vector width, so
// results are the same bits on every machine and every run. Tables are made in double precision
// and rounded once.
#include "common/PortableMath.h"
#include "platform/CpuFeatures.h"
#include "platform/RealFft.h"

#include <cstring>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace platform {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr unsigned kMaxFactor = 64; // largest factor handled (cost grows with its square)
constexpr unsigned kPad = 32;       // tables and rows are padded to multiples of this

unsigned roundUp(unsigned v) {
    return (v + kPad - 1) / kPad * kPad;
}

// Smallest odd factor p >= 3 of m = n / 2 with q = m / p >= 3, both at most kMaxFactor; 0 if n
// has no such form.
unsigned firstFactor(unsigned n) {
    if (n % 2 != 0 || (n / 2) % 2 == 0) {
        return 0;
    }
    const unsigned m = n / 2;
    for (unsigned p = 3; p <= kMaxFactor && p * p <= m; p += 2) {
        if (m % p == 0) {
            return m / p <= kMaxFactor ? p : 0;
        }
    }
    return 0;
}

#if defined(__GNUC__) && !defined(__clang__)
// Vectors are passed only between inline functions of this file; the note that their calling
// convention differs with and without AVX does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#if defined(__GNUC__)
// W floats as one value (GCC's and Clang's vector types); the code using them is inlined into
// functions compiled for the instruction set that has vectors of that width.
#define VELTRANO_INLINE inline __attribute__((always_inline))
template <unsigned W>
struct Lanes {
    typedef float Pack __attribute__((vector_size(W * sizeof(float))));
    VELTRANO_INLINE static Pack broadcast(float v) { return Pack{} + v; }
    VELTRANO_INLINE static Pack load(const float* at) {
        Pack v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    VELTRANO_INLINE static void store(float* at, const Pack& v) { std::memcpy(at, &v, sizeof v); }
    template <std::size_t... I>
    VELTRANO_INLINE static Pack reversed(const Pack& v, std::index_sequence<I...>) {
        return __builtin_shufflevector(v, v, static_cast<int>(W - 1 - I)...);
    }
    VELTRANO_INLINE static Pack reverse(const Pack& v) {
        return reversed(v, std::make_index_sequence<W>{});
    }
    // (a0 b0 a1 b1 ...) from the first (low) or second (high) halves of a and b.
    template <std::size_t... I>
    VELTRANO_INLINE static Pack zipLow(const Pack& a, const Pack& b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, static_cast<int>(I % 2 == 0 ? I / 2 : W + I / 2)...);
    }
    template <std::size_t... I>
    VELTRANO_INLINE static Pack zipHigh(const Pack& a, const Pack& b, std::index_sequence<I...>) {
        return __builtin_shufflevector(
            a, b, static_cast<int>(I % 2 == 0 ? W / 2 + I / 2 : W + W / 2 + I / 2)...);
    }
    // Stores a and b interleaved at 2 W floats from `at`.
    VELTRANO_INLINE static void storeInterleaved(float* at, const Pack& a, const Pack& b) {
        store(at, zipLow(a, b, std::make_index_sequence<W>{}));
        store(at + W, zipHigh(a, b, std::make_index_sequence<W>{}));
    }
    template <std::size_t... I>
    VELTRANO_INLINE static Pack evens(const Pack& a, const Pack& b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, static_cast<int>(2 * I)...);
    }
    template <std::size_t... I>
    VELTRANO_INLINE static Pack odds(const Pack& a, const Pack& b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, static_cast<int>(2 * I + 1)...);
    }
    // Loads 2 W interleaved floats from `at` into the even-indexed and the odd-indexed ones.
    VELTRANO_INLINE static void loadInterleaved(const float* at, Pack& even, Pack& odd) {
        const Pack a = load(at);
        const Pack b = load(at + W);
        even = evens(a, b, std::make_index_sequence<W>{});
        odd = odds(a, b, std::make_index_sequence<W>{});
    }
};
#else
#define VELTRANO_INLINE inline
template <unsigned W>
struct Lanes {
    struct Pack {
        float v[W];
        friend Pack operator+(Pack a, const Pack& b) {
            for (unsigned i = 0; i < W; ++i) {
                a.v[i] = a.v[i] + b.v[i];
            }
            return a;
        }
        friend Pack operator-(Pack a, const Pack& b) {
            for (unsigned i = 0; i < W; ++i) {
                a.v[i] = a.v[i] - b.v[i];
            }
            return a;
        }
        friend Pack operator*(Pack a, const Pack& b) {
            for (unsigned i = 0; i < W; ++i) {
                a.v[i] = a.v[i] * b.v[i];
            }
            return a;
        }
    };
    static Pack broadcast(float s) {
        Pack r;
        for (float& e : r.v) {
            e = s;
        }
        return r;
    }
    static Pack load(const float* at) {
        Pack v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    static void store(float* at, const Pack& v) { std::memcpy(at, &v, sizeof v); }
    static Pack reverse(const Pack& v) {
        Pack r;
        for (unsigned i = 0; i < W; ++i) {
            r.v[i] = v.v[W - 1 - i];
        }
        return r;
    }
    static void storeInterleaved(float* at, const Pack& a, const Pack& b) {
        for (unsigned i = 0; i < W; ++i) {
            at[2 * i] = a.v[i];
            at[2 * i + 1] = b.v[i];
        }
    }
    static void loadInterleaved(const float* at, Pack& even, Pack& odd) {
        for (unsigned i = 0; i < W; ++i) {
            even.v[i] = at[2 * i];
            odd.v[i] = at[2 * i + 1];
        }
    }
};
#endif

} // namespace

// The complex transform for one vector width W (a divisor of kPad / 2).
struct OddPairKernels {
    template <unsigned W>
    VELTRANO_INLINE static void transform(OddPairRealFft& f, const float* in, bool inverse) {
        using L = Lanes<W>;
        using Pack = typename L::Pack;
        const unsigned p = f.p;
        const unsigned q = f.q;
        const unsigned halfP = f.halfP;
        const unsigned halfQ = f.halfQ;
        const unsigned halfQPadded = f.halfQPadded;
        const unsigned row = f.row;
        const float sign = inverse ? -1.0f : 1.0f;

        // Step 1: q-point transforms of z_(a + p b) for each a, into rows[a][d]. The sums and
        // differences of the inputs b and q - b come first, for all a at once (z_(a + p b) for
        // a = 0 .. p-1 are neighbours), with the d = 0 outputs.
        const std::size_t span = 2 * static_cast<std::size_t>(p); // floats per input group
        float* const sums = f.pairSums.data();                    // [b - 1][2 a + re/im]
        float* const diffs = f.pairDiffs.data();
        float* const first = f.firstColumn.data();
        for (std::size_t i = 0; i < span; ++i) {
            first[i] = in[i];
        }
        for (unsigned b = 1; b <= halfQ; ++b) {
            const float* const x = in + span * b;
            const float* const y = in + span * (q - b);
            float* const u = sums + span * (b - 1);
            float* const v = diffs + span * (b - 1);
            for (std::size_t i = 0; i < span; ++i) {
                u[i] = x[i] + y[i];
                v[i] = x[i] - y[i];
                first[i] = first[i] + u[i];
            }
        }
        float* const ar = f.partial.data();
        float* const ai = ar + halfQPadded;
        float* const br = ai + halfQPadded;
        float* const bi = br + halfQPadded;
        const float* const cosQ = f.cosQ.data();
        const float* const sinQ = f.sinQ.data();
        const Pack signs = L::broadcast(sign);
        for (unsigned a = 0; a < p; ++a) {
            const float z0r = in[2 * a];
            const float z0i = in[2 * a + 1];
            float* const tr = &f.rowsRe[static_cast<std::size_t>(a) * row];
            float* const ti = &f.rowsIm[static_cast<std::size_t>(a) * row];
            // Two vectors of outputs at a time, so that each broadcast input serves both.
            for (unsigned d = 0; d < halfQPadded; d += 2 * W) {
                Pack ar0 = L::broadcast(z0r);
                Pack ai0 = L::broadcast(z0i);
                Pack br0 = L::broadcast(0.0f);
                Pack bi0 = L::broadcast(0.0f);
                Pack ar1 = ar0;
                Pack ai1 = ai0;
                Pack br1 = br0;
                Pack bi1 = bi0;
                for (unsigned b = 0; b < halfQ; ++b) {
                    const float* const c = cosQ + static_cast<std::size_t>(b) * halfQPadded + d;
                    const float* const s = sinQ + static_cast<std::size_t>(b) * halfQPadded + d;
                    const float* const u = sums + span * b + 2 * a;
                    const float* const v = diffs + span * b + 2 * a;
                    const Pack xr = L::broadcast(u[0]);
                    const Pack xi = L::broadcast(u[1]);
                    const Pack yr = L::broadcast(v[0]);
                    const Pack yi = L::broadcast(v[1]);
                    const Pack c0 = L::load(c);
                    const Pack c1 = L::load(c + W);
                    const Pack s0 = L::load(s);
                    const Pack s1 = L::load(s + W);
                    ar0 = ar0 + xr * c0;
                    ai0 = ai0 + xi * c0;
                    br0 = br0 + yr * s0;
                    bi0 = bi0 + yi * s0;
                    ar1 = ar1 + xr * c1;
                    ai1 = ai1 + xi * c1;
                    br1 = br1 + yr * s1;
                    bi1 = bi1 + yi * s1;
                }
                if (f.mirroredLanes) {
                    // Forward: Z_d = A - iB and Z_(q-d) = A + iB; inverse the other way round.
                    // Lanes past halfQ hold d and q - d swapped with exactly the same values,
                    // so overlapping stores agree.
                    const Pack sbr0 = signs * br0;
                    const Pack sbi0 = signs * bi0;
                    const Pack sbr1 = signs * br1;
                    const Pack sbi1 = signs * bi1;
                    L::store(tr + 1 + d, ar0 + sbi0);
                    L::store(ti + 1 + d, ai0 - sbr0);
                    L::store(tr + 1 + d + W, ar1 + sbi1);
                    L::store(ti + 1 + d + W, ai1 - sbr1);
                    L::store(tr + q - d - W, L::reverse(ar0 - sbi0));
                    L::store(ti + q - d - W, L::reverse(ai0 + sbr0));
                    L::store(tr + q - d - 2 * W, L::reverse(ar1 - sbi1));
                    L::store(ti + q - d - 2 * W, L::reverse(ai1 + sbr1));
                } else {
                    L::store(ar + d, ar0);
                    L::store(ai + d, ai0);
                    L::store(br + d, br0);
                    L::store(bi + d, bi0);
                    L::store(ar + d + W, ar1);
                    L::store(ai + d + W, ai1);
                    L::store(br + d + W, br1);
                    L::store(bi + d + W, bi1);
                }
            }
            tr[0] = first[2 * a];
            ti[0] = first[2 * a + 1];
            if (!f.mirroredLanes) {
                for (unsigned d = 1; d <= halfQ; ++d) {
                    const float sbr = sign * br[d - 1];
                    const float sbi = sign * bi[d - 1];
                    tr[d] = ar[d - 1] + sbi;
                    ti[d] = ai[d - 1] - sbr;
                    tr[q - d] = ar[d - 1] - sbi;
                    ti[q - d] = ai[d - 1] + sbr;
                }
            }
        }

        // Step 2: twiddle factors (conjugated for the inverse); row 0 has none.
        const Pack conj = L::broadcast(sign);
        for (unsigned a = 1; a < p; ++a) {
            float* const tr = &f.rowsRe[static_cast<std::size_t>(a) * row];
            float* const ti = &f.rowsIm[static_cast<std::size_t>(a) * row];
            const float* const wr = &f.twiddleRe[static_cast<std::size_t>(a) * row];
            const float* const wi = &f.twiddleIm[static_cast<std::size_t>(a) * row];
            for (unsigned d = 0; d < row; d += W) {
                const Pack xr = L::load(tr + d);
                const Pack xi = L::load(ti + d);
                const Pack cr = L::load(wr + d);
                const Pack ci = conj * L::load(wi + d);
                L::store(tr + d, xr * cr - xi * ci);
                L::store(ti + d, xr * ci + xi * cr);
            }
        }

        // Step 3: p-point transforms down the rows, in vectors over d.
        float* const sumsRe = f.sumsRe.data();
        float* const sumsIm = f.sumsIm.data();
        float* const diffsRe = f.diffsRe.data();
        float* const diffsIm = f.diffsIm.data();
        const float* const rowsRe = f.rowsRe.data();
        const float* const rowsIm = f.rowsIm.data();
        for (unsigned a = 1; a <= halfP; ++a) {
            const std::size_t up = static_cast<std::size_t>(a) * row;
            const std::size_t down = static_cast<std::size_t>(p - a) * row;
            const std::size_t to = static_cast<std::size_t>(a - 1) * row;
            for (unsigned d = 0; d < row; d += W) {
                const Pack xr = L::load(rowsRe + up + d);
                const Pack xi = L::load(rowsIm + up + d);
                const Pack yr = L::load(rowsRe + down + d);
                const Pack yi = L::load(rowsIm + down + d);
                L::store(sumsRe + to + d, xr + yr);
                L::store(sumsIm + to + d, xi + yi);
                L::store(diffsRe + to + d, xr - yr);
                L::store(diffsIm + to + d, xi - yi);
            }
        }
        float* const outRe = f.outRe.data();
        float* const outIm = f.outIm.data();
        const float* const cosP = f.cosP.data();
        const float* const sinP = f.sinP.data();
        for (unsigned d = 0; d < row; d += W) {
            const Pack t0r = L::load(rowsRe + d);
            const Pack t0i = L::load(rowsIm + d);
            Pack totalR = t0r;
            Pack totalI = t0i;
            for (unsigned a = 0; a < halfP; ++a) {
                totalR = totalR + L::load(sumsRe + static_cast<std::size_t>(a) * row + d);
                totalI = totalI + L::load(sumsIm + static_cast<std::size_t>(a) * row + d);
            }
            L::store(outRe + d, totalR);
            L::store(outIm + d, totalI);
            for (unsigned c = 1; c <= halfP; ++c) {
                Pack accAr = t0r;
                Pack accAi = t0i;
                Pack accBr = L::broadcast(0.0f);
                Pack accBi = L::broadcast(0.0f);
                for (unsigned a = 0; a < halfP; ++a) {
                    const std::size_t at = static_cast<std::size_t>(a) * row + d;
                    const Pack cc = L::broadcast(cosP[a * halfP + (c - 1)]);
                    const Pack ss = L::broadcast(sign * sinP[a * halfP + (c - 1)]);
                    accAr = accAr + L::load(sumsRe + at) * cc;
                    accAi = accAi + L::load(sumsIm + at) * cc;
                    accBr = accBr + L::load(diffsRe + at) * ss;
                    accBi = accBi + L::load(diffsIm + at) * ss;
                }
                L::store(outRe + static_cast<std::size_t>(c) * row + d, accAr + accBi);
                L::store(outIm + static_cast<std::size_t>(c) * row + d, accAi - accBr);
                L::store(outRe + static_cast<std::size_t>(p - c) * row + d, accAr - accBi);
                L::store(outIm + static_cast<std::size_t>(p - c) * row + d, accAi + accBr);
            }
        }
        // Natural order: Z_k with k = q c + d.
        float* const lineRe = f.lineRe.data();
        float* const lineIm = f.lineIm.data();
        for (unsigned c = 0; c < p; ++c) {
            std::memcpy(lineRe + static_cast<std::size_t>(c) * q,
                        outRe + static_cast<std::size_t>(c) * row, q * sizeof(float));
            std::memcpy(lineIm + static_cast<std::size_t>(c) * q,
                        outIm + static_cast<std::size_t>(c) * row, q * sizeof(float));
        }
    }

    // The real forward transform: the complex one of the sample pairs, then the packing.
    template <unsigned W>
    VELTRANO_INLINE static void forward(OddPairRealFft& f, const float* in, float* spectrum) {
        using L = Lanes<W>;
        using Pack = typename L::Pack;
        transform<W>(f, in, false);
        const unsigned m = f.m;
        const float* const zr = f.lineRe.data();
        const float* const zi = f.lineIm.data();
        const float* const wr = f.packRe.data();
        const float* const wi = f.packIm.data();
        // a = Z_k, b = conj Z_(m-k); even part (a + b) / 2, odd part (a - b) / 2i; then
        // X_k = even + w^k odd.
        const Pack half = L::broadcast(0.5f);
        const Pack minusHalf = L::broadcast(-0.5f);
        unsigned k = 1;
        for (; k + W <= m; k += W) {
            const Pack ar = L::load(zr + k);
            const Pack ai = L::load(zi + k);
            const Pack br = L::reverse(L::load(zr + (m - k - (W - 1))));
            const Pack bi = L::reverse(L::load(zi + (m - k - (W - 1))));
            const Pack cr = L::load(wr + k);
            const Pack ci = L::load(wi + k);
            const Pack evenR = half * (ar + br);
            const Pack evenI = half * (ai - bi);
            const Pack oddR = half * (ai + bi);
            const Pack oddI = minusHalf * (ar - br);
            L::storeInterleaved(spectrum + 2 * k, evenR + (cr * oddR - ci * oddI),
                                evenI + (cr * oddI + ci * oddR));
        }
        for (; k < m; ++k) {
            const float br = zr[m - k];
            const float bi = zi[m - k];
            const float evenR = 0.5f * (zr[k] + br);
            const float evenI = 0.5f * (zi[k] - bi);
            const float oddR = 0.5f * (zi[k] + bi);
            const float oddI = -0.5f * (zr[k] - br);
            spectrum[2 * k] = evenR + (wr[k] * oddR - wi[k] * oddI);
            spectrum[2 * k + 1] = evenI + (wr[k] * oddI + wi[k] * oddR);
        }
        spectrum[0] = zr[0] + zi[0];
        spectrum[1] = 0.0f;
        spectrum[2 * m] = zr[0] - zi[0];
        spectrum[2 * m + 1] = 0.0f;
    }

    // The real inverse transform: 2 Z_k = (X_k + conj X_(m-k)) + i conj(w^k) (X_k - conj
    // X_(m-k)), whose inverse m-point transform is n z. The imaginary parts of X_0 and X_m are
    // taken as 0.
    template <unsigned W>
    VELTRANO_INLINE static void backward(OddPairRealFft& f, const float* spectrum, float* out) {
        using L = Lanes<W>;
        using Pack = typename L::Pack;
        const unsigned m = f.m;
        float* const z = f.packed.data();
        const float* const wr = f.packRe.data();
        const float* const wi = f.packIm.data();
        z[0] = spectrum[0] + spectrum[2 * m];
        z[1] = spectrum[0] - spectrum[2 * m];
        unsigned k = 1;
        for (; k + W <= m; k += W) {
            Pack xr;
            Pack xi;
            L::loadInterleaved(spectrum + 2 * k, xr, xi);
            Pack mr;
            Pack mi;
            L::loadInterleaved(spectrum + 2 * (m - k - (W - 1)), mr, mi);
            const Pack yr = L::reverse(mr);
            const Pack yi = L::broadcast(0.0f) - L::reverse(mi);
            const Pack sumR = xr + yr;
            const Pack sumI = xi + yi;
            const Pack diffR = xr - yr;
            const Pack diffI = xi - yi;
            const Pack cr = L::load(wr + k);
            const Pack ci = L::load(wi + k);
            const Pack rotR = cr * diffR + ci * diffI;
            const Pack rotI = cr * diffI - ci * diffR;
            L::storeInterleaved(z + 2 * k, sumR - rotI, sumI + rotR);
        }
        for (; k < m; ++k) {
            const float xr = spectrum[2 * k];
            const float xi = spectrum[2 * k + 1];
            const float yr = spectrum[2 * (m - k)];
            const float yi = 0.0f - spectrum[2 * (m - k) + 1];
            const float sumR = xr + yr;
            const float sumI = xi + yi;
            const float diffR = xr - yr;
            const float diffI = xi - yi;
            const float rotR = wr[k] * diffR + wi[k] * diffI;
            const float rotI = wr[k] * diffI - wi[k] * diffR;
            z[2 * k] = sumR - rotI;
            z[2 * k + 1] = sumI + rotR;
        }
        transform<W>(f, z, true);
        const float* const zr = f.lineRe.data();
        const float* const zi = f.lineIm.data();
        unsigned j = 0;
        for (; j + W <= m; j += W) {
            L::storeInterleaved(out + 2 * j, L::load(zr + j), L::load(zi + j));
        }
        for (; j < m; ++j) {
            out[2 * j] = zr[j];
            out[2 * j + 1] = zi[j];
        }
    }
};

namespace {

void forwardBaseline(OddPairRealFft& f, const float* in, float* spectrum) {
    OddPairKernels::forward<4>(f, in, spectrum);
}

void backwardBaseline(OddPairRealFft& f, const float* spectrum, float* out) {
    OddPairKernels::backward<4>(f, spectrum, out);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VELTRANO_ODD_PAIR_X86 1
__attribute__((target("avx"))) void forwardAvx(OddPairRealFft& f, const float* in,
                                               float* spectrum) {
    OddPairKernels::forward<8>(f, in, spectrum);
}

__attribute__((target("avx"))) void backwardAvx(OddPairRealFft& f, const float* spectrum,
                                                float* out) {
    OddPairKernels::backward<8>(f, spectrum, out);
}

__attribute__((target("avx512f"))) void forwardAvx512(OddPairRealFft& f, const float* in,
                                                      float* spectrum) {
    OddPairKernels::forward<16>(f, in, spectrum);
}

__attribute__((target("avx512f"))) void backwardAvx512(OddPairRealFft& f, const float* spectrum,
                                                       float* out) {
    OddPairKernels::backward<16>(f, spectrum, out);
}
#else
#define VELTRANO_ODD_PAIR_X86 0
#endif

} // namespace

bool OddPairRealFft::handles(unsigned n) {
    return firstFactor(n) != 0;
}

OddPairRealFft::OddPairRealFft(unsigned length) : n(length), p(firstFactor(length)) {
    if (p == 0) {
        throw std::invalid_argument("OddPairRealFft: length is not 2 p q with odd p, q");
    }
    m = n / 2;
    q = m / p;
    halfP = (p - 1) / 2;
    halfQ = (q - 1) / 2;
    halfQPadded = roundUp(halfQ);
    row = roundUp(q);

    // cos and sin of 2 pi b d / q for b = 1 .. halfQ, d = 1 .. halfQPadded. When the padded
    // lanes stay below q, they hold the values for d copied from q - d (cos equal, sin negated,
    // exactly), so that the lane computes bit for bit what lane q - d computes for the mirrored
    // output; the stores of the two then agree and need no masking.
    mirroredLanes = halfQPadded <= q - 1;
    cosQ.assign(static_cast<std::size_t>(halfQ) * halfQPadded, 0.0f);
    sinQ.assign(cosQ.size(), 0.0f);
    for (unsigned b = 1; b <= halfQ; ++b) {
        float* const c = &cosQ[static_cast<std::size_t>(b - 1) * halfQPadded];
        float* const s = &sinQ[static_cast<std::size_t>(b - 1) * halfQPadded];
        for (unsigned d = 1; d <= halfQ; ++d) {
            const double phase = kTwoPi * static_cast<double>((b * d) % q) / q;
            c[d - 1] = static_cast<float>(portable::cos(phase));
            s[d - 1] = static_cast<float>(portable::sin(phase));
        }
        for (unsigned d = halfQ + 1; mirroredLanes && d <= halfQPadded; ++d) {
            c[d - 1] = c[q - d - 1];
            s[d - 1] = -s[q - d - 1];
        }
    }
    // cos and sin of 2 pi a c / p for a, c = 1 .. halfP (used as scalars).
    cosP.assign(static_cast<std::size_t>(halfP) * halfP, 0.0f);
    sinP.assign(cosP.size(), 0.0f);
    for (unsigned a = 1; a <= halfP; ++a) {
        for (unsigned c = 1; c <= halfP; ++c) {
            const double phase = kTwoPi * static_cast<double>((a * c) % p) / p;
            cosP[(a - 1) * halfP + (c - 1)] = static_cast<float>(portable::cos(phase));
            sinP[(a - 1) * halfP + (c - 1)] = static_cast<float>(portable::sin(phase));
        }
    }
    // exp(-2 pi i a d / m), p rows of `row` values (1 in the padding).
    twiddleRe.assign(static_cast<std::size_t>(p) * row, 1.0f);
    twiddleIm.assign(twiddleRe.size(), 0.0f);
    for (unsigned a = 0; a < p; ++a) {
        for (unsigned d = 0; d < q; ++d) {
            const double phase = -kTwoPi * static_cast<double>((a * d) % m) / m;
            twiddleRe[a * row + d] = static_cast<float>(portable::cos(phase));
            twiddleIm[a * row + d] = static_cast<float>(portable::sin(phase));
        }
    }
    // exp(-2 pi i k / n), k = 0 .. m.
    packRe.resize(m + 1);
    packIm.resize(m + 1);
    for (unsigned k = 0; k <= m; ++k) {
        const double phase = -kTwoPi * static_cast<double>(k) / n;
        packRe[k] = static_cast<float>(portable::cos(phase));
        packIm[k] = static_cast<float>(portable::sin(phase));
    }

    const std::size_t rows = static_cast<std::size_t>(p) * row;
    rowsRe.assign(rows, 0.0f);
    rowsIm.assign(rows, 0.0f);
    sumsRe.assign(static_cast<std::size_t>(halfP) * row, 0.0f);
    sumsIm.assign(sumsRe.size(), 0.0f);
    diffsRe.assign(sumsRe.size(), 0.0f);
    diffsIm.assign(sumsRe.size(), 0.0f);
    outRe.assign(rows, 0.0f);
    outIm.assign(rows, 0.0f);
    lineRe.assign(m, 0.0f);
    lineIm.assign(m, 0.0f);
    packed.assign(2 * static_cast<std::size_t>(m), 0.0f);
    pairSums.assign(2 * static_cast<std::size_t>(p) * halfQ, 0.0f);
    pairDiffs.assign(pairSums.size(), 0.0f);
    firstColumn.assign(2 * static_cast<std::size_t>(p), 0.0f);
    partial.assign(4 * static_cast<std::size_t>(halfQPadded), 0.0f);

    for (const unsigned width : {4u, 8u, 16u}) {
        useWidth(width);
    }
}

bool OddPairRealFft::useWidth(unsigned floats) {
    switch (floats) {
    case 4:
        forwardRun = forwardBaseline;
        backwardRun = backwardBaseline;
        return true;
#if VELTRANO_ODD_PAIR_X86
    case 8:
        if (!platform::cpuHasAvx()) {
            return false;
        }
        forwardRun = forwardAvx;
        backwardRun = backwardAvx;
        return true;
    case 16:
        if (!platform::cpuHasAvx512()) {
            return false;
        }
        forwardRun = forwardAvx512;
        backwardRun = backwardAvx512;
        return true;
#endif
    default:
        return false;
    }
}

void OddPairRealFft::forwardComplex(const float* in, float* spectrum) {
    forwardRun(*this, in, spectrum);
}

void OddPairRealFft::backwardComplex(const float* spectrum, float* out) {
    backwardRun(*this, spectrum, out);
}

} // namespace platform
