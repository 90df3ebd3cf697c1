// The reductions and polynomials are those of fdlibm (k_sin.c, k_cos.c, e_rem_pio2.c for
// medium arguments, e_exp.c, e_log.c, e_log10.c), written with explicit hexadecimal constants.
// Roundings to an integer use a cast after adding one half, never the current rounding mode.
#include "common/PortableMath.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace portable {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// pi / 2 in pieces of 33 bits (the products with a quadrant number below 2^20 are exact) and
// the tails after each piece.
constexpr double kInvPio2 = 0x1.45f306dc9c883p-1;
constexpr double kPio2Part1 = 0x1.921fb54400000p+0;
constexpr double kPio2Tail1 = 0x1.0b4611a626331p-34;
constexpr double kPio2Part2 = 0x1.0b4611a600000p-34;
constexpr double kPio2Tail2 = 0x1.3198a2e037073p-69;
constexpr double kPio2Part3 = 0x1.3198a2e000000p-69;
constexpr double kPio2Tail3 = 0x1.b839a252049c1p-104;
constexpr double kLargestReduced = 0x1.921fb54442d18p+19; // 2^19 pi / 2

// sin on [-pi/4, pi/4] of x + y, y a small correction to x.
constexpr double kS1 = -0x1.5555555555549p-3;
constexpr double kS2 = 0x1.111111110f8a6p-7;
constexpr double kS3 = -0x1.a01a019c161d5p-13;
constexpr double kS4 = 0x1.71de357b1fe7dp-19;
constexpr double kS5 = -0x1.ae5e68a2b9cebp-26;
constexpr double kS6 = 0x1.5d93a5acfd57cp-33;

// cos on [-pi/4, pi/4].
constexpr double kC1 = 0x1.555555555554cp-5;
constexpr double kC2 = -0x1.6c16c16c15177p-10;
constexpr double kC3 = 0x1.a01a019cb1590p-16;
constexpr double kC4 = -0x1.27e4f809c52adp-22;
constexpr double kC5 = 0x1.1ee9ebdb4b1c4p-29;
constexpr double kC6 = -0x1.8fae9be8838d4p-37;

// ln 2 in two pieces (the high one ends in 11 zero bits) and exp's polynomial on
// [-ln2/2, ln2/2].
constexpr double kLn2Hi = 0x1.62e42fee00000p-1;
constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
constexpr double kInvLn2 = 0x1.71547652b82fep+0;
constexpr double kP1 = 0x1.555555555553ep-3;
constexpr double kP2 = -0x1.6c16c16bebd93p-9;
constexpr double kP3 = 0x1.1566aaf25de2cp-14;
constexpr double kP4 = -0x1.bbd41c5d26bf1p-20;
constexpr double kP5 = 0x1.6376972bea4d0p-25;
constexpr double kExpOverflow = 0x1.62e42fefa39efp+9;   // ln(largest double)
constexpr double kExpUnderflow = -0x1.74910d52d3051p+9; // ln(smallest subnormal / 2)

// ln 10 = kLn10Hi + kLn10Lo to about 106 bits.
constexpr double kLn10Hi = 0x1.26bb1bbb55516p+1;
constexpr double kLn10Lo = -0x1.f48ad494ea3e9p-53;

// log(1 + f) = f - f^2/2 + s R(s^2) with s = f / (2 + f).
constexpr double kLg1 = 0x1.5555555555593p-1;
constexpr double kLg2 = 0x1.999999997fa04p-2;
constexpr double kLg3 = 0x1.2492494229359p-2;
constexpr double kLg4 = 0x1.c71c51d8e78afp-3;
constexpr double kLg5 = 0x1.7466496cb03dep-3;
constexpr double kLg6 = 0x1.39a09d078c69fp-3;
constexpr double kLg7 = 0x1.2f112df3e5244p-3;
constexpr double kInvLn10 = 0x1.bcb7b1526e50ep-2;
constexpr double kLog10Of2Hi = 0x1.34413509f6000p-2;
constexpr double kLog10Of2Lo = 0x1.9fef311f12b36p-42;
constexpr double kTwo54 = 0x1.0p+54;

std::uint32_t highWord(double x) {
    return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(x) >> 32);
}

