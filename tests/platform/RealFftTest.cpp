#include "platform/RealFft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <numbers>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using platform::PortableRealFft;
using platform::RealFft;

namespace {

std::vector<float> randomSignal(unsigned n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x) {
        v = dist(rng);
    }
    return x;
}

// Direct DFT in double precision, in halfcomplex order.
std::vector<double> referenceForward(const std::vector<float>& x) {
    const std::size_t n = x.size();
    std::vector<double> out(n, 0.0);
    for (std::size_t k = 0; 2 * k <= n; ++k) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const double phase =
                -2.0 * std::numbers::pi * static_cast<double>((j * k) % n) / static_cast<double>(n);
            re += x[j] * std::cos(phase);
            im += x[j] * std::sin(phase);
        }
        out[k] = re;
        if (k > 0 && 2 * k < n) {
            out[n - k] = im;
        }
    }
    return out;
}

// Root-mean-square difference relative to the root-mean-square of the reference.
double relativeError(const std::vector<float>& got, const std::vector<double>& want) {
    double err = 0.0;
    double ref = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        err += (got[i] - want[i]) * (got[i] - want[i]);
        ref += want[i] * want[i];
    }
    return std::sqrt(err / ref);
}

template <class Fft>
void checkAgainstReference(unsigned n) {
    SCOPED_TRACE(n);
    Fft fft(n);
    ASSERT_EQ(fft.size(), n);
    const std::vector<float> x = randomSignal(n, n);
    std::vector<float> spectrum(n);
    fft.forward(x.data(), spectrum.data());
    EXPECT_LT(relativeError(spectrum, referenceForward(x)), 1e-6);

    // The inverse, given a correct forward transform, is pinned down by the round trip.
    std::vector<float> back(n);
    fft.backward(spectrum.data(), back.data());
    std::vector<double> scaled(x.begin(), x.end());
    for (double& v : scaled) {
        v *= n;
    }
    EXPECT_LT(relativeError(back, scaled), 1e-6);
}

const unsigned kLengths[] = {1, 2, 3, 4, 5, 6, 8, 12, 15, 16, 26, 47, 64, 94, 97, 210, 611, 1222};

} // namespace

TEST(RealFft, BothEnginesMatchADirectDftForEvenOddPrimeAndMixedLengths) {
    for (unsigned n : kLengths) {
        checkAgainstReference<PortableRealFft>(n);
        checkAgainstReference<RealFft>(n);
    }
    checkAgainstReference<PortableRealFft>(2048);
    checkAgainstReference<RealFft>(2048);
}

TEST(RealFft, HalfcomplexLayoutAndSigns) {
    // cos at bin 5 gives +n/2 in r5; sin at bin 7 gives -n/2 in i7 (stored at n - 7).
    const unsigned n = 1222;
    std::vector<float> x(n);
    for (unsigned j = 0; j < n; ++j) {
        const double t = 2.0 * std::numbers::pi * j / n;
        x[j] = static_cast<float>(std::cos(5 * t) + std::sin(7 * t) + 0.25);
    }
    for (int engine = 0; engine < 2; ++engine) {
        std::vector<float> h(n);
        if (engine == 0) {
            PortableRealFft(n).forward(x.data(), h.data());
        } else {
            RealFft(n).forward(x.data(), h.data());
        }
        EXPECT_NEAR(h[0], 0.25 * n, 1e-2);
        EXPECT_NEAR(h[5], n / 2.0, 1e-2);
        EXPECT_NEAR(h[n - 5], 0.0, 1e-2);
        EXPECT_NEAR(h[7], 0.0, 1e-2);
        EXPECT_NEAR(h[n - 7], -(n / 2.0), 1e-2);
        EXPECT_NEAR(h[n / 2], 0.0, 1e-2);
    }
}

TEST(RealFft, PortableAgreesWithTheBuildEngineWithinSinglePrecision) {
    const unsigned n = 1222;
    PortableRealFft portable(n);
    RealFft engine(n);
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::vector<float> x = randomSignal(n, seed);
        std::vector<float> a(n);
        std::vector<float> b(n);
        portable.forward(x.data(), a.data());
        engine.forward(x.data(), b.data());
        EXPECT_LT(relativeError(a, std::vector<double>(b.begin(), b.end())), 1e-6);
        std::vector<float> ia(n);
        std::vector<float> ib(n);
        portable.backward(a.data(), ia.data());
        engine.backward(a.data(), ib.data());
        EXPECT_LT(relativeError(ia, std::vector<double>(ib.begin(), ib.end())), 1e-6);
    }
    std::cout << "[ info ] RealFft engine: " << RealFft::engineName() << "\n";
}

TEST(RealFft, AnyAlignmentAndTheSameArrayGiveIdenticalResultsAndInputIsKept) {
    const unsigned n = 1222;
    RealFft fft(n);
    const std::vector<float> x = randomSignal(n, 7);
    std::vector<float> want(n);
    fft.forward(x.data(), want.data());
    std::vector<float> wantBack(n);
    fft.backward(want.data(), wantBack.data());

    // Arrays shifted by 1 .. 3 floats from the vector's start, and in == out.
    std::vector<float> in(n + 8);
    std::vector<float> out(n + 8);
    for (unsigned shift = 0; shift < 4; ++shift) {
        std::copy(x.begin(), x.end(), in.begin() + shift);
        fft.forward(in.data() + shift, out.data() + 3 - shift);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + 3 - shift)) << shift;
        EXPECT_TRUE(std::equal(x.begin(), x.end(), in.begin() + shift));

        std::copy(want.begin(), want.end(), in.begin() + shift);
        fft.backward(in.data() + shift, out.data() + shift);
        EXPECT_TRUE(std::equal(wantBack.begin(), wantBack.end(), out.begin() + shift)) << shift;
        EXPECT_TRUE(std::equal(want.begin(), want.end(), in.begin() + shift));

        fft.backward(in.data() + shift, in.data() + shift);
        EXPECT_TRUE(std::equal(wantBack.begin(), wantBack.end(), in.begin() + shift)) << shift;
    }
    std::vector<float> same = x;
    PortableRealFft portable(n);
    std::vector<float> portableWant(n);
    portable.forward(x.data(), portableWant.data());
    portable.forward(same.data(), same.data());
    EXPECT_EQ(same, portableWant);
}

