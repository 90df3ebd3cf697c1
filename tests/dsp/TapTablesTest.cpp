// Measures the responses of the committed tap tables: gains on fine grids, level crossings by
// bisection, DC gain, exact symmetry and a few of the taps themselves. Everything is computed in
// double from the float taps, so what is measured is what the filters run with.

#include "dsp/TapTables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>

namespace {

// |H(f)| in dB, f a fraction of the sample rate.
double gainDb(std::span<const float> h, double f) {
    const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * f);
    std::complex<double> z = 1.0;
    std::complex<double> sum = 0.0;
    for (float tap : h) {
        sum += static_cast<double>(tap) * z;
        z *= step;
    }
    return 20.0 * std::log10(std::abs(sum));
}

struct Range {
    double min = HUGE_VAL;
    double max = -HUGE_VAL;
};

// Smallest and largest gain on a grid of `step` from `from` to `to` (both included).
Range gainRange(std::span<const float> h, double from, double to, double step) {
    Range range;
    const auto count = static_cast<int>(std::ceil((to - from) / step));
    for (int i = 0; i <= count; ++i) {
        const double g = gainDb(h, std::min(from + i * step, to));
        range.min = std::min(range.min, g);
        range.max = std::max(range.max, g);
    }
    return range;
}

// Walks from `start` by `step` (negative to walk down) until the gain falls below `level`, then
// bisects the last step: the frequency where the gain crosses `level` nearest to `start`.
double crossing(std::span<const float> h, double start, double step, double level) {
    double inside = start;
    double outside = start + step;
    while (gainDb(h, outside) >= level) {
        inside = outside;
        outside += step;
    }
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (inside + outside);
        (gainDb(h, mid) >= level ? inside : outside) = mid;
    }
    return 0.5 * (inside + outside);
}

std::uint32_t bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

// A tap compared with a figure given to a few digits: within `tolerance`.
struct ReferenceTap {
    int index;
    double value;
    double tolerance;
};

TEST(TapTables, HighPassMeetsItsResponseAt14700Hz) {
    const std::span<const float> h(taps::kHighPass, taps::kHighPassCount);
    constexpr double kRate = 14700.0;

    // Exactly antisymmetric, so the taps sum to exactly 0 (the double sum of these floats is
    // exact) and the response has a true zero at 0 Hz.
    double sum = 0.0;
    for (int n = 0; n < taps::kHighPassCount; ++n) {
        EXPECT_EQ(bits(h[static_cast<std::size_t>(n)]),
                  bits(-h[static_cast<std::size_t>(taps::kHighPassCount - 1 - n)]))
            << "tap " << n;
        sum += h[static_cast<std::size_t>(n)];
    }
    EXPECT_EQ(sum, 0.0);

    // Pass band from 200 Hz to the Nyquist frequency: the design ripples by +-0.0424 dB.
    const Range pass = gainRange(h, 200.0 / kRate, 0.5, 0.25 / kRate);
    EXPECT_LE(pass.max, 0.043);
    EXPECT_GE(pass.min, -0.043);

    // At least 44 dB down from 1 Hz to 65 Hz.
    EXPECT_LE(gainRange(h, 1.0 / kRate, 65.0 / kRate, 0.01 / kRate).max, -44.0);

    // The transition, walked down from the pass band: each level within 1 Hz of its figure.
    const struct {
        double level;
        double hz;
    } points[] = {{-0.1, 189.0}, {-1.0, 166.0}, {-3.0, 146.0},
                  {-6.0, 128.0}, {-20.0, 89.0}, {-40.0, 67.0}};
    for (const auto& point : points) {
        EXPECT_NEAR(crossing(h, 200.0 / kRate, -0.5 / kRate, point.level) * kRate, point.hz, 1.0)
            << point.level << " dB";
    }

    // The centre taps come within 1.1e-6 relative of the figures (1e-6 from the design, the rest
    // from rounding to float); the outermost taps, some 1e-3 of the centre, within 2.5e-6
    // absolute: a change of that size moves the response by at most 5e-6 (-106 dB), far inside
    // the 0.0049 ripple.
    const ReferenceTap referenceTaps[] = {
        {0, 0.0026430399, 2.5e-6},   {1, 0.00044013999, 2.5e-6},   {2, 0.00047510999, 2.5e-6},
        {7, 0.00065136002, 2.5e-6},  {124, 0.089193553, 0.098e-6}, {125, 0.12607013, 0.139e-6},
        {126, 0.21145333, 0.233e-6}, {127, 0.63636851, 0.700e-6},
    };
    for (const ReferenceTap& tap : referenceTaps) {
        EXPECT_NEAR(h[static_cast<std::size_t>(tap.index)], tap.value, tap.tolerance)
            << "tap " << tap.index;
    }
}

