#include "dsp/CResample.h"

#include "dsp/TapTables.h"
#include "platform/FirEngine.h"
#include "platform/FirTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using firtest::KernelScope;
using firtest::randomSignal;
using firtest::sameBits;
using platform::FirKernel;

namespace {

const float* tableFor(int f) {
    switch (f) {
    case 2:
        return taps::kResample2;
    case 4:
        return taps::kResample4;
    case 6:
        return taps::kResample6;
    default:
        return taps::kResample3;
    }
}

// The definitions, through a plain CFirFilter with the same taps.
std::vector<float> filterWith(int f, const std::vector<float>& x) {
    CFirFilter fir;
    EXPECT_EQ(fir.setTaps(tableFor(f), taps::kResampleCount), 0);
    std::vector<float> y(x.size());
    unsigned n = 0;
    EXPECT_EQ(fir.filter(x.data(), y.data(), static_cast<unsigned>(x.size()), &n), 0);
    return y;
}

// Filter, then keep samples 0, f, 2f, ...
std::vector<float> filterAndDrop(int f, const std::vector<float>& x) {
    const std::vector<float> y = filterWith(f, x);
    std::vector<float> kept;
    for (std::size_t i = 0; i < y.size(); i += f) {
        kept.push_back(y[i]);
    }
    return kept;
}

// Put each sample times f at 0, f, 2f, ... with zeros between, then filter.
std::vector<float> zeroStuffAndFilter(int f, const std::vector<float>& x) {
    std::vector<float> stuffed(x.size() * f, 0.0f);
    for (std::size_t i = 0; i < x.size(); ++i) {
        stuffed[i * f] = x[i] * static_cast<float>(f);
    }
    return filterWith(f, stuffed);
}

std::vector<unsigned> randomBlocks(unsigned total, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned> blocks;
    for (unsigned done = 0; done < total;) {
        const unsigned c = std::min(static_cast<unsigned>(rng() % 2500), total - done);
        blocks.push_back(c);
        done += c;
    }
    return blocks;
}

TEST(CResample, BothDirectionsEqualTheirDefinitionsBitForBitInBlocksOfAnyLength) {
    const std::vector<float> x = randomSignal(12000, 1);
    for (FirKernel kernel :
         {FirKernel::Sse2, FirKernel::Avx, FirKernel::Avx512, FirKernel::Avx2Fma}) {
        if (!platform::firKernelAvailable(kernel)) {
            continue;
        }
        KernelScope scope(kernel);
        for (int f : {2, 3, 4, 6, 5}) {
            SCOPED_TRACE(f);
            const std::vector<float> down = filterAndDrop(f, x);
            const std::vector<float> up = zeroStuffAndFilter(f, x);
            for (bool byCounter : {false, true}) {
                SCOPED_TRACE(byCounter ? "by counter" : "by phase");
                CResample resampler;
                resampler.setFactor(f);
                ASSERT_EQ(resampler.getFactor(), f);
                std::vector<float> gotDown(down.size() + 8, 0.0f);
                std::vector<float> gotUp(up.size());
                unsigned at = 0;
                unsigned downCount = 0;
                unsigned upCount = 0;
                for (unsigned c : randomBlocks(static_cast<unsigned>(x.size()), f)) {
                    unsigned n = 0;
                    const int status =
                        byCounter
                            ? resampler.decimateByCounter(x.data() + at, gotDown.data() + downCount,
                                                          c, &n)
                            : resampler.decimate(x.data() + at, gotDown.data() + downCount, c, &n);
                    ASSERT_EQ(status, 0);
                    downCount += n;
                    const unsigned room = static_cast<unsigned>(f) * c;
                    const int upStatus =
                        byCounter ? resampler.interpolateByCounter(
                                        x.data() + at, gotUp.data() + upCount, c, room, &n)
                                  : resampler.interpolate(x.data() + at, gotUp.data() + upCount, c,
                                                          room, &n);
                    ASSERT_EQ(upStatus, 0);
                    ASSERT_EQ(n, room);
                    upCount += n;
                    at += c;
                }
                ASSERT_EQ(downCount, down.size());
                ASSERT_EQ(upCount, up.size());
                for (std::size_t i = 0; i < down.size(); ++i) {
                    ASSERT_TRUE(sameBits(gotDown[i], down[i])) << "decimated sample " << i;
                }
                for (std::size_t i = 0; i < up.size(); ++i) {
                    ASSERT_TRUE(sameBits(gotUp[i], up[i])) << "interpolated sample " << i;
                }
            }
        }
    }
}

TEST(CResample, ChainBlockSizesAndTheDecimationPhaseSequence) {
    CResample resampler;
    resampler.setFactor(3);
    const std::vector<float> x = randomSignal(6144, 2);
    std::vector<float> y(6144 + 4, 9.0f);
    unsigned n = 0;
    ASSERT_EQ(resampler.interpolate(x.data(), y.data(), 2048, 6144, &n), 0);
    EXPECT_EQ(n, 6144u);
    EXPECT_EQ(y[6144], 9.0f);
    ASSERT_EQ(resampler.decimate(x.data(), y.data(), 6144, &n), 0);
    EXPECT_EQ(n, 2048u);

    // Two blocks of 4 keep filtered samples 0 and 3, then 6 of the joined stream.
    resampler.reset();
    const std::vector<float> eight(x.begin(), x.begin() + 8);
    const std::vector<float> filtered = filterWith(3, eight);
    ASSERT_EQ(resampler.decimate(eight.data(), y.data(), 4, &n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(resampler.getDecimationPhase(), 2u);
    EXPECT_EQ(y[0], filtered[0]);
    EXPECT_EQ(y[1], filtered[3]);
    ASSERT_EQ(resampler.decimate(eight.data() + 4, y.data(), 4, &n), 0);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(resampler.getDecimationPhase(), 1u);
    EXPECT_EQ(y[0], filtered[6]);
}

TEST(CResample, ShortRoomDropsTheInputsThatDoNotFitAndKeepsTheGrid) {
    CResample resampler;
    resampler.setFactor(3);
    const std::vector<float> x = randomSignal(14, 3);
    std::vector<float> y(40, 9.0f);
    unsigned n = 0;
    // 10 inputs, room for 14: inputs 0..4 land at 0, 3, ..., 12; the next belongs at 15.
    ASSERT_EQ(resampler.interpolate(x.data(), y.data(), 10, 14, &n), 0);
    EXPECT_EQ(n, 14u);
    EXPECT_EQ(y[14], 9.0f);
    EXPECT_EQ(resampler.getInterpolationPhase(), 1u);
    ASSERT_EQ(resampler.interpolate(x.data() + 10, y.data() + 14, 4, 12, &n), 0);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(resampler.getInterpolationPhase(), 1u); // 15, 18, 21, 24; the next at 27

    std::vector<float> stuffed(26, 0.0f);
    for (int i = 0; i < 5; ++i) {
        stuffed[3 * i] = x[i] * 3.0f;
    }
    for (int i = 0; i < 4; ++i) {
        stuffed[15 + 3 * i] = x[10 + i] * 3.0f;
    }
    const std::vector<float> expected = filterWith(3, stuffed);
    for (int i = 0; i < 26; ++i) {
        EXPECT_TRUE(sameBits(y[i], expected[i])) << i;
    }
}

TEST(CResample, FactorChangesSelectTheTableAndRestart) {
    const std::vector<float> x = randomSignal(3000, 4);
    CResample reference;
    reference.setFactor(4);
    std::vector<float> expected(750);
    unsigned n = 0;
    ASSERT_EQ(reference.decimate(x.data(), expected.data(), 3000, &n), 0);

    // The current factor again: histories and phases run on.
    CResample resampler;
    resampler.setFactor(4);
    std::vector<float> y(750);
    unsigned first = 0;
    ASSERT_EQ(resampler.decimate(x.data(), y.data(), 1001, &first), 0);
    resampler.setFactor(4);
    EXPECT_EQ(resampler.getDecimationPhase(), 3u);
    ASSERT_EQ(resampler.decimate(x.data() + 1001, y.data() + first, 1999, &n), 0);
    EXPECT_EQ(first + n, 750u);
    EXPECT_EQ(y, expected);

    // A new factor restarts from zero; values below 1 are refused.
    resampler.setFactor(2);
    resampler.setFactor(4);
    ASSERT_EQ(resampler.decimate(x.data(), y.data(), 3000, &n), 0);
    EXPECT_EQ(y, expected);
    resampler.setFactor(0);
    resampler.setFactor(-3);
    EXPECT_EQ(resampler.getFactor(), 4);

    // Factors without a table of their own use the factor-3 table.
    CResample five;
    five.setFactor(5);
    EXPECT_EQ(five.getFactor(), 5);
    std::vector<float> y5(600);
    ASSERT_EQ(five.decimate(x.data(), y5.data(), 3000, &n), 0);
    ASSERT_EQ(n, 600u);
    const std::vector<float> filtered = filterWith(3, x);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(y5[i], filtered[5 * i]);
    }
}

TEST(CResample, AsAudioUnitLevelAliasRejectionAndLatency) {
    // DC through the factor-2 interpolator settles at 1.
    {
        CResample resampler;
        const std::vector<float> ones(1024, 1.0f);
        std::vector<float> y(2048);
        unsigned n = 0;
        ASSERT_EQ(resampler.interpolate(ones.data(), y.data(), 1024, 2048, &n), 0);
        for (unsigned i = 300; i < n; ++i) {
            ASSERT_NEAR(y[i], 1.0f, 1e-5f) << i;
        }
    }
    // 10 kHz at 44.1 kHz lies above the 7.35 kHz Nyquist frequency of a third of the rate: it
    // must not fold back into the decimated signal.
    {
        CResample resampler;
        resampler.setFactor(3);
        std::vector<float> x(44100);
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 10000.0 / 44100.0 * i));
        }
        std::vector<float> y(x.size() / 3);
        unsigned n = 0;
        ASSERT_EQ(resampler.decimate(x.data(), y.data(), 44100, &n), 0);
        double energy = 0.0;
        for (unsigned i = 200; i < n; ++i) {
            energy += static_cast<double>(y[i]) * y[i];
        }
        const double rmsDb = 10.0 * std::log10(energy / (n - 200) / 0.5); // relative to the input
        EXPECT_LT(rmsDb, -110.0);
    }
    // An impulse raised and lowered again by the same object comes out 255 / f samples late.
    for (int f : {3, 5}) {
        CResample resampler;
        resampler.setFactor(f);
        std::vector<float> x(400, 0.0f);
        x[10] = 1.0f;
        std::vector<float> high(400 * f);
        std::vector<float> low(400);
        unsigned n = 0;
        ASSERT_EQ(resampler.interpolate(x.data(), high.data(), 400, 400 * f, &n), 0);
        ASSERT_EQ(resampler.decimate(high.data(), low.data(), n, &n), 0);
        const auto peak = std::max_element(low.begin(), low.end()) - low.begin();
        EXPECT_EQ(peak, 10 + 255 / f) << f;
    }
}

