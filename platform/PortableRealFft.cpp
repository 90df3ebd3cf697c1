// Mixed-radix real FFT without external libraries.
//
// The complex core is the recursive decimation-in-time Cooley-Tukey transform: the m points are
// split by the first factor p into p interleaved sub-sequences, each transformed recursively,
// and recombined by butterflies that fold the twiddle factors in. Factors 4 and 2 get dedicated
// butterflies; any other prime factor is combined by a direct p-point DFT, which costs p
// operations per point and is fine for the small primes of the lengths we use (1222 = 2*13*47).
//
// A real sequence of even length n is transformed as the complex sequence z_j = x_2j + i*x_2j+1
// of n/2 points, whose spectrum Z splits into the spectra E and O of the even and odd samples:
// E_k = (Z_k + conj Z_(m-k)) / 2, O_k = (Z_k - conj Z_(m-k)) / 2i, X_k = E_k + exp(-2*pi*i*k/n)
// O_k. The inverse runs the same steps backwards. Odd lengths use a complex transform of n points.
// Twiddle factors are computed in double precision and stored rounded; all arithmetic on the
// data is single precision.
#include "common/PortableMath.h"
#include "platform/RealFft.h"

#include <numbers>
#include <stdexcept>

namespace platform {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

} // namespace

void halfcomplexToComplex(const float* halfcomplex, float* complex, unsigned n) {
    complex[0] = halfcomplex[0];
    complex[1] = 0.0f;
    for (unsigned k = 1; 2 * k < n; ++k) {
        complex[2 * k] = halfcomplex[k];
        complex[2 * k + 1] = halfcomplex[n - k];
    }
    if (n % 2 == 0 && n > 0) {
        complex[n] = halfcomplex[n / 2];
        complex[n + 1] = 0.0f;
    }
}

void complexToHalfcomplex(const float* complex, float* halfcomplex, unsigned n) {
    halfcomplex[0] = complex[0];
    for (unsigned k = 1; 2 * k < n; ++k) {
        halfcomplex[k] = complex[2 * k];
        halfcomplex[n - k] = complex[2 * k + 1];
    }
    if (n % 2 == 0 && n > 0) {
        halfcomplex[n / 2] = complex[n];
    }
}

PortableRealFft::PortableRealFft(unsigned length) : n(length), m(0) {
    if (n == 0) {
        throw std::invalid_argument("PortableRealFft: length 0");
    }
    m = (n % 2 == 0) ? n / 2 : n;

    // Factors 4 first, then 2, then odd primes in rising order.
    std::vector<unsigned> radices;
    unsigned rest = m;
    while (rest % 4 == 0) {
        radices.push_back(4);
        rest /= 4;
    }
    while (rest % 2 == 0) {
        radices.push_back(2);
        rest /= 2;
    }
    for (unsigned p = 3; rest > 1;) {
        if (p > rest / p) {
            p = rest; // what is left is prime
        }
        while (rest % p == 0) {
            radices.push_back(p);
            rest /= p;
        }
        p += 2;
    }
    unsigned span = m;
    unsigned largest = 1;
    for (unsigned radix : radices) {
        span /= radix;
        stages.push_back({radix, span});
        largest = radix > largest ? radix : largest;
    }

    twiddle.resize(m);
    for (unsigned k = 0; k < m; ++k) {
        const double phase = -kTwoPi * static_cast<double>(k) / static_cast<double>(m);
        twiddle[k] = {static_cast<float>(portable::cos(phase)),
                      static_cast<float>(portable::sin(phase))};
    }
    if (n % 2 == 0) {
        packing.resize(m + 1);
        for (unsigned k = 0; k <= m; ++k) {
            const double phase = -kTwoPi * static_cast<double>(k) / static_cast<double>(n);
            packing[k] = {static_cast<float>(portable::cos(phase)),
                          static_cast<float>(portable::sin(phase))};
        }
    }
    source.resize(m);
    result.resize(m);
    scratch.resize(largest);
}

void PortableRealFft::forward(const float* in, float* out) {
    if (n % 2 != 0) {
        for (unsigned j = 0; j < n; ++j) {
            source[j] = {in[j], 0.0f};
        }
        transform(source.data(), result.data());
        out[0] = result[0].re;
        for (unsigned k = 1; 2 * k < n; ++k) {
            out[k] = result[k].re;
            out[n - k] = result[k].im;
        }
        return;
    }

    for (unsigned j = 0; j < m; ++j) {
        source[j] = {in[2 * j], in[2 * j + 1]};
    }
    transform(source.data(), result.data());
    const Complex z0 = result[0];
    for (unsigned k = 1; k < m; ++k) {
        const Complex a = result[k];
        const Complex b = {result[m - k].re, -result[m - k].im}; // conj Z_(m-k)
        const Complex even = {0.5f * (a.re + b.re), 0.5f * (a.im + b.im)};
        const Complex odd = {0.5f * (a.im - b.im), -0.5f * (a.re - b.re)}; // (a - b) / 2i
        const Complex w = packing[k];
        out[k] = even.re + (w.re * odd.re - w.im * odd.im);
        out[n - k] = even.im + (w.re * odd.im + w.im * odd.re);
    }
    out[0] = z0.re + z0.im;
    out[m] = z0.re - z0.im;
}

