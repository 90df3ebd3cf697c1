#include "platform/FirEngine.h"

#include "platform/FirTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

using firtest::KernelScope;
using firtest::randomSignal;
using firtest::sameBits;
using platform::FirKernel;
using platform::FirState;

namespace {

// y[n] = sum h[m] x[n-m] from m = 0 upward in single precision: a multiply and an add per tap,
// or one fused multiply-add.
std::vector<float> scalarReference(const std::vector<float>& h, const std::vector<float>& x,
                                   bool fused) {
    std::vector<float> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        float acc = 0.0f;
        for (std::size_t m = 0; m < h.size() && m <= n; ++m) {
            if (fused) {
                acc = std::fma(h[m], x[n - m], acc);
            } else {
                const float product = h[m] * x[n - m];
                acc = acc + product;
            }
        }
        y[n] = acc;
    }
    return y;
}

std::vector<double> doubleReference(const std::vector<float>& h, const std::vector<float>& x) {
    std::vector<double> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        double acc = 0.0;
        for (std::size_t m = 0; m < h.size() && m <= n; ++m) {
            acc += static_cast<double>(h[m]) * x[n - m];
        }
        y[n] = acc;
    }
    return y;
}

// Block lengths summing to `total`, including empty and one-sample blocks.
std::vector<unsigned> randomBlocks(unsigned total, unsigned seed, unsigned longest = 3000) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<unsigned> len(0, longest);
    std::vector<unsigned> blocks;
    unsigned done = 0;
    while (done < total) {
        unsigned c = std::min(len(rng), total - done);
        if (blocks.size() % 7 == 3) {
            c = std::min(1u, total - done);
        }
        blocks.push_back(c);
        done += c;
    }
    return blocks;
}

constexpr float kGuard = 12345.0f; // written past every output, must survive

class FirEngineKernel : public ::testing::TestWithParam<FirKernel> {
protected:
    void SetUp() override {
        if (!platform::firKernelAvailable(GetParam())) {
            GTEST_SKIP() << "kernel not available on this processor";
        }
        scope = std::make_unique<KernelScope>(GetParam());
    }
    void TearDown() override { scope.reset(); }
    bool fused() const { return GetParam() == FirKernel::Avx2Fma; }

    std::unique_ptr<KernelScope> scope;
};

TEST_P(FirEngineKernel, MatchesTheScalarLoopBitForBitAndTheDoubleSumClosely) {
    const std::vector<float> x = randomSignal(5000, 1); // several chunks and a partial pass
    for (unsigned n : {1u, 2u, 5u, 73u, 256u, 512u}) {
        SCOPED_TRACE(n);
        const std::vector<float> h = randomSignal(n, 100 + n);
        FirState state;
        ASSERT_EQ(state.init(h.data(), n), 0);
        std::vector<float> y(x.size() + 8, kGuard);
        state.filter(x.data(), y.data(), static_cast<unsigned>(x.size()));

        const std::vector<float> exact = scalarReference(h, x, fused());
        const std::vector<double> precise = doubleReference(h, x);
        double sumAbs = 0.0;
        for (float v : h) {
            sumAbs += std::fabs(v);
        }
        const double tolerance = n * std::numeric_limits<float>::epsilon() * sumAbs;
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_TRUE(sameBits(y[i], exact[i])) << "sample " << i;
            ASSERT_NEAR(y[i], precise[i], tolerance) << "sample " << i;
        }
        for (std::size_t i = x.size(); i < y.size(); ++i) {
            ASSERT_EQ(y[i], kGuard);
        }
    }
}

