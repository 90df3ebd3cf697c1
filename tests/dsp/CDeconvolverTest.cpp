// The predictable-noise reduction stage, measured on signals at 14 700 Hz.
#include "dsp/CDeconvolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr double kRate = 14700.0;
constexpr double kPi = 3.14159265358979323846;

struct Model {
    unsigned order;
    unsigned delay;
};
constexpr Model kShort{128, 3};
constexpr Model kReverb{1024, 1};

// The recurrence written out directly: one sample at a time, the prediction summed from k = 0
// upward in Sum (float, or double rounded once to float at the end).
template <class Sum>
struct Reference {
    float step = 1.2207031e-6f, power = 1.0f, amount = 1.0f;
    std::vector<float> h = std::vector<float>(1024, 0.0f), history;
    bool clear = true;

    std::vector<float> process(const std::vector<float>& in, Model m) {
        const unsigned span = m.delay + m.order;
        if (clear || history.size() != span) {
            history.assign(span, 0.0f);
        }
        clear = false;
        std::vector<float> x = history, out(in.size());
        x.insert(x.end(), in.begin(), in.end());
        for (size_t i = 0; i < in.size(); ++i) {
            const float* past = &x[i + span - m.delay]; // past[-k] = x[n - D - k]
            Sum sum = 0;
            for (unsigned k = 0; k < m.order; ++k) {
                sum += Sum(h[k]) * Sum(past[-int(k)]);
            }
            const float prediction = float(sum), e = x[i + span] - prediction;
            const float decayed = 0.999375f * power;
            power = decayed + 0.000625f * (x[i + span] * x[i + span]);
            step = std::min(1.2207031e-6f / std::max(power, 1e-9f), 1.0f);
            for (unsigned k = 0; k < m.order; ++k) {
                h[k] = std::clamp(h[k] + 2.0f * step * e * past[-int(k)], -1.0f, 1.0f);
            }
            out[i] = e + (1.0f - amount) * prediction;
        }
        history.assign(x.end() - span, x.end());
        return out;
    }
};

std::vector<float> run(CDeconvolver& d, const std::vector<float>& in, Model m, unsigned block) {
    d.order = m.order;
    d.delay = m.delay;
    std::vector<float> out(in.size());
    for (size_t at = 0; at < in.size(); at += block) {
        const unsigned n = unsigned(std::min<size_t>(block, in.size() - at));
        unsigned produced = 0;
        EXPECT_EQ(d.process(in.data() + at, out.data() + at, n, &produced), 0);
        EXPECT_EQ(produced, n);
    }
    return out;
}

std::vector<float> sine(double hz, float amplitude, size_t n) {
    std::vector<float> s(n);
    for (size_t i = 0; i < n; ++i) {
        s[i] = amplitude * float(std::sin(2.0 * kPi * hz * double(i) / kRate));
    }
    return s;
}

std::vector<float> noise(float rms, size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> dist(0.0f, rms);
    std::vector<float> s(n);
    for (float& v : s) {
        v = dist(gen);
    }
    return s;
}

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] += b[i];
    }
    return a;
}

// RMS level in dB (full scale 1.0) of s[from, to).
double levelDb(const std::vector<float>& s, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) {
        sum += double(s[i]) * s[i];
    }
    return 10.0 * std::log10(sum / double(to - from) + 1e-300);
}

// Level of the tone at hz in s[from, to), by projection on sine and cosine (dB RMS), and the
// level of what remains after removing it.
std::pair<double, double> toneAndRest(const std::vector<float>& s, double hz, size_t from,
                                      size_t to) {
    double c = 0.0, q = 0.0;
    for (size_t i = from; i < to; ++i) {
        c += s[i] * std::cos(2.0 * kPi * hz * double(i) / kRate);
        q += s[i] * std::sin(2.0 * kPi * hz * double(i) / kRate);
    }
    c *= 2.0 / double(to - from);
    q *= 2.0 / double(to - from);
    std::vector<float> rest(s.begin() + long(from), s.begin() + long(to));
    for (size_t i = from; i < to; ++i) {
        const double w = 2.0 * kPi * hz * double(i) / kRate;
        rest[i - from] -= float(c * std::cos(w) + q * std::sin(w));
    }
    return {10.0 * std::log10((c * c + q * q) / 2.0 + 1e-300), levelDb(rest, 0, rest.size())};
}