void PortableRealFft::backward(const float* in, float* out) {
    if (n % 2 != 0) {
        // Hermitian spectrum, conjugated: the inverse DFT is conj(DFT(conj X)).
        source[0] = {in[0], 0.0f};
        for (unsigned k = 1; 2 * k < n; ++k) {
            source[k] = {in[k], -in[n - k]};
            source[n - k] = {in[k], in[n - k]};
        }
        transform(source.data(), result.data());
        for (unsigned j = 0; j < n; ++j) {
            out[j] = result[j].re;
        }
        return;
    }

    for (unsigned k = 0; k < m; ++k) {
        const Complex x = {in[k], k == 0 ? 0.0f : in[n - k]};
        const Complex y = k == 0 ? Complex{in[m], 0.0f} : Complex{in[m - k], in[m + k]};
        const Complex sum = {x.re + y.re, x.im - y.im};  // X_k + conj X_(m-k) = 2 E_k
        const Complex diff = {x.re - y.re, x.im + y.im}; // X_k - conj X_(m-k) = 2 W^k O_k
        const Complex w = packing[k];
        const Complex odd = {diff.re * w.re + diff.im * w.im,
                             diff.im * w.re - diff.re * w.im}; // diff * conj W^k = 2 O_k
        // Z_k = 2 E_k + i * 2 O_k, stored conjugated for the forward core.
        source[k] = {sum.re - odd.im, -(sum.im + odd.re)};
    }
    transform(source.data(), result.data());
    for (unsigned j = 0; j < m; ++j) {
        out[2 * j] = result[j].re;
        out[2 * j + 1] = -result[j].im;
    }
}

void PortableRealFft::transform(const Complex* in, Complex* out) {
    if (stages.empty()) {
        out[0] = in[0];
        return;
    }
    work(out, in, 1, 0);
}

void PortableRealFft::work(Complex* out, const Complex* in, std::size_t stride, std::size_t stage) {
    const unsigned radix = stages[stage].radix;
    const unsigned span = stages[stage].span;
    if (span == 1) {
        for (unsigned q = 0; q < radix; ++q) {
            out[q] = in[q * stride];
        }
    } else {
        for (unsigned q = 0; q < radix; ++q) {
            work(out + q * span, in + q * stride, stride * radix, stage + 1);
        }
    }
    switch (radix) {
    case 2:
        butterfly2(out, stride, span);
        break;
    case 4:
        butterfly4(out, stride, span);
        break;
    default:
        butterflyGeneric(out, stride, radix, span);
        break;
    }
}

namespace {

inline float mulRe(float ar, float ai, float br, float bi) {
    return ar * br - ai * bi;
}
inline float mulIm(float ar, float ai, float br, float bi) {
    return ar * bi + ai * br;
}

} // namespace

void PortableRealFft::butterfly2(Complex* out, std::size_t stride, unsigned span) const {
    for (unsigned u = 0; u < span; ++u) {
        const Complex w = twiddle[u * stride];
        const Complex b = out[u + span];
        const Complex t = {mulRe(b.re, b.im, w.re, w.im), mulIm(b.re, b.im, w.re, w.im)};
        const Complex a = out[u];
        out[u + span] = {a.re - t.re, a.im - t.im};
        out[u] = {a.re + t.re, a.im + t.im};
    }
}

void PortableRealFft::butterfly4(Complex* out, std::size_t stride, unsigned span) const {
    for (unsigned u = 0; u < span; ++u) {
        const Complex w1 = twiddle[u * stride];
        const Complex w2 = twiddle[2 * u * stride];
        const Complex w3 = twiddle[3 * u * stride];
        const Complex x1 = out[u + span];
        const Complex x2 = out[u + 2 * span];
        const Complex x3 = out[u + 3 * span];
        const Complex s0 = {mulRe(x1.re, x1.im, w1.re, w1.im), mulIm(x1.re, x1.im, w1.re, w1.im)};
        const Complex s1 = {mulRe(x2.re, x2.im, w2.re, w2.im), mulIm(x2.re, x2.im, w2.re, w2.im)};
        const Complex s2 = {mulRe(x3.re, x3.im, w3.re, w3.im), mulIm(x3.re, x3.im, w3.re, w3.im)};
        const Complex a = out[u];
        const Complex s5 = {a.re - s1.re, a.im - s1.im};
        const Complex a1 = {a.re + s1.re, a.im + s1.im};
        const Complex s3 = {s0.re + s2.re, s0.im + s2.im};
        const Complex s4 = {s0.re - s2.re, s0.im - s2.im};
        out[u] = {a1.re + s3.re, a1.im + s3.im};
        out[u + 2 * span] = {a1.re - s3.re, a1.im - s3.im};
        out[u + span] = {s5.re + s4.im, s5.im - s4.re};     // s5 - i*s4
        out[u + 3 * span] = {s5.re - s4.im, s5.im + s4.re}; // s5 + i*s4
    }
}

void PortableRealFft::butterflyGeneric(Complex* out, std::size_t stride, unsigned radix,
                                       unsigned span) {
    for (unsigned u = 0; u < span; ++u) {
        for (unsigned q = 0; q < radix; ++q) {
            scratch[q] = out[u + q * span];
        }
        for (unsigned q1 = 0; q1 < radix; ++q1) {
            const std::size_t k = u + q1 * span;
            const std::size_t step = stride * k; // below m
            std::size_t index = 0;
            Complex sum = scratch[0];
            for (unsigned q = 1; q < radix; ++q) {
                index += step;
                if (index >= m) {
                    index -= m;
                }
                const Complex w = twiddle[index];
                const Complex x = scratch[q];
                sum.re += mulRe(x.re, x.im, w.re, w.im);
                sum.im += mulIm(x.re, x.im, w.re, w.im);
            }
            out[k] = sum;
        }
    }
}

} // namespace platform
