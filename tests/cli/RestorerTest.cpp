// The chain run offline: alignment, length, pass-through, residue and independence from the
// host call pattern.
#include "cli/Restorer.h"

#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using cli::Restorer;
using cli::Settings;

std::vector<float> noiseAndTones(std::size_t frames, int channels, int rate, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> x(frames * static_cast<std::size_t>(channels));
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double voice = 0.2 * std::sin(2.0 * std::numbers::pi * 440.0 * t) *
                             (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.0 * t));
        const double hum = 0.05 * std::sin(2.0 * std::numbers::pi * 60.0 * t);
        for (int c = 0; c < channels; ++c) {
            x[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(voice + hum) + noise(random);
        }
    }
    return x;
}

Settings everyStage() {
    Settings s;
    for (const char* name : {"auto-normalize", "high-pass", "hum-filter", "hum-auto-track",
                             "predictable-noise", "random-noise", "equalizer", "auto-gain"}) {
        s.apply(name, "on");
    }
    s.apply("eq-preset", "low-cut");
    return s;
}

// Delay of the output behind the input at a tone's frequency, in frames (fractional), from the
// phases of the two at that frequency.
double residualDelay(int rate, double hz) {
    Restorer restorer(Settings{}, rate, 1);
    const std::size_t frames = static_cast<std::size_t>(rate) * 2;
    std::vector<float> in(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        in[n] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * hz * n / rate));
    }
    const std::vector<float> out = restorer.process(in);
    double inRe = 0.0, inIm = 0.0, outRe = 0.0, outIm = 0.0;
    for (std::size_t n = frames / 4; n < frames - frames / 4; ++n) {
        const double w = 2.0 * std::numbers::pi * hz * static_cast<double>(n) / rate;
        inRe += in[n] * std::cos(w);
        inIm -= in[n] * std::sin(w);
        outRe += out[n] * std::cos(w);
        outIm -= out[n] * std::sin(w);
    }
    double phase = std::atan2(outIm, outRe) - std::atan2(inIm, inRe);
    phase = std::remainder(phase, 2.0 * std::numbers::pi);
    return -phase * rate / (2.0 * std::numbers::pi * hz);
}

TEST(Restorer, OutputLinesUpWithTheInput) {
    // Whole-frame delays in every row but 8000 and 11025, where the resampling filters delay
    // by half a frame: the output then lies half a frame after the input, never before it.
    for (int rate : {8000, 11025, 22050, 32000, 44100, 48000, 64000, 88200, 96000, 16000}) {
        const double expected = rate == 8000 || rate == 11025 ? 0.5 : 0.0;
        EXPECT_NEAR(residualDelay(rate, 440.0), expected, 0.01) << rate;
    }
}

TEST(Restorer, ImpulseComesOutAtItsOwnFrame) {
    struct Case {
        int rate;
        int channels;
    };
    for (const Case& c : {Case{44100, 2}, Case{48000, 1}, Case{22050, 2}, Case{96000, 2},
                          Case{16000, 1}, Case{8000, 1}}) {
        Restorer restorer(Settings{}, c.rate, c.channels);
        const std::size_t width = static_cast<std::size_t>(c.channels);
        const std::size_t frames = static_cast<std::size_t>(restorer.latency()) * 3 + 5000;
        for (std::size_t at : {frames / 2, frames / 2 + 1, frames / 2 + 2}) {
            Restorer fresh(Settings{}, c.rate, c.channels);
            std::vector<float> in(frames * width, 0.0f);
            for (std::size_t ch = 0; ch < width; ++ch) {
                in[at * width + ch] = 0.5f;
            }
            const std::vector<float> out = fresh.process(in);
            ASSERT_EQ(out.size(), in.size()) << c.rate;
            for (std::size_t ch = 0; ch < width; ++ch) {
                std::size_t peak = 0;
                for (std::size_t n = 0; n < frames; ++n) {
                    if (std::fabs(out[n * width + ch]) > std::fabs(out[peak * width + ch])) {
                        peak = n;
                    }
                }
                if (c.rate == 8000) {
                    // Half a frame late: the two frames around it carry the peak.
                    EXPECT_TRUE(peak == at || peak == at + 1) << peak << " for " << at;
                    EXPECT_NEAR(out[at * width + ch], out[(at + 1) * width + ch], 0.01f);
                } else {
                    EXPECT_EQ(peak, at) << c.rate << " Hz, channel " << ch;
                }
            }
        }
    }
}