TEST(CDeconvolver, FollowsTheRecurrenceWithinSinglePrecisionRounding) {
    const std::vector<float> in = sine(1000.0, 0.25f, 2048 * 4) + noise(0.05f, 2048 * 4, 1);
    CDeconvolver d;
    Reference<float> plain;
    Reference<double> wide;
    // Both models, switched between blocks, with a partial amount in the last ones.
    const Model models[] = {kReverb, kReverb, kShort, kShort, kReverb};
    for (int b = 0; b < 5; ++b) {
        const float amount = b < 3 ? 1.0f : 0.3f;
        d.amount = plain.amount = wide.amount = amount;
        const std::vector<float> part(in.begin() + (b % 4) * 2048, in.begin() + (b % 4 + 1) * 2048);
        const std::vector<float> out = run(d, part, models[b], 2048);
        const std::vector<float> a = plain.process(part, models[b]);
        const std::vector<float> w = wide.process(part, models[b]);
        double worst = 0.0, worstWide = 0.0;
        for (size_t i = 0; i < out.size(); ++i) {
            worst = std::max(worst, double(std::fabs(out[i] - a[i])));
            worstWide = std::max(worstWide, double(std::fabs(out[i] - w[i])));
        }
        EXPECT_LT(worst, 2e-6) << "block " << b;
        EXPECT_LT(worstWide, 2e-6) << "block " << b;
        // The power and the step do not depend on the summation order.
        EXPECT_EQ(d.powerEstimate(), plain.power);
        EXPECT_EQ(d.step, plain.step);
        for (unsigned k = 0; k < 1024; ++k) {
            ASSERT_NEAR(d.coefficient(k), plain.h[k], 1e-6) << "block " << b << " tap " << k;
        }
        // A model change zeroes the history: the first D outputs are the input itself.
        if (b == 2 || b == 4) {
            for (unsigned i = 0; i < models[b].delay; ++i) {
                EXPECT_EQ(out[i], part[i]);
            }
        }
    }
}

TEST(CDeconvolver, KernelsAndBlockSizesGiveBitIdenticalOutput) {
    std::vector<float> in = sine(440.0, 0.3f, 9000) + noise(0.1f, 9000, 2);
    in[4000] = 3e38f; // restarts the model and then drives coefficients into the clamp
    // Negative zeros: predictions and lane sums of zeros with either sign.
    std::fill(in.begin() + 7000, in.begin() + 8200, -0.0f);
    for (const Model m : {kReverb, kShort, Model{37, 0}, Model{21, 5}}) {
        CDeconvolver base;
        base.selectKernel(CDeconvolver::Kernel::Plain);
        const std::vector<float> expected = run(base, in, m, 9000);
        for (const auto k : {CDeconvolver::Kernel::Plain, CDeconvolver::Kernel::Sse2,
                             CDeconvolver::Kernel::Avx, CDeconvolver::Kernel::Avx512}) {
            if (!CDeconvolver::kernelAvailable(k)) {
                continue;
            }
            for (const unsigned block : {2048u, 1u, 7u, 333u, 1500u}) {
                CDeconvolver d;
                ASSERT_TRUE(d.selectKernel(k));
                const std::vector<float> out = run(d, in, m, block);
                ASSERT_EQ(0, std::memcmp(out.data(), expected.data(), out.size() * 4))
                    << "order " << m.order << " kernel " << int(k) << " block " << block;
            }
        }
    }
}

TEST(CDeconvolver, AmountZeroKeepsTheSignalAndAmountOneLeavesTheError) {
    const size_t n = size_t(3 * kRate);
    const std::vector<float> in = sine(700.0, 0.5f, n) + noise(0.05f, n, 3);
    CDeconvolver keep, remove;
    keep.amount = 0.0f;
    remove.amount = 1.0f;
    const std::vector<float> kept = run(keep, in, kShort, 2048);
    const std::vector<float> removed = run(remove, in, kShort, 2048);
    for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_NEAR(kept[i], in[i], 2e-7f) << i;
    }
    // The amount leaves the adaptation alone: both predictors hold the same coefficients.
    for (unsigned k = 0; k < 128; ++k) {
        EXPECT_EQ(keep.coefficient(k), remove.coefficient(k));
    }
    EXPECT_NE(keep.coefficient(0), 0.0f);
    // The tone goes; the noise 17 dB below it stays.
    EXPECT_LT(levelDb(removed, n - 4000, n), levelDb(in, n - 4000, n) - 15.0);
}

