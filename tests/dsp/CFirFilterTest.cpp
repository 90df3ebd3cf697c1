#include "dsp/CFirFilter.h"

#include "dsp/TapTables.h"
#include "platform/FirEngine.h"
#include "platform/FirTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

using firtest::KernelScope;
using firtest::randomSignal;
using firtest::sameBits;
using platform::FirKernel;

namespace {

std::vector<float> filterAll(CFirFilter& fir, const std::vector<float>& x) {
    std::vector<float> y(x.size());
    unsigned n = 0;
    EXPECT_EQ(fir.filter(x.data(), y.data(), static_cast<unsigned>(x.size()), &n), 0);
    EXPECT_EQ(n, x.size());
    return y;
}

TEST(CFirFilter, BlockPathAndDirectFormGiveTheSameSamples) {
    KernelScope scope(firtest::baselineKernel());
    const std::vector<float> h = randomSignal(256, 1);
    const std::vector<float> x = randomSignal(3000, 2);
    CFirFilter block;
    CFirFilter direct;
    ASSERT_EQ(block.setTaps(h.data(), 256), 0);
    ASSERT_EQ(direct.setTaps(h.data(), 256), 0);
    const std::vector<float> y = filterAll(block, x);

    // The direct form drops the first 128 outputs once, then returns every sample.
    std::vector<float> z(x.size());
    unsigned first = 0;
    unsigned second = 0;
    ASSERT_EQ(direct.filterDirect(x.data(), z.data(), 1000, &first), 0);
    ASSERT_EQ(direct.filterDirect(x.data() + 1000, z.data() + first, 2000, &second), 0);
    ASSERT_EQ(first, 1000u - 128u);
    ASSERT_EQ(second, 2000u);
    for (unsigned i = 0; i < first + second; ++i) {
        ASSERT_TRUE(sameBits(z[i], y[i + 128])) << i;
    }
}

TEST(CFirFilter, DirectFormDropsHalfTheTapCountOnceAfterInit) {
    const float h[4] = {1.0f, 0.5f, 0.25f, 0.125f};
    CFirFilter fir;
    ASSERT_EQ(fir.setTaps(h, 4), 0);
    ASSERT_EQ(fir.init(), 0);
    std::vector<float> x(10);
    for (int i = 0; i < 10; ++i) {
        x[i] = static_cast<float>(i + 1);
    }
    std::vector<float> y(10, -1.0f);
    unsigned n = 0;
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 10, &n), 0);
    EXPECT_EQ(n, 8u);
    EXPECT_FLOAT_EQ(y[0], 3.0f + 0.5f * 2.0f + 0.25f * 1.0f); // output for input sample 2
    EXPECT_FALSE(fir.isPrimed());
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 5, &n), 0);
    EXPECT_EQ(n, 5u);

    // A call no longer than N/2 after init yields nothing, and the drop is not repeated.
    ASSERT_EQ(fir.init(), 0);
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 2, &n), 0);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 3, &n), 0);
    EXPECT_EQ(n, 3u);

    // In place gives the same samples as separate arrays.
    ASSERT_EQ(fir.init(), 0);
    std::vector<float> separate(10);
    ASSERT_EQ(fir.filterDirect(x.data(), separate.data(), 10, &n), 0);
    ASSERT_EQ(fir.init(), 0);
    std::vector<float> inPlace = x;
    ASSERT_EQ(fir.filterDirect(inPlace.data(), inPlace.data(), 10, &n), 0);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(inPlace[i], separate[i]);
    }
}

TEST(CFirFilter, BadArgumentsAreRefusedAndChangeNothing) {
    const std::vector<float> h = randomSignal(8, 3);
    const std::vector<float> x = randomSignal(16, 4);
    std::vector<float> y(16, 7.0f);
    CFirFilter fir;
    unsigned n = 99;
    // Before any taps: no engine state, the block path writes zeros.
    EXPECT_EQ(fir.filter(x.data(), y.data(), 16, &n), 0);
    EXPECT_EQ(y[3], 0.0f);
    EXPECT_EQ(fir.setTaps(nullptr, 8), 2);
    EXPECT_EQ(fir.updateTaps(nullptr, 8), 2);
    EXPECT_FALSE(fir.isStateReady());
    ASSERT_EQ(fir.setTaps(h.data(), 8), 0);
    EXPECT_TRUE(fir.isStateReady());

    n = 99;
    EXPECT_EQ(fir.filterDirect(x.data(), y.data(), 0, &n), 0);
    EXPECT_EQ(n, 99u); // untouched
    EXPECT_TRUE(fir.isPrimed());
    EXPECT_EQ(fir.filterDirect(nullptr, y.data(), 16, &n), 2);
    EXPECT_EQ(fir.filterDirect(x.data(), nullptr, 16, &n), 2);
    EXPECT_EQ(fir.filterDirect(x.data(), y.data(), 16, nullptr), 2);
    EXPECT_TRUE(fir.isPrimed());
    EXPECT_EQ(fir.filter(nullptr, y.data(), 16, &n), 2);
    EXPECT_EQ(fir.filter(x.data(), nullptr, 16, &n), 2);
    EXPECT_EQ(fir.filter(x.data(), y.data(), 16, nullptr), 2);
    EXPECT_EQ(fir.filter(nullptr, nullptr, 0, &n), 0);
    EXPECT_EQ(n, 0u);

    // Taps of count 0: the empty sum.
    ASSERT_EQ(fir.setTaps(nullptr, 0), 0);
    EXPECT_TRUE(fir.getDelayLine().empty());
    y.assign(16, 7.0f);
    EXPECT_EQ(fir.filter(x.data(), y.data(), 16, &n), 0);
    EXPECT_EQ(y[15], 0.0f);
    EXPECT_EQ(fir.filterDirect(x.data(), y.data(), 16, &n), 0);
    EXPECT_EQ(n, 16u);
    EXPECT_EQ(y[0], 0.0f);
}

