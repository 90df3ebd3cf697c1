#include "analyzer/NspRealFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr float kGuard = 12345.0f;

// Runs one transform into an output with a guard value after the n/2 bins, checking the guard.
std::vector<float> spectrumOf(NspRealFft& fft, const std::vector<float>& input, int count) {
    std::vector<float> out(fft.size() / 2 + 1, kGuard);
    fft.transform(count, input.data(), out.data());
    EXPECT_EQ(out.back(), kGuard) << "wrote past n/2 values";
    out.pop_back();
    return out;
}

// Amplitude * sin at the centre of bin k of an n-point transform.
std::vector<float> sine(int n, int k, double amplitude) {
    std::vector<float> x(n);
    for (int j = 0; j < n; ++j) {
        x[j] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * k * j / n));
    }
    return x;
}

const float kSilenceDb2048 = static_cast<float>(20.0 * std::log10(double(1e-9f / 2048.0f)));

} // namespace

TEST(NspRealFft, ExceptionsCarryTheirTextsAndHierarchy) {
    const NspRealFft::InvalidParameterValue invalid;
    const NspRealFft::MemoryAllocationErr memory(0, "more detail", "NspRealFft.cpp", 7);
    const Exceptions::BasicException& base = memory;
    EXPECT_STREQ(NspRealFft::NspRealFftErr().description(), "General NspRealFft error.");
    EXPECT_STREQ(invalid.what(), "Invalid paramter value for NspRealFft.  Must be power of 2.");
    EXPECT_EQ(base.report(), "Error allocating memory in NspRealFft.\nmore detail\n"
                             "Source File: NspRealFft.cpp\nLine Number: 7");
}

TEST(NspRealFft, TransformWithoutSizeOrPointersThrows) {
    NspRealFft fft;
    float x[4] = {};
    float out[2] = {};
    try {
        fft.transform(4, x, out);
        FAIL() << "transform without buffers did not throw";
    } catch (const NspRealFft::MemoryAllocationErr& e) {
        EXPECT_EQ(e.message(), "NspRealFft constructor failed allocating memory");
    }
    fft.setSize(4);
    EXPECT_THROW(fft.transform(4, nullptr, out), NspRealFft::NspRealFftErr);
    EXPECT_THROW(fft.transform(4, x, nullptr), NspRealFft::NspRealFftErr);
    EXPECT_NO_THROW(fft.transform(0, nullptr, out));
}

TEST(NspRealFft, InvalidSizesThrowAndKeepThePreviousSize) {
    NspRealFft fft;
    fft.window = 0;
    fft.setSize(64);
    for (const int bad : {1000, 0, -64, 3}) {
        EXPECT_THROW(fft.setSize(bad), NspRealFft::InvalidParameterValue) << bad;
    }
    EXPECT_EQ(fft.size(), 64);
    EXPECT_NEAR(spectrumOf(fft, sine(64, 5, 0.5), 64)[5], 0.5f, 1e-5f);

    // Order 0: accepted, and there are no bins to write.
    fft.setSize(1);
    EXPECT_EQ(fft.size(), 1);
    EXPECT_TRUE(spectrumOf(fft, {1.0f}, 1).empty());

    fft.setSize(2);
    const std::vector<float> two = spectrumOf(fft, {1.0f, 3.0f}, 2);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_FLOAT_EQ(two[0], 2.0f); // the mean, as for any n
}

TEST(NspRealFft, ShortBlocksAreZeroPaddedAndLongOnesCut) {
    NspRealFft fft;
    fft.setSize(256);
    std::vector<float> x = sine(256, 9, 0.8);
    for (int j = 0; j < 256; ++j) {
        x[j] += 0.01f * static_cast<float>(j % 7);
    }
    std::vector<float> padded(x.begin(), x.begin() + 100);
    padded.resize(256, 0.0f);
    EXPECT_EQ(spectrumOf(fft, x, 100), spectrumOf(fft, padded, 256));

    std::vector<float> longer = x;
    longer.resize(512, 1.0f);
    EXPECT_EQ(spectrumOf(fft, longer, 512), spectrumOf(fft, x, 256));

    // A negative count is an empty block: all zeros.
    EXPECT_EQ(spectrumOf(fft, x, -5), spectrumOf(fft, std::vector<float>(256, 0.0f), 256));
}

TEST(NspRealFft, SilenceAndRemovedDcReadTheFloor) {
    NspRealFft fft;
    fft.setSize(2048);
    fft.scale = 1;
    EXPECT_NEAR(kSilenceDb2048, -246.2f, 0.05f);
    for (const float v : spectrumOf(fft, std::vector<float>(2048, 0.0f), 2048)) {
        ASSERT_FLOAT_EQ(v, kSilenceDb2048);
    }

    const std::vector<float> offset(2048, 0.25f);
    fft.removeDC = true;
    EXPECT_FLOAT_EQ(spectrumOf(fft, offset, 2048)[0], kSilenceDb2048);
    fft.scale = 0;
    EXPECT_EQ(spectrumOf(fft, offset, 2048)[0], 0.0f);
    fft.removeDC = false;
    EXPECT_NEAR(spectrumOf(fft, offset, 2048)[0], 0.25f * 0.42f, 1e-6f); // Blackman's mean
}

TEST(NspRealFft, BinCentredSineReadsAmplitudeTimesWindowGain) {
    NspRealFft fft;
    fft.setSize(2048);
    fft.window = 0;
    const std::vector<float> linear = spectrumOf(fft, sine(2048, 100, 0.3), 2048);
    EXPECT_NEAR(linear[100], 0.3f, 1e-5f);
    EXPECT_LT(linear[99], 1e-5f);
    EXPECT_LT(linear[101], 1e-5f);

    fft.scale = 1;
    const std::vector<float> fullScale = sine(2048, 100, 1.0);
    const struct {
        int window;
        float db;
    } cases[] = {{0, 0.0f},
                 {NspRealFft::kWindowHamming, -5.352f},
                 {NspRealFft::kWindowHann, -6.021f},
                 {NspRealFft::kWindowBlackman, -7.535f},
                 {NspRealFft::kWindowBartlett, -6.021f}};
    for (const auto& c : cases) {
        fft.window = c.window;
        const std::vector<float> db = spectrumOf(fft, fullScale, 2048);
        EXPECT_NEAR(db[100], c.db, 0.005f) << "window " << c.window;
        EXPECT_LT(db[90], c.db - 60.0f) << "window " << c.window;
    }
}