TEST(CDeconvolver, FadesASteadySineAndPassesAddedNoise) {
    const size_t n = size_t(8 * kRate), from = size_t(6 * kRate);
    const std::vector<float> tone = sine(1000.0, 0.25f, n), toneInNoise = tone + noise(0.01f, n, 7);
    const auto [toneIn, restIn] = toneAndRest(toneInNoise, 1000.0, from, n);
    for (const auto& [m, expectedDb] : {std::pair{kShort, -83.0}, std::pair{kReverb, -107.0}}) {
        CDeconvolver d, w;
        const double faded = levelDb(run(d, tone, m, 2048), from, n) - levelDb(tone, 0, n);
        const auto [toneOut, restOut] = toneAndRest(run(w, toneInNoise, m, 2048), 1000.0, from, n);
        std::printf("[ measured ] order %u: sine alone %.1f dB; in noise: tone %+.1f dB, noise "
                    "%+.3f dB (last 2 s of 8)\n",
                    m.order, faded, toneOut - toneIn, restOut - restIn);
        EXPECT_NEAR(faded, expectedDb, 1.5) << "order " << m.order;
        EXPECT_LT(toneOut - toneIn, -60.0) << "order " << m.order;
        EXPECT_LT(std::fabs(restOut - restIn), 0.1) << "order " << m.order;
    }
}

TEST(CDeconvolver, SilenceLeavesTheCoefficientsAloneAndStaysSilent) {
    CDeconvolver d;
    run(d, sine(1000.0, 0.25f, 8192), kShort, 2048);
    run(d, std::vector<float>(2048, 0.0f), kShort, 2048); // the history empties
    std::vector<float> h(128);
    for (unsigned k = 0; k < 128; ++k) {
        h[k] = d.coefficient(k);
    }
    const std::vector<float> out = run(d, std::vector<float>(30000, 0.0f), kShort, 2048);
    for (const float v : out) {
        ASSERT_EQ(v, 0.0f);
    }
    for (unsigned k = 0; k < 128; ++k) {
        EXPECT_EQ(d.coefficient(k), h[k]);
    }
    EXPECT_LT(d.powerEstimate(), 1.3e-6f);
    EXPECT_EQ(d.step, 1.0f);
}

TEST(CDeconvolver, NonFiniteAndHugeInputLeaveNoTrace) {
    std::vector<float> in = sine(1000.0, 0.25f, 6 * 2048) + noise(0.01f, 6 * 2048, 5);
    std::vector<float> zeroed = in;
    const float inf = std::numeric_limits<float>::infinity();
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf};
    for (int i = 0; i < 3; ++i) {
        in[3000 + 500 * i] = bad[i];
        zeroed[3000 + 500 * i] = 0.0f;
    }
    CDeconvolver a, b;
    const std::vector<float> out = run(a, in, kReverb, 2048), ref = run(b, zeroed, kReverb, 2048);
    EXPECT_EQ(0, std::memcmp(out.data(), ref.data(), out.size() * 4));

    // Finite but absurd samples push the state out of range once; the model starts afresh.
    in = sine(1000.0, 0.25f, size_t(6 * kRate));
    in[2000] = 1e20f;
    in[2001] = -3e38f;
    in[2002] = 3e38f;
    CDeconvolver c;
    const std::vector<float> after = run(c, in, kShort, 2048);
    for (size_t i = 2003; i < after.size(); ++i) {
        ASSERT_TRUE(std::isfinite(after[i])) << i;
    }
    EXPECT_TRUE(std::isfinite(c.powerEstimate()));
    EXPECT_LT(levelDb(after, in.size() - 14700, in.size()), levelDb(in, 0, 14700) - 50.0);
}

TEST(CDeconvolver, BadArgumentsAreRefusedOrBounded) {
    CDeconvolver d;
    float buffer[4] = {1, 2, 3, 4};
    unsigned produced = 99;
    EXPECT_EQ(d.process(nullptr, buffer, 4, &produced), 2);
    EXPECT_EQ(d.process(buffer, nullptr, 4, &produced), 2);
    EXPECT_EQ(d.process(buffer, buffer, 4, nullptr), 2);
    EXPECT_EQ(produced, 99u);
    EXPECT_EQ(d.process(buffer, buffer, 0, &produced), 0);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(buffer[3], 4.0f);

    // Oversized settings work as the largest ones.
    const std::vector<float> in = noise(0.2f, 5000, 6) + sine(300.0, 0.2f, 5000);
    CDeconvolver big, bounded;
    const std::vector<float> a = run(big, in, Model{5000, 100000}, 2048);
    const std::vector<float> b = run(bounded, in, Model{1024, 1024}, 2048);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * 4));
}

// Figures for the record: reverberant signals, and the cost per sample.
} // namespace