TEST(CFirFilter, TapChangesKeepOrRestartTheHistoryAsDocumented) {
    const std::vector<float> h1 = randomSignal(64, 5);
    std::vector<float> h2 = h1;
    h2[10] += 0.25f;
    const std::vector<float> x = randomSignal(400, 6);
    const std::vector<float> firstHalf(x.begin(), x.begin() + 200);
    const std::vector<float> secondHalf(x.begin() + 200, x.end());
    auto run = [](const std::vector<float>& h, const std::vector<float>& signal) {
        CFirFilter fir;
        EXPECT_EQ(fir.setTaps(h.data(), 64), 0);
        return filterAll(fir, signal);
    };
    const std::vector<float> y1 = run(h1, x);
    const std::vector<float> y2 = run(h2, x);
    const std::vector<float> restarted = run(h2, secondHalf);

    // After the first half on both paths with h1, `change` acts; the second half of the block
    // path must then equal samples 200... of `expected`, and `primed` must be `primedAfter`.
    auto check = [&](auto change, const float* expected, bool primedAfter) {
        CFirFilter fir;
        ASSERT_EQ(fir.setTaps(h1.data(), 64), 0);
        filterAll(fir, firstHalf);
        std::vector<float> scratch(200);
        unsigned n = 0;
        ASSERT_EQ(fir.filterDirect(firstHalf.data(), scratch.data(), 200, &n), 0);
        const std::vector<float> line = fir.getDelayLine();
        ASSERT_EQ(change(fir), 0);
        EXPECT_EQ(fir.isPrimed(), primedAfter);
        EXPECT_EQ(fir.getDelayLine(), line); // same count: the direct-form history stays
        const std::vector<float> y = filterAll(fir, secondHalf);
        for (std::size_t i = 0; i < 200; ++i) {
            ASSERT_TRUE(sameBits(y[i], expected[i])) << i;
        }
    };
    {
        SCOPED_TRACE("setTaps with the stored taps: nothing changes");
        check([&](CFirFilter& f) { return f.setTaps(h1.data(), 64); }, y1.data() + 200, false);
    }
    {
        SCOPED_TRACE("updateTaps with new values: the history continues");
        check([&](CFirFilter& f) { return f.updateTaps(h2.data(), 64); }, y2.data() + 200, false);
    }
    {
        SCOPED_TRACE("setTaps with new values: a restart from zero history");
        check([&](CFirFilter& f) { return f.setTaps(h2.data(), 64); }, restarted.data(), true);
    }
    {
        SCOPED_TRACE("init: both histories cleared");
        CFirFilter fir;
        ASSERT_EQ(fir.setTaps(h2.data(), 64), 0);
        filterAll(fir, firstHalf);
        std::vector<float> scratch(200);
        unsigned n = 0;
        ASSERT_EQ(fir.filterDirect(firstHalf.data(), scratch.data(), 200, &n), 0);
        ASSERT_EQ(fir.init(), 0);
        EXPECT_TRUE(fir.isPrimed());
        EXPECT_EQ(fir.getDelayLine(), std::vector<float>(64, 0.0f));
        const std::vector<float> y = filterAll(fir, secondHalf);
        for (std::size_t i = 0; i < 200; ++i) {
            ASSERT_TRUE(sameBits(y[i], restarted[i])) << i;
        }
    }
}