TEST(RealFft, ComplexLayoutHoldsTheSameSpectrumAtAnyAlignment) {
    for (unsigned n : {1u, 2u, 15u, 16u, 1222u}) {
        SCOPED_TRACE(n);
        RealFft fft(n);
        ASSERT_EQ(fft.complexSize(), 2 * (n / 2 + 1));
        const std::vector<float> x = randomSignal(n, n + 1);
        std::vector<float> half(n);
        fft.forward(x.data(), half.data());
        std::vector<float> halfBack(n);
        fft.backward(half.data(), halfBack.data());

        std::vector<float> in(n + 4);
        std::vector<float> spectrum(fft.complexSize() + 4);
        std::vector<float> out(n + 4);
        for (unsigned shift = 0; shift < 4; ++shift) {
            std::copy(x.begin(), x.end(), in.begin() + shift);
            float* const s = spectrum.data() + 3 - shift;
            fft.forwardComplex(in.data() + shift, s);
            EXPECT_TRUE(std::equal(x.begin(), x.end(), in.begin() + shift));
            std::vector<float> reordered(n);
            platform::complexToHalfcomplex(s, reordered.data(), n);
            EXPECT_EQ(reordered, half) << shift;
            EXPECT_EQ(s[1], 0.0f);
            if (n % 2 == 0) {
                EXPECT_EQ(s[n + 1], 0.0f);
            }
            // Imaginary parts at 0 and n/2 are not part of a real signal's spectrum: ignored.
            s[1] = 5.0f;
            if (n % 2 == 0) {
                s[n + 1] = -5.0f;
            }
            fft.backwardComplex(s, out.data() + shift);
            EXPECT_TRUE(std::equal(halfBack.begin(), halfBack.end(), out.begin() + shift)) << shift;
        }
    }
}

TEST(RealFft, OddPairTransformMatchesADirectDftWithTheSameBitsAtEveryVectorWidth) {
    EXPECT_FALSE(platform::OddPairRealFft::handles(1224)); // n / 2 even
    EXPECT_FALSE(platform::OddPairRealFft::handles(94));   // n / 2 prime
    EXPECT_FALSE(platform::OddPairRealFft::handles(2 * 3 * 67));
    EXPECT_THROW(platform::OddPairRealFft(2048), std::invalid_argument);
    // 18 and 30 have factors too short for the mirrored vector lanes; the rest use them.
    for (unsigned n : {18u, 30u, 210u, 1222u, 2u * 61u * 47u}) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(platform::OddPairRealFft::handles(n));
        platform::OddPairRealFft fft(n);
        const std::vector<float> x = randomSignal(n, n + 2);
        std::vector<float> spectrum(2 * (n / 2 + 1) + 1, 7.0f);
        std::vector<float> back(n + 1, 7.0f);
        ASSERT_TRUE(fft.useWidth(4));
        fft.forwardComplex(x.data(), spectrum.data());
        fft.backwardComplex(spectrum.data(), back.data());
        EXPECT_EQ(spectrum.back(), 7.0f); // nothing written past the end
        EXPECT_EQ(back.back(), 7.0f);

        std::vector<float> half(n);
        platform::complexToHalfcomplex(spectrum.data(), half.data(), n);
        EXPECT_LT(relativeError(half, referenceForward(x)), 1e-6);
        std::vector<double> scaled(x.begin(), x.end());
        for (double& v : scaled) {
            v *= n;
        }
        back.pop_back();
        EXPECT_LT(relativeError(back, scaled), 1e-6);

        for (unsigned width : {8u, 16u}) {
            if (!fft.useWidth(width)) {
                continue;
            }
            std::vector<float> s2(spectrum.size(), 7.0f);
            std::vector<float> b2(n);
            fft.forwardComplex(x.data(), s2.data());
            fft.backwardComplex(s2.data(), b2.data());
            EXPECT_EQ(0, std::memcmp(s2.data(), spectrum.data(), s2.size() * sizeof(float)))
                << width;
            EXPECT_EQ(0, std::memcmp(b2.data(), back.data(), n * sizeof(float))) << width;
        }
    }
}

TEST(RealFft, LengthZeroIsRejected) {
    EXPECT_THROW(RealFft(0), std::invalid_argument);
    EXPECT_THROW(PortableRealFft(0), std::invalid_argument);
}

TEST(RealFft, ObjectsCanBeMadeAndDestroyedFromSeveralThreadsAtOnce) {
    const unsigned n = 1222;
    const std::vector<float> x = randomSignal(n, 3);
    std::vector<float> want(n);
    RealFft(n).forward(x.data(), want.data());

    constexpr int kThreads = 4;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                RealFft a(n);
                RealFft b(round % 2 == 0 ? 1222 : 2048);
                std::vector<float> out(n);
                a.forward(x.data(), out.data());
                failures[t] += out == want ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int f : failures) {
        EXPECT_EQ(f, 0);
    }
}