double withHighWord(double x, std::uint32_t high) {
    const std::uint64_t low = std::bit_cast<std::uint64_t>(x) & 0xffffffffu;
    return std::bit_cast<double>((static_cast<std::uint64_t>(high) << 32) | low);
}

// 2^k for -1022 <= k <= 1023.
double powerOfTwo(int k) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

// The nearest integer to x (halves away from zero), |x| < 2^31.
int nearest(double x) {
    return static_cast<int>(x < 0.0 ? x - 0.5 : x + 0.5);
}

double sinKernel(double x, double y) {
    const double z = x * x;
    const double w = z * z;
    const double r = kS2 + z * (kS3 + z * kS4) + z * w * (kS5 + z * kS6);
    const double v = z * x;
    return x - ((z * (0.5 * y - v * r) - y) - v * kS1);
}

double cosKernel(double x, double y) {
    const double z = x * x;
    const double w = z * z;
    const double r = z * (kC1 + z * (kC2 + z * kC3)) + w * w * (kC4 + z * (kC5 + z * kC6));
    const double hz = 0.5 * z;
    const double v = 1.0 - hz;
    return v + (((1.0 - v) - hz) + (z * r - x * y));
}

// x = n pi/2 + (y0 + y1), |y0 + y1| <= pi/4 (a little more at a rounding boundary); returns
// n mod 4, or -1 when x is outside the supported range or not a number.
int reduce(double x, double& y0, double& y1) {
    if (!(x >= -kLargestReduced && x <= kLargestReduced)) {
        return -1;
    }
    const double ax = x < 0.0 ? -x : x;
    const int n = nearest(ax * kInvPio2);
    const auto fn = static_cast<double>(n);
    // Cody and Waite's reduction with pi/2 in 33-bit pieces: a second and third piece only
    // where the first subtraction cancelled that many leading bits.
    const auto exponent = [](double v) { return static_cast<int>((highWord(v) >> 20) & 0x7ffu); };
    const int xExponent = exponent(ax);
    double r = ax - fn * kPio2Part1;
    double w = fn * kPio2Tail1;
    y0 = r - w;
    if (xExponent - exponent(y0) > 16) {
        double t = r;
        w = fn * kPio2Part2;
        r = t - w;
        w = fn * kPio2Tail2 - ((t - r) - w);
        y0 = r - w;
        if (xExponent - exponent(y0) > 49) {
            t = r;
            w = fn * kPio2Part3;
            r = t - w;
            w = fn * kPio2Tail3 - ((t - r) - w);
            y0 = r - w;
        }
    }
    y1 = (r - y0) - w;
    if (x < 0.0) {
        y0 = -y0;
        y1 = -y1;
        return (-n) & 3;
    }
    return n & 3;
}

// sin(n pi/2 + y0 + y1) for the quadrant n mod 4 and the remainder reduce() gives.
double sinInQuadrant(int quadrant, double y0, double y1) {
    switch (quadrant) {
    case 0:
        return sinKernel(y0, y1);
    case 1:
        return cosKernel(y0, y1);
    case 2:
        return -sinKernel(y0, y1);
    default:
        return -cosKernel(y0, y1);
    }
}

// e^(x + y) for a correction y much smaller than x, with x already checked for range.
double expOfSum(double x, double y) {
    const int k = nearest(x * kInvLn2);
    const auto dk = static_cast<double>(k);
    const double hi = x - dk * kLn2Hi;
    const double lo = dk * kLn2Lo - y;
    const double r = hi - lo;
    const double t = r * r;
    const double c = r - t * (kP1 + t * (kP2 + t * (kP3 + t * (kP4 + t * kP5))));
    const double m = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    if (k >= -1021) {
        if (k > 1023) {
            return m * 2.0 * powerOfTwo(k - 1);
        }
        return m * powerOfTwo(k);
    }
    // Subnormal results: scaled in two steps.
    return m * powerOfTwo(k + 1000) * powerOfTwo(-1000);
}