TEST(CResample, BadArgumentsAreRefusedAndChangeNothing) {
    CResample resampler;
    resampler.setFactor(3);
    const std::vector<float> x = randomSignal(10, 5);
    std::vector<float> y(40, 9.0f);
    unsigned n = 77;
    EXPECT_EQ(resampler.interpolate(nullptr, y.data(), 10, 30, &n), 2);
    EXPECT_EQ(resampler.interpolate(x.data(), nullptr, 10, 30, &n), 2);
    EXPECT_EQ(resampler.interpolate(x.data(), y.data(), 10, 30, nullptr), 2);
    EXPECT_EQ(resampler.interpolateByCounter(nullptr, y.data(), 10, 30, &n), 2);
    EXPECT_EQ(resampler.decimate(nullptr, y.data(), 10, &n), 2);
    EXPECT_EQ(resampler.decimate(x.data(), nullptr, 10, &n), 2);
    EXPECT_EQ(resampler.decimate(x.data(), y.data(), 10, nullptr), 2);
    EXPECT_EQ(resampler.decimateByCounter(x.data(), y.data(), 10, nullptr), 2);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(y[0], 9.0f);

    // Nothing to do: zero samples, nothing read or written.
    EXPECT_EQ(resampler.interpolate(nullptr, nullptr, 0, 30, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(resampler.interpolate(x.data(), nullptr, 10, 0, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(resampler.decimate(nullptr, nullptr, 0, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(resampler.getInterpolationPhase(), 0u);
    EXPECT_EQ(resampler.getDecimationPhase(), 0u);

    // Decimation writes count / f + 1 samples at most.
    ASSERT_EQ(resampler.decimate(x.data(), y.data(), 10, &n), 0);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(y[4], 9.0f);
}

} // namespace