TEST_P(FirEngineKernel, FilteringAlongsideGivesEachFiltersOwnOutputBitForBit) {
    // A band filter and its complement (leading taps negated, the centre not), then two
    // unrelated tap sets, then states whose histories differ (the two calls are made instead):
    // each output and each history must be exactly those of the filter run on its own, for
    // block lengths of every kind, in place and not, with zeros in the input (the sums that
    // are taken over from the first filter start at +0 and must stay +0).
    std::vector<float> x = randomSignal(6000, 7);
    std::fill(x.begin() + 100, x.begin() + 400, 0.0f);
    const std::vector<float> h = randomSignal(73, 8);
    std::vector<float> complement(73);
    for (unsigned k = 0; k < 73; ++k) {
        complement[k] = (k == 35 ? 1.0f : 0.0f) - h[k];
    }
    const std::vector<float> other = randomSignal(73, 9);
    for (const std::vector<float>* second : {&std::as_const(complement), &other}) {
        for (bool inPlace : {false, true}) {
            for (bool sameHistory : {true, false}) {
                FirState a;
                FirState b;
                FirState aAlone;
                FirState bAlone;
                ASSERT_EQ(a.init(h.data(), 73), 0);
                ASSERT_EQ(b.init(second->data(), 73), 0);
                ASSERT_EQ(aAlone.init(h.data(), 73), 0);
                ASSERT_EQ(bAlone.init(second->data(), 73), 0);
                if (!sameHistory) {
                    const std::vector<float> lead = randomSignal(50, 10);
                    std::vector<float> scratch(50);
                    b.filter(lead.data(), scratch.data(), 50);
                    bAlone.filter(lead.data(), scratch.data(), 50);
                }
                std::vector<float> ya(x.size());
                std::vector<float> yb(x.size());
                std::vector<float> ea(x.size());
                std::vector<float> eb(x.size());
                unsigned done = 0;
                for (unsigned c : randomBlocks(static_cast<unsigned>(x.size()), 11)) {
                    if (inPlace) {
                        std::copy(x.begin() + done, x.begin() + done + c, ya.begin() + done);
                        a.filterAlongside(b, ya.data() + done, ya.data() + done, yb.data() + done,
                                          c);
                    } else {
                        a.filterAlongside(b, x.data() + done, ya.data() + done, yb.data() + done,
                                          c);
                    }
                    aAlone.filter(x.data() + done, ea.data() + done, c);
                    bAlone.filter(x.data() + done, eb.data() + done, c);
                    done += c;
                }
                for (std::size_t i = 0; i < x.size(); ++i) {
                    ASSERT_TRUE(sameBits(ya[i], ea[i])) << "first, sample " << i;
                    ASSERT_TRUE(sameBits(yb[i], eb[i])) << "second, sample " << i;
                }
            }
        }
    }
}

TEST_P(FirEngineKernel, DecimationComputesExactlyTheKeptSamples) {
    const std::vector<float> h = randomSignal(256, 31);
    const std::vector<float> x = randomSignal(9000, 32);
    FirState full;
    ASSERT_EQ(full.init(h.data(), 256), 0);
    std::vector<float> filtered(x.size());
    full.filter(x.data(), filtered.data(), static_cast<unsigned>(x.size()));

    // Steps beyond the polyphase limit take the filter-everything path.
    for (unsigned step : {1u, 2u, 3u, 4u, 5u, 6u, 16u, 17u, 40u}) {
        SCOPED_TRACE(step);
        FirState state;
        ASSERT_EQ(state.init(h.data(), 256), 0);
        std::vector<float> y(x.size() / step + 8, kGuard);
        unsigned phase = step / 2; // offset of the next kept sample in the next block
        unsigned at = 0;
        unsigned kept = 0;
        for (unsigned c : randomBlocks(static_cast<unsigned>(x.size()), step)) {
            const unsigned k =
                state.filterDecimated(x.data() + at, c, phase, step, y.data() + kept);
            for (unsigned i = 0; i < k; ++i) {
                ASSERT_TRUE(sameBits(y[kept + i], filtered[at + phase + step * i]));
            }
            ASSERT_EQ(k, phase < c ? (c - 1 - phase) / step + 1 : 0u);
            phase = phase + step * k - c;
            at += c;
            kept += k;
        }
        EXPECT_EQ(kept, (x.size() - step / 2 + step - 1) / step);
        EXPECT_EQ(y[kept], kGuard);
    }
}

TEST_P(FirEngineKernel, StuffingMatchesFilteringTheStuffedSignalBitForBit) {
    const std::vector<float> x = randomSignal(4000, 41);
    for (unsigned n : {256u, 7u}) {
        for (unsigned step : {1u, 2u, 3u, 4u, 5u, 6u, 16u, 17u}) {
            SCOPED_TRACE(std::to_string(n) + " taps, step " + std::to_string(step));
            const std::vector<float> h = randomSignal(n, 42 + step);
            FirState poly;
            FirState plain;
            ASSERT_EQ(poly.init(h.data(), n), 0);
            ASSERT_EQ(plain.init(h.data(), n), 0);
            const float scale = static_cast<float>(step);
            unsigned phase = 0;
            unsigned at = 0;
            std::mt19937 rng(step);
            for (unsigned c : randomBlocks(static_cast<unsigned>(x.size()), 43 + step, 1200)) {
                // Now and then the room is short: the inputs that do not fit are dropped.
                unsigned outCount = step * c;
                if (rng() % 5 == 0) {
                    outCount = static_cast<unsigned>(rng() % (outCount + 1));
                }
                std::vector<float> stuffed(outCount, 0.0f);
                unsigned placed = 0;
                for (unsigned i = 0; i < c && phase + step * i < outCount; ++i, ++placed) {
                    stuffed[phase + step * i] = x[at + i] * scale;
                }
                std::vector<float> expected(outCount);
                plain.filter(stuffed.data(), expected.data(), outCount);
                std::vector<float> y(outCount + 4, kGuard);
                ASSERT_EQ(
                    poly.filterStuffed(x.data() + at, c, phase, step, scale, y.data(), outCount),
                    placed);
                for (unsigned i = 0; i < outCount; ++i) {
                    ASSERT_TRUE(sameBits(y[i], expected[i])) << "sample " << i;
                }
                ASSERT_EQ(y[outCount], kGuard);
                phase = phase + step * placed - outCount;
                at += c;
            }
        }
    }
}