// The natural logarithm of a positive, finite, normal x.
double logOfNormal(double x) {
    std::uint32_t hx = highWord(x);
    int k = static_cast<int>(hx >> 20) - 1023;
    hx &= 0x000fffffu;
    // Normalize x or x / 2 into [sqrt(2)/2, sqrt(2)).
    const std::uint32_t i = (hx + 0x95f64u) & 0x100000u;
    x = withHighWord(x, hx | (i ^ 0x3ff00000u));
    k += static_cast<int>(i >> 20);
    const double f = x - 1.0;
    const auto dk = static_cast<double>(k);
    if ((0x000fffffu & (2u + hx)) < 3u) {
        // |f| < 2^-20.
        if (f == 0.0) {
            return k == 0 ? 0.0 : dk * kLn2Hi + dk * kLn2Lo;
        }
        const double r = f * f * (0.5 - 0.33333333333333333 * f);
        return k == 0 ? f - r : dk * kLn2Hi - ((r - dk * kLn2Lo) - f);
    }
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double w = z * z;
    const double t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
    const double t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
    const double r = t2 + t1;
    const bool far =
        (static_cast<std::int32_t>(hx - 0x6147au) | static_cast<std::int32_t>(0x6b851u - hx)) > 0;
    if (far) {
        const double hfsq = 0.5 * f * f;
        return k == 0 ? f - (hfsq - s * (hfsq + r))
                      : dk * kLn2Hi - ((hfsq - (s * (hfsq + r) + dk * kLn2Lo)) - f);
    }
    return k == 0 ? f - s * (f - r) : dk * kLn2Hi - ((s * (f - r) - dk * kLn2Lo) - f);
}

// Dekker's exact product: a * b = hi + lo, without a fused multiply-add.
void exactProduct(double a, double b, double& hi, double& lo) {
    constexpr double kSplit = 0x1.0p+27 + 1.0;
    const double ca = kSplit * a;
    const double ah = ca - (ca - a);
    const double al = a - ah;
    const double cb = kSplit * b;
    const double bh = cb - (cb - b);
    const double bl = b - bh;
    hi = a * b;
    lo = ((ah * bh - hi) + ah * bl + al * bh) + al * bl;
}

} // namespace

double sin(double x) {
    double y0 = 0.0;
    double y1 = 0.0;
    const int quadrant = reduce(x, y0, y1);
    return quadrant < 0 ? kNaN : sinInQuadrant(quadrant, y0, y1);
}

// cos(x) = sin(x + pi/2): one quadrant further on.
double cos(double x) {
    double y0 = 0.0;
    double y1 = 0.0;
    const int quadrant = reduce(x, y0, y1);
    return quadrant < 0 ? kNaN : sinInQuadrant((quadrant + 1) & 3, y0, y1);
}

double exp(double x) {
    if (x != x) {
        return x;
    }
    if (x > kExpOverflow) {
        return kInfinity;
    }
    if (x < kExpUnderflow) {
        return 0.0;
    }
    return expOfSum(x, 0.0);
}

double exp10(double x) {
    if (x != x) {
        return x;
    }
    if (x > 400.0) {
        return kInfinity;
    }
    if (x < -400.0) {
        return 0.0;
    }
    // x ln 10 = hi + lo to about 100 bits: the exact product with the leading piece, plus the
    // product with the trailing one.
    double hi = 0.0;
    double lo = 0.0;
    exactProduct(x, kLn10Hi, hi, lo);
    lo = lo + x * kLn10Lo;
    const double sum = hi + lo;
    const double tail = lo - (sum - hi);
    if (sum > kExpOverflow) {
        return kInfinity;
    }
    if (sum < kExpUnderflow) {
        return 0.0;
    }
    return expOfSum(sum, tail);
}

double log10(double x) {
    if (x != x) {
        return x;
    }
    if (x < 0.0) {
        return kNaN;
    }
    if (x == 0.0) {
        return -kInfinity;
    }
    if (x == kInfinity) {
        return x;
    }
    int scale = 0;
    if (x < 0x1.0p-1022) {
        x *= kTwo54;
        scale = -54;
    }
    // x = 2^k m with m in [1, 2) for k >= 0 and in [1/2, 1) below: log10(2^k) then carries no
    // cancellation against log10(m).
    std::uint32_t hx = highWord(x);
    const int k = static_cast<int>(hx >> 20) - 1023 + scale;
    const std::uint32_t negative = k < 0 ? 1u : 0u;
    hx = (hx & 0x000fffffu) | ((0x3ffu - negative) << 20);
    const auto y = static_cast<double>(k + static_cast<int>(negative));
    const double z = y * kLog10Of2Lo + kInvLn10 * logOfNormal(withHighWord(x, hx));
    return z + y * kLog10Of2Hi;
}

} // namespace portable