TEST(Restorer, EverythingOffPassesThePassBandUnchanged) {
    // Tones well inside the resamplers' pass band (internal rate 14.7 or 16 kHz); at a rate
    // outside the table nothing is resampled and the output is the input itself.
    for (int rate : {22050, 44100, 48000, 96000, 16000}) {
        Restorer restorer(Settings{}, rate, 1);
        const std::size_t frames = 3 * static_cast<std::size_t>(rate);
        std::vector<float> in(frames);
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / rate;
            in[n] = static_cast<float>(0.4 * std::sin(2.0 * std::numbers::pi * 1000.0 * t) +
                                       0.2 * std::sin(2.0 * std::numbers::pi * 4321.0 * t));
        }
        std::vector<float> residue;
        const std::vector<float> out = restorer.process(in, &residue);
        ASSERT_EQ(out.size(), frames);
        ASSERT_EQ(residue.size(), frames);
        double error = 0.0;
        double power = 0.0;
        for (std::size_t n = frames / 3; n < frames - frames / 3; ++n) {
            error += static_cast<double>(residue[n]) * residue[n];
            power += static_cast<double>(in[n]) * in[n];
            ASSERT_EQ(residue[n], in[n] - out[n]);
        }
        if (rate == 16000) {
            EXPECT_EQ(error, 0.0);
        } else {
            // The factor-6 resampling filters (88.2 and 96 kHz) ripple by about 0.2 dB.
            const double bound = rate >= 88200 ? -30.0 : -40.0;
            EXPECT_LT(10.0 * std::log10(error / power), bound) << rate;
        }
    }
}

TEST(Restorer, SameBitsWhateverTheCallPattern) {
    const int rate = 44100;
    const std::vector<float> in = noiseAndTones(static_cast<std::size_t>(rate) * 2, 2, rate, 7);
    std::vector<float> reference;
    for (const std::vector<int>& pattern :
         std::vector<std::vector<int>>{{4096}, {1, 7, 333}, {512, 1000, 37}, {6144}, {20000}}) {
        Restorer restorer(everyStage(), rate, 2);
        restorer.setBlockPattern(pattern);
        const std::vector<float> out = restorer.process(in);
        ASSERT_EQ(out.size(), in.size());
        if (reference.empty()) {
            reference = out;
            continue;
        }
        EXPECT_TRUE(out == reference) << "pattern starting " << pattern[0];
    }
    // And the chain did something.
    double difference = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        difference += std::fabs(in[i] - reference[i]);
    }
    EXPECT_GT(difference, 1.0);
}

TEST(Restorer, ShortAndEmptyInputs) {
    Restorer restorer(everyStage(), 22050, 1);
    EXPECT_TRUE(restorer.process({}).empty());
    const std::vector<float> one = {0.25f};
    EXPECT_EQ(restorer.process(one).size(), 1u);
    EXPECT_THROW(Restorer(Settings{}, 44100, 3), std::invalid_argument);
}

TEST(Restorer, SettingsReachThePlugin) {
    Settings s;
    s.apply("hum-frequency", "50Hz");
    s.apply("max-gain", "12dB");
    s.apply("eq", "240=-6dB");
    Restorer restorer(s, 44100, 2);
    EXPECT_NEAR(restorer.plugin().humDetector(0).frequency, 50.0f, 1e-4f);
    EXPECT_NEAR(20.0f * std::log10(restorer.plugin().maxGainLinearValue()), 12.0f, 1e-4f);
    EXPECT_NEAR(20.0f * std::log10(restorer.plugin().bandGain(1)), -6.0f, 1e-4f);
    EXPECT_EQ(restorer.latency(), 14188);
}

} // namespace
