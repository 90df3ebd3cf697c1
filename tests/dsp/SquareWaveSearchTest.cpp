// The hum detector's period search against the correlations written out the slow way: every
// kernel must give exactly the same floats as summing the weighted frame in index order and
// stepping the phases one by one, for any frame length, period range and range changes.

#include "dsp/SquareWaveSearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace {

// Sum of x[q], x[q + L], ... below n, in index order.
float column(const std::vector<float>& x, unsigned q, unsigned period) {
    float sum = 0.0f;
    for (std::size_t i = q; i < x.size(); i += period) {
        sum += x[i];
    }
    return sum;
}

// The largest |correlation| over all phases, from the definitions.
float reference(const std::vector<float>& x, unsigned period) {
    const unsigned h = period / 2;
    float s = 0.0f;
    for (std::size_t k = 0; k < x.size(); ++k) {
        const unsigned r = static_cast<unsigned>(k % period);
        float w = 0.0f;
        if (period % 2 == 0) {
            w = r < h ? 1.0f : -1.0f;
        } else {
            w = r == 0 ? 0.75f : r < h ? 1.0f : r == h ? 0.0f : r < 2 * h ? -1.0f : -0.75f;
        }
        s += w * x[k];
    }
    float m = std::fabs(s);
    if (period % 2 == 0) {
        for (unsigned p = 1; p < h; ++p) {
            s = s - 2.0f * column(x, p - 1, period) + 2.0f * column(x, p - 1 + h, period);
            m = std::max(m, std::fabs(s));
        }
    } else {
        for (unsigned p = 1; p < period; ++p) {
            s = s - 1.5f * column(x, p - 1, period);
            s = s - 0.25f * column(x, p, period);
            s = s + column(x, (h + p - 1) % period, period);
            s = s + column(x, (h + p) % period, period);
            s = s - 0.25f * column(x, (p + period - 2) % period, period);
            m = std::max(m, std::fabs(s));
        }
    }
    return m;
}

TEST(SquareWaveSearch, EveryKernelGivesTheDefinedCorrelationsExactly) {
    std::mt19937 random(17);
    std::normal_distribution<float> noise;
    struct Range {
        unsigned first;
        unsigned last;
    };
    for (unsigned n : {512u, 509u, 100u}) {
        std::vector<float> x(n);
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = 2.0f * std::sin(0.0257f * static_cast<float>(k)) + noise(random);
        }
        std::vector<std::vector<float>> expected(601);
        for (unsigned period = 5; period <= 600; ++period) {
            expected[period] = {reference(x, period)};
        }
        for (auto kernel : {SquareWaveSearch::Kernel::Plain, SquareWaveSearch::Kernel::Sse2,
                            SquareWaveSearch::Kernel::Avx, SquareWaveSearch::Kernel::Avx512}) {
            if (!SquareWaveSearch::kernelAvailable(kernel)) {
                continue;
            }
            SquareWaveSearch search;
            ASSERT_TRUE(search.prepare(n, 600));
            ASSERT_TRUE(search.selectKernel(kernel));
            // Ranges of one and many groups, of both parities first, wider than the kept
            // weights, and the same range again (kept weights reused) after others.
            for (const Range& range :
                 {Range{222, 273}, Range{5, 40}, Range{223, 223}, Range{230, 247}, Range{222, 273},
                  Range{300, 600}, Range{221, 274}, Range{222, 273}}) {
                std::vector<float> matches(range.last - range.first + 1, -1.0f);
                ASSERT_TRUE(search.match(x.data(), range.first, range.last, matches.data()));
                for (unsigned period = range.first; period <= range.last; ++period) {
                    ASSERT_EQ(matches[period - range.first], expected[period][0])
                        << "kernel " << static_cast<int>(kernel) << ", n " << n << ", L " << period;
                }
            }
        }
    }
}

