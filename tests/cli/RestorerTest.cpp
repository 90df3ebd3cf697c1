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
    for (int rate : {8000, 11025, 22050, 32000, 44100, 48000, 64000, 88200, 96000, 16000}) {
        EXPECT_NEAR(residualDelay(rate, 440.0), 0.0, 0.01) << rate;
    }
}

TEST(Restorer, ImpulseComesOutAtItsOwnFrame) {
    struct Case {
        int rate;
        int channels;
        const char* stage; // switched on, or null
    };
    for (const Case& c : {Case{44100, 2, nullptr}, Case{48000, 1, nullptr}, Case{22050, 2, nullptr},
                          Case{96000, 2, nullptr}, Case{16000, 1, nullptr}, Case{8000, 1, nullptr},
                          Case{11025, 2, nullptr}, Case{44100, 2, "random-noise"},
                          Case{22050, 1, "random-noise"}}) {
        Settings settings;
        if (c.stage != nullptr) {
            settings.apply(c.stage, "on");
        }
        Restorer restorer(settings, c.rate, c.channels);
        const std::size_t width = static_cast<std::size_t>(c.channels);
        const std::size_t frames = static_cast<std::size_t>(restorer.latency()) * 3 + 5000;
        for (std::size_t at : {frames / 2, frames / 2 + 1, frames / 2 + 2}) {
            Restorer fresh(settings, c.rate, c.channels);
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
                EXPECT_EQ(peak, at) << c.rate << " Hz, channel " << ch;
            }
        }
    }
}

TEST(Restorer, EverythingOffPassesThePassBandUnchangedAndRemovesNothing) {
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
        ASSERT_EQ(residue, std::vector<float>(frames, 0.0f)) << rate;
        double error = 0.0;
        double power = 0.0;
        for (std::size_t n = frames / 3; n < frames - frames / 3; ++n) {
            error += (static_cast<double>(in[n]) - out[n]) * (static_cast<double>(in[n]) - out[n]);
            power += static_cast<double>(in[n]) * in[n];
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

// A voice (a glottal pulse train at 190 ... 250 Hz through three formants, syllable by
// syllable, without the pulses' DC, which no microphone passes), mono. A voice in that range
// passes the 200 Hz high-pass nearly whole: what the residue holds of it is what the reference
// gets wrong (half a sample off leaves about -14 dB of it).
std::vector<float> voice(int rate, std::size_t frames) {
    constexpr double kFormants[][3] = {
        {730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480}, {570, 840, 2410}};
    std::vector<float> x(frames, 0.0f);
    double phase = 0.0;
    double tilt = 0.0;
    double state[3][2] = {};
    double previous = 0.0;
    double blocked = 0.0;
    const std::size_t syllable = static_cast<std::size_t>(rate) / 4;
    for (std::size_t n = 0; n < frames; ++n) {
        const std::size_t s = n / syllable;
        const double t = static_cast<double>(n % syllable) / static_cast<double>(syllable);
        phase += (190.0 + 60.0 * t * static_cast<double>(s % 2)) / rate;
        const double pulse = phase >= 1.0 ? 1.0 : 0.0;
        phase -= pulse;
        tilt = 0.9 * tilt + pulse;
        double y = 0.0;
        for (int f = 0; f < 3; ++f) {
            const double hz = kFormants[s % 4][f];
            const double r = std::exp(-std::numbers::pi * (90.0 + 40.0 * f) / rate);
            const double a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * hz / rate);
            const double out = (1.0 - r) * tilt + a1 * state[f][0] - r * r * state[f][1];
            state[f][1] = state[f][0];
            state[f][0] = out;
            y += out / (1 << f);
        }
        y *= std::pow(std::sin(std::numbers::pi * t), 0.6);
        blocked = y - previous + 0.999 * blocked;
        previous = y;
        x[n] = static_cast<float>(0.3 * blocked);
    }
    return x;
}

// A low rumble: noise through two one-pole low-passes at 40 Hz.
std::vector<float> rumble(int rate, std::size_t frames) {
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<float> x(frames);
    const double a = std::exp(-2.0 * std::numbers::pi * 40.0 / rate);
    double y1 = 0.0;
    double y2 = 0.0;
    for (float& value : x) {
        y1 = a * y1 + (1.0 - a) * noise(random);
        y2 = a * y2 + (1.0 - a) * y1;
        value = static_cast<float>(2.0 * y2);
    }
    return x;
}

double energy(const std::vector<float>& x, std::size_t from) {
    double sum = 0.0;
    for (std::size_t n = from; n < x.size(); ++n) {
        sum += static_cast<double>(x[n]) * x[n];
    }
    return sum;
}

TEST(Restorer, TheResidueOfTheHighPassHoldsTheRumbleNotTheVoice) {
    for (int rate : {44100, 48000}) {
        Settings highPass;
        highPass.apply("high-pass", "on");
        const std::size_t frames = 8 * static_cast<std::size_t>(rate);
        const std::vector<float> speech = voice(rate, frames);
        const std::vector<float> low = rumble(rate, frames);
        std::vector<float> mixed(frames);
        for (std::size_t n = 0; n < frames; ++n) {
            mixed[n] = speech[n] + low[n];
        }
        // The chain with the high-pass alone is linear: the residue of the mixture is that of
        // the voice plus that of the rumble.
        std::vector<float> residue[3];
        const std::vector<float>* inputs[3] = {&speech, &low, &mixed};
        for (int i = 0; i < 3; ++i) {
            Restorer restorer(highPass, rate, 1);
            restorer.process(*inputs[i], &residue[i]);
        }
        const std::size_t from = frames / 8;
        const double voiceShare =
            10.0 * std::log10(energy(residue[0], from) / energy(residue[2], from));
        const double rumbleKept = 10.0 * std::log10(energy(residue[1], from) / energy(low, from));
        EXPECT_LT(voiceShare, -20.0) << rate; // -28.9 dB at 44.1 kHz
        EXPECT_GT(rumbleKept, -3.0) << rate;  // -1.8 dB: all but its lowest few hertz
    }
}

TEST(Restorer, TheResidueLeavesTheLevelStagesOut) {
    // The gain stages change the output's level, not what is removed: with them on, the
    // residue is the one of the same setting without them, bit for bit.
    const int rate = 32000;
    const std::vector<float> in = noiseAndTones(static_cast<std::size_t>(rate) * 3, 2, rate, 9);
    Settings filtering;
    for (const char* name : {"high-pass", "hum-filter", "random-noise", "predictable-noise"}) {
        filtering.apply(name, "on");
    }
    Settings levelled = filtering;
    levelled.apply("auto-normalize", "on");
    levelled.apply("auto-gain", "on");
    levelled.apply("max-gain", "20dB");
    std::vector<float> plain;
    std::vector<float> withLevel;
    Restorer plainRestorer(filtering, rate, 2);
    const std::vector<float> plainOut = plainRestorer.process(in, &plain);
    Restorer levelRestorer(levelled, rate, 2);
    const std::vector<float> levelOut = levelRestorer.process(in, &withLevel);
    EXPECT_TRUE(levelRestorer.residueNeedsOwnChain());
    EXPECT_TRUE(plain == withLevel);
    EXPECT_FALSE(plainOut == levelOut); // the level stages did change the output
    EXPECT_GT(energy(plain, 0), 1.0);
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
    EXPECT_THROW(Restorer(Settings{}, 44100, 0), std::invalid_argument);
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