struct ResampleFigures {
    const float* table;
    int factor;
    double dcGain;      // sum of the taps
    double minus3;      // -3 dB point, fraction of the high rate
    double minus6;      // -6 dB point
    double attenuation; // dB, from fs/(2 factor) to fs/2
    double flatness;    // largest |gain| in dB over the pass band, 0 ... 0.85 fs/(2 factor)
    ReferenceTap referenceTaps[4];
};

// The outer taps are tabled to one to five digits; each must lie within half a unit of the last
// digit given (the 5e-8 for the factor-3 tap 2, tabled as -3.4e-06). Tap 127 is tabled to eight
// digits: within 1e-7 relative.
// The factor-6 table ripples by +-0.01639 in amplitude (its DC gain 1.016392 is the top of the
// ripple); in dB that is +0.141 / -0.144, hence 0.145 dB.
const ResampleFigures kResampleFigures[] = {
    {taps::kResample2,
     2,
     1.000000,
     0.2275,
     0.2300,
     137.0,
     0.004,
     {{0, -1e-08, 5e-9}, {1, -6e-08, 5e-9}, {2, -8e-08, 5e-9}, {127, 0.42089832, 0.42e-7}}},
    {taps::kResample3,
     3,
     0.999968,
     0.1507,
     0.1530,
     118.0,
     0.004,
     {{0, 6.9e-07, 5e-9}, {1, -5.6e-07, 5e-9}, {2, -3.4e-06, 5e-8}, {127, 0.2941736, 0.29e-7}}},
    {taps::kResample4,
     4,
     0.999554,
     0.1128,
     0.1145,
     96.0,
     0.004,
     {{0, 1.285e-05, 5e-9}, {1, 1.121e-05, 5e-9}, {2, 5.18e-06, 5e-9}, {127, 0.22390901, 0.22e-7}}},
    {taps::kResample6,
     6,
     1.016392,
     0.0737,
     0.0752,
     85.0,
     0.145,
     {{0, -7.074e-05, 5e-9},
      {1, -0.00013466, 5e-9},
      {2, -0.00024248, 5e-9},
      {127, 0.14901607, 0.15e-7}}},
};

TEST(TapTables, ResampleTablesMeetTheirResponses) {
    for (const ResampleFigures& row : kResampleFigures) {
        SCOPED_TRACE(testing::Message() << "factor " << row.factor);
        const std::span<const float> h(row.table, taps::kResampleCount);
        const double stopEdge = 0.5 / row.factor;
        const double passEdge = 0.85 * stopEdge;

        double dc = 0.0;
        for (int n = 0; n < taps::kResampleCount; ++n) {
            EXPECT_EQ(bits(h[static_cast<std::size_t>(n)]),
                      bits(h[static_cast<std::size_t>(taps::kResampleCount - 1 - n)]))
                << "tap " << n;
            dc += h[static_cast<std::size_t>(n)];
        }
        EXPECT_NEAR(dc, row.dcGain, 1e-6);

        const Range pass = gainRange(h, 0.0, passEdge, 1e-5);
        EXPECT_LE(pass.max, row.flatness);
        EXPECT_GE(pass.min, -row.flatness);

        EXPECT_LE(gainRange(h, stopEdge, 0.5, 1e-5).max, -row.attenuation);

        // Equiripple designs with these band edges cross slightly (up to 0.0003 fs) below the
        // tabled points.
        EXPECT_NEAR(crossing(h, passEdge, 1e-5, -3.0), row.minus3, 0.0003);
        EXPECT_NEAR(crossing(h, passEdge, 1e-5, -6.0), row.minus6, 0.0003);

        for (const ReferenceTap& tap : row.referenceTaps) {
            EXPECT_NEAR(h[static_cast<std::size_t>(tap.index)], tap.value, tap.tolerance)
                << "tap " << tap.index;
        }
    }
}

} // namespace