TEST(CFirFilter, ChangingTheTapCountKeepsTheNewestHistory) {
    const std::vector<float> x = randomSignal(300, 7);
    const std::vector<float> h256 = randomSignal(256, 8);
    const std::vector<float> h512 = randomSignal(512, 9);
    CFirFilter fir;
    ASSERT_EQ(fir.setTaps(h256.data(), 256), 0);
    std::vector<float> y(300);
    unsigned n = 0;
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 300, &n), 0);

    ASSERT_EQ(fir.setTaps(h512.data(), 512), 0);
    const std::vector<float>& grown = fir.getDelayLine();
    ASSERT_EQ(grown.size(), 512u);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(grown[i], 0.0f) << i;
        ASSERT_EQ(grown[256 + i], x[44 + i]) << i;
    }
    EXPECT_TRUE(fir.isPrimed());

    // Shrinking by updateTaps keeps the newest samples and leaves `primed` alone.
    ASSERT_EQ(fir.filterDirect(x.data(), y.data(), 300, &n), 0);
    ASSERT_EQ(fir.updateTaps(h256.data(), 256), 0);
    EXPECT_FALSE(fir.isPrimed());
    const std::vector<float>& shrunk = fir.getDelayLine();
    ASSERT_EQ(shrunk.size(), 256u);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(shrunk[i], x[44 + i]) << i;
    }
}

TEST(CFirFilter, BlockPathIsContinuousInPlaceAndForgetsNonFiniteInput) {
    for (FirKernel kernel : {FirKernel::Generic, FirKernel::Sse2, FirKernel::Avx, FirKernel::Avx512,
                             FirKernel::Avx2Fma}) {
        if (!platform::firKernelAvailable(kernel)) {
            continue;
        }
        SCOPED_TRACE(static_cast<int>(kernel));
        KernelScope scope(kernel);
        const std::vector<float> x = randomSignal(9000, 10);
        CFirFilter whole;
        ASSERT_EQ(whole.setTaps(taps::kHighPass, taps::kHighPassCount), 0);
        const std::vector<float> expected = filterAll(whole, x);

        CFirFilter pieces;
        ASSERT_EQ(pieces.setTaps(taps::kHighPass, taps::kHighPassCount), 0);
        std::vector<float> buffer = x;
        std::mt19937 rng(11);
        for (unsigned at = 0; at < x.size();) {
            const unsigned c =
                std::min(static_cast<unsigned>(rng() % 700), static_cast<unsigned>(x.size()) - at);
            unsigned n = 0;
            ASSERT_EQ(pieces.filter(buffer.data() + at, buffer.data() + at, c, &n), 0);
            ASSERT_EQ(n, c);
            at += c;
        }
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_TRUE(sameBits(buffer[i], expected[i])) << i;
        }

        // A NaN spoils the N outputs that see it, then leaves the history.
        std::vector<float> spoiled = x;
        spoiled[100] = std::numeric_limits<float>::quiet_NaN();
        CFirFilter fir;
        ASSERT_EQ(fir.setTaps(taps::kHighPass, taps::kHighPassCount), 0);
        const std::vector<float> y = filterAll(fir, spoiled);
        EXPECT_TRUE(std::isnan(y[100]));
        EXPECT_TRUE(std::isnan(y[355]));
        for (std::size_t i = 356; i < y.size(); ++i) {
            ASSERT_TRUE(sameBits(y[i], expected[i])) << i;
        }
    }
}

// Least-squares fit of y[n] ~ g sin(w n + phi) over [from, y.size()).
struct SineFit {
    double gain;
    double phase;
};

SineFit fitSine(const std::vector<float>& y, double w, std::size_t from) {
    double ss = 0.0;
    double sc = 0.0;
    double cc = 0.0;
    double ys = 0.0;
    double yc = 0.0;
    for (std::size_t n = from; n < y.size(); ++n) {
        const double s = std::sin(w * static_cast<double>(n));
        const double c = std::cos(w * static_cast<double>(n));
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += y[n] * s;
        yc += y[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det; // coefficient of sin
    const double b = (yc * ss - ys * sc) / det; // coefficient of cos
    return {std::hypot(a, b), std::atan2(b, a)};
}

double wrapAngle(double a) {
    return std::remainder(a, 2.0 * std::numbers::pi);
}

TEST(CFirFilter, HighPassTableAsAudio) {
    constexpr double kRate = 14700.0;
    auto run = [&](double frequency) {
        const double w = 2.0 * std::numbers::pi * frequency / kRate;
        std::vector<float> x(14700);
        for (std::size_t n = 0; n < x.size(); ++n) {
            x[n] = static_cast<float>(std::sin(w * static_cast<double>(n)));
        }
        CFirFilter fir;
        EXPECT_EQ(fir.setTaps(taps::kHighPass, taps::kHighPassCount), 0);
        return fitSine(filterAll(fir, x), w, 1000);
    };

    const SineFit hum = run(60.0);
    EXPECT_LE(20.0 * std::log10(hum.gain), -44.0);

    // 1 kHz: unit gain, 127.5 samples late and 90 degrees ahead: sin(w (n - 127.5) + pi/2).
    const SineFit tone = run(1000.0);
    EXPECT_NEAR(20.0 * std::log10(tone.gain), 0.0, 0.042);
    const double w = 2.0 * std::numbers::pi * 1000.0 / kRate;
    EXPECT_NEAR(wrapAngle(tone.phase - (-w * 127.5 + std::numbers::pi / 2.0)), 0.0, 1e-4);
}

} // namespace