TEST_P(FirEngineKernel, StuffingStaysExactWhenTheShortCutDoesNotApply) {
    const std::vector<float> x = randomSignal(600, 51);
    auto compare = [&](std::vector<float> h, bool offGridHistory) {
        const auto n = static_cast<unsigned>(h.size());
        FirState poly;
        FirState plain;
        ASSERT_EQ(poly.init(h.data(), n), 0);
        ASSERT_EQ(plain.init(h.data(), n), 0);
        std::vector<float> scratch(100);
        if (offGridHistory) { // ordinary samples leave non-zeros between the grid positions
            poly.filter(x.data(), scratch.data(), 100);
            plain.filter(x.data(), scratch.data(), 100);
        }
        std::vector<float> stuffed(600, 0.0f);
        for (unsigned i = 0; i < 200; ++i) {
            stuffed[1 + 3 * i] = x[i] * 3.0f;
        }
        std::vector<float> expected(600);
        std::vector<float> y(600);
        plain.filter(stuffed.data(), expected.data(), 600);
        ASSERT_EQ(poly.filterStuffed(x.data(), 200, 1, 3, 3.0f, y.data(), 600), 200u);
        for (unsigned i = 0; i < 600; ++i) {
            ASSERT_TRUE(sameBits(y[i], expected[i]) ||
                        (std::isnan(y[i]) && std::isnan(expected[i])))
                << i;
        }
    };
    compare(randomSignal(64, 52), true);
    std::vector<float> withInfinity = randomSignal(64, 53);
    withInfinity[10] = std::numeric_limits<float>::infinity(); // inf * 0 is NaN, not 0
    compare(withInfinity, false);
}

INSTANTIATE_TEST_SUITE_P(Kernels, FirEngineKernel,
                         ::testing::Values(FirKernel::Generic, FirKernel::Sse2, FirKernel::Avx,
                                           FirKernel::Avx512, FirKernel::Avx2Fma),
                         [](const ::testing::TestParamInfo<FirKernel>& info) {
                             switch (info.param) {
                             case FirKernel::Generic:
                                 return std::string("Generic");
                             case FirKernel::Sse2:
                                 return std::string("Sse2");
                             case FirKernel::Avx:
                                 return std::string("Avx");
                             case FirKernel::Avx512:
                                 return std::string("Avx512");
                             case FirKernel::Avx2Fma:
                                 return std::string("Avx2Fma");
                             }
                             return std::string("Unknown");
                         });

TEST(FirEngine, DegenerateStatesFilterToZeroAndNeverWritePastTheOutput) {
    const std::vector<float> x = randomSignal(100, 71);
    std::vector<float> y(104, kGuard);

    FirState never; // not initialised
    never.filter(x.data(), y.data(), 100);
    EXPECT_EQ(y[0], 0.0f);
    EXPECT_EQ(y[99], 0.0f);
    EXPECT_EQ(y[100], kGuard);

    FirState empty;
    ASSERT_EQ(empty.init(nullptr, 0), 0); // no taps: the empty sum
    y.assign(104, kGuard);
    empty.filter(x.data(), y.data(), 100);
    EXPECT_EQ(y[50], 0.0f);
    EXPECT_EQ(y[100], kGuard);
    y.assign(104, kGuard);
    EXPECT_EQ(empty.filterDecimated(x.data(), 100, 1, 3, y.data()), 33u);
    EXPECT_EQ(y[32], 0.0f);
    EXPECT_EQ(y[33], kGuard);

    FirState state;
    EXPECT_EQ(state.init(nullptr, 4), 2);
    EXPECT_FALSE(state.ready());
    const std::vector<float> h = randomSignal(16, 72);
    ASSERT_EQ(state.init(h.data(), 16), 0);
    y.assign(104, kGuard);
    state.filter(x.data(), y.data(), 0);
    EXPECT_EQ(y[0], kGuard);
    EXPECT_EQ(state.filterDecimated(x.data(), 100, 0, 0, y.data()), 0u); // step 0: nothing kept
    EXPECT_EQ(state.filterDecimated(x.data(), 100, 100, 3, y.data()), 0u);
    EXPECT_EQ(y[0], kGuard);
    EXPECT_EQ(state.filterStuffed(x.data(), 10, 0, 0, 1.0f, y.data(), 100), 0u);
    EXPECT_EQ(y[100], kGuard);
    EXPECT_EQ(state.filterStuffed(x.data(), 0, 0, 3, 1.0f, y.data(), 0), 0u);

    // A failed init leaves the working state alone.
    EXPECT_EQ(state.init(nullptr, 8), 2);
    EXPECT_TRUE(state.ready());
    EXPECT_EQ(state.tapCount(), 16u);
    state.release();
    EXPECT_FALSE(state.ready());
}

} // namespace