TEST(SquareWaveSearch, TwoFramesAtOnceGiveEachFramesOwnResultsExactly) {
    // Both frames' searches share weights, passes and registers: nothing of one may leak into
    // the other, and each result must be the one defined for its own frame, on every kernel,
    // whether the columns are summed directly (three rows cover the frame) or not.
    std::mt19937 random(29);
    std::normal_distribution<float> noise;
    for (unsigned n : {512u, 100u}) {
        std::vector<float> a(n);
        std::vector<float> b(n);
        for (std::size_t k = 0; k < n; ++k) {
            a[k] = 2.0f * std::sin(0.0257f * static_cast<float>(k)) + noise(random);
            b[k] = 0.5f * std::sin(0.031f * static_cast<float>(k)) + 3.0f * noise(random);
        }
        for (auto kernel : {SquareWaveSearch::Kernel::Plain, SquareWaveSearch::Kernel::Sse2,
                            SquareWaveSearch::Kernel::Avx, SquareWaveSearch::Kernel::Avx512}) {
            if (!SquareWaveSearch::kernelAvailable(kernel)) {
                continue;
            }
            SquareWaveSearch search;
            ASSERT_TRUE(search.prepare(n, 600));
            ASSERT_TRUE(search.selectKernel(kernel));
            for (auto [first, last] :
                 {std::pair{221u, 274u}, std::pair{5u, 60u}, std::pair{223u, 223u},
                  std::pair{400u, 600u}, std::pair{221u, 274u}}) {
                std::vector<float> matchesA(last - first + 1, -1.0f);
                std::vector<float> matchesB(last - first + 1, -1.0f);
                ASSERT_TRUE(search.matchPair(a.data(), b.data(), first, last, matchesA.data(),
                                             matchesB.data()));
                for (unsigned period = first; period <= last; ++period) {
                    ASSERT_EQ(matchesA[period - first], reference(a, period))
                        << "kernel " << static_cast<int>(kernel) << ", n " << n << ", L " << period;
                    ASSERT_EQ(matchesB[period - first], reference(b, period))
                        << "kernel " << static_cast<int>(kernel) << ", n " << n << ", L " << period;
                }
            }
        }
    }
}

TEST(SquareWaveSearch, SwitchingKernelsKeepsEveryResultExact) {
    // The kept phase-0 weights are laid out per kernel; a switch must not reuse another
    // kernel's (a wide search of one group, between two narrow ones of eight).
    if (!SquareWaveSearch::kernelAvailable(SquareWaveSearch::Kernel::Avx512) ||
        !SquareWaveSearch::kernelAvailable(SquareWaveSearch::Kernel::Sse2)) {
        GTEST_SKIP() << "needs SSE2 and AVX-512";
    }
    std::mt19937 random(3);
    std::normal_distribution<float> noise;
    std::vector<float> x(512);
    for (float& sample : x) {
        sample = noise(random);
    }
    SquareWaveSearch search;
    ASSERT_TRUE(search.prepare(512, 300));
    std::vector<float> matches(52);
    for (auto kernel : {SquareWaveSearch::Kernel::Sse2, SquareWaveSearch::Kernel::Avx512,
                        SquareWaveSearch::Kernel::Sse2}) {
        ASSERT_TRUE(search.selectKernel(kernel));
        const unsigned last = kernel == SquareWaveSearch::Kernel::Avx512 ? 222 : 273;
        ASSERT_TRUE(search.match(x.data(), 222, last, matches.data()));
        for (unsigned period = 222; period <= last; ++period) {
            ASSERT_EQ(matches[period - 222], reference(x, period)) << "L " << period;
        }
    }
}

TEST(SquareWaveSearch, ASquareWaveMatchesItsOwnPeriodBest) {
    // A square wave of period 250 starting at phase 37: its own period correlates with every
    // sample at full weight (at the right phase), which no other period can.
    std::vector<float> x(512);
    for (std::size_t k = 0; k < x.size(); ++k) {
        x[k] = (k + 250 - 37) % 250 < 125 ? 0.5f : -0.5f;
    }
    SquareWaveSearch search;
    ASSERT_TRUE(search.prepare(512, 400));
    std::vector<float> matches(101);
    ASSERT_TRUE(search.match(x.data(), 200, 300, matches.data()));
    EXPECT_EQ(matches[50], 256.0f);
    for (unsigned period = 200; period <= 300; ++period) {
        if (period != 250) {
            EXPECT_LT(matches[period - 200], 256.0f) << period;
        }
    }
}

TEST(SquareWaveSearch, RefusesWhatItIsNotPreparedFor) {
    SquareWaveSearch search;
    std::vector<float> x(512, 1.0f);
    float match = -1.0f;
    EXPECT_FALSE(search.match(x.data(), 10, 20, &match)); // not prepared
    ASSERT_TRUE(search.prepare(512, 300));
    EXPECT_FALSE(search.match(x.data(), 4, 20, &match));    // below the shortest period
    EXPECT_FALSE(search.match(x.data(), 250, 301, &match)); // beyond the longest
    EXPECT_FALSE(search.match(x.data(), 30, 20, &match));
    EXPECT_FALSE(search.match(nullptr, 10, 20, &match));
    EXPECT_EQ(match, -1.0f);
    EXPECT_FALSE(search.prepare(512, 4));
    EXPECT_FALSE(search.match(x.data(), 10, 20, &match));
}

} // namespace
