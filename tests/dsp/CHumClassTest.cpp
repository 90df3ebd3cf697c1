// The comb hum canceller measured as audio: notch depth at every harmonic, the level between
// harmonics, the 35-sample delay, where the delayed path lands for a given period, buffer
// rebuilding, continuity across blocks and recovery from non-finite input; and the responses of
// its generated tap tables.

#include "dsp/CHumClass.h"
#include "dsp/HumTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kTaps = taps::kHumTapCount;

std::complex<double> response(std::span<const float> h, double f) {
    const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f);
    std::complex<double> z = 1.0;
    std::complex<double> sum = 0.0;
    for (float tap : h) {
        sum += static_cast<double>(tap) * z;
        z *= step;
    }
    return sum;
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// Runs `input` through the canceller in blocks of `block` samples.
std::vector<float> run(CHumClass& hum, const std::vector<float>& input, unsigned block,
                       float frequency, float attenuationDb) {
    std::vector<float> output(input.size());
    for (std::size_t start = 0; start < input.size(); start += block) {
        const auto count =
            static_cast<unsigned>(std::min<std::size_t>(block, input.size() - start));
        unsigned written = 0;
        EXPECT_EQ(hum.process(input.data() + start, output.data() + start, count, &written,
                              frequency, attenuationDb),
                  0);
        EXPECT_EQ(written, count);
    }
    return output;
}

// Amplitude of the component at `hz` over samples [from, from + length), which must hold a whole
// number of its cycles (and of every other component's, so they do not leak in).
double amplitude(const std::vector<float>& x, std::size_t from, std::size_t length, double hz,
                 double rate) {
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        sum += static_cast<double>(x[from + n]) *
               std::polar(1.0, -2.0 * kPi * hz * static_cast<double>(n) / rate);
    }
    return 2.0 * std::abs(sum) / static_cast<double>(length);
}

TEST(CHumTables, HaveTheCombStructure) {
    for (const taps::HumTableSet* set : {&taps::kHum14700, &taps::kHum16000}) {
        EXPECT_EQ(set->band[71], 0.0f);
        EXPECT_EQ(set->band[72], 0.0f);
        for (int n = 0; n <= 70; ++n) {
            EXPECT_EQ(set->band[n], set->band[70 - n]) << n;
        }
        for (int n = 0; n < kTaps; ++n) {
            // band + complement is exactly a unit impulse at 35, in float.
            EXPECT_EQ(set->band[n] + set->complement[n], n == taps::kHumCentre ? 1.0f : 0.0f) << n;
            EXPECT_EQ(set->delay[5][n], set->band[n]) << n;
        }
    }
    EXPECT_NE(taps::kHum14700.band[35], taps::kHum16000.band[35]);
}

TEST(CHumTables, BandIsFlatAndDelayTablesMatchItWithTheirDelays) {
    struct Set {
        const taps::HumTableSet* taps;
        double rate;
    };
    for (const Set& set : {Set{&taps::kHum14700, 14700.0}, Set{&taps::kHum16000, 16000.0}}) {
        SCOPED_TRACE(set.rate);
        const std::span<const float> band(set.taps->band);
        double flat = 0.0;
        double stop = 0.0;
        double halfGain = 0.0;
        for (double hz = 0.0; hz <= set.rate / 2; hz += 5.0) {
            const double g = std::abs(response(band, hz / set.rate));
            if (hz <= 5000.0) {
                flat = std::max(flat, std::abs(1.0 - g));
            }
            if (hz >= 6600.0) {
                stop = std::max(stop, g);
            }
            if (halfGain == 0.0 && g < 0.5) {
                halfGain = hz;
            }
        }
        EXPECT_LT(db(flat), -100.0); // 1e-5: no limit on any notch up to 5 kHz
        EXPECT_LT(db(stop), -100.0);
        EXPECT_GT(halfGain, 5700.0);
        EXPECT_LT(halfGain, 5900.0);

        for (int t = 0; t < taps::kHumFractionCount; ++t) {
            SCOPED_TRACE(t);
            const std::span<const float> delay(set.taps->delay[t]);
            const double extra = 0.5 - 0.1 * t; // beyond the band filter's 35 samples
            double mismatch3 = 0.0;
            double mismatch5 = 0.0;
            double mismatchAll = 0.0;
            for (double hz = 0.0; hz <= set.rate / 2; hz += 5.0) {
                const double f = hz / set.rate;
                const std::complex<double> target =
                    response(band, f) * std::polar(1.0, -2.0 * kPi * f * extra);
                const double e = std::abs(response(delay, f) - target);
                mismatchAll = std::max(mismatchAll, e);
                if (hz <= 5000.0) {
                    mismatch5 = std::max(mismatch5, e);
                }
                if (hz <= 3000.0) {
                    mismatch3 = std::max(mismatch3, e);
                }
            }
            EXPECT_LT(db(mismatch3), -120.0);
            EXPECT_LT(db(mismatch5), -115.0);
            EXPECT_LT(db(mismatchAll), -90.0);
            // Group delay at 0 Hz: the first moment of the taps.
            double sum = 0.0;
            double moment = 0.0;
            for (int n = 0; n < kTaps; ++n) {
                sum += delay[static_cast<std::size_t>(n)];
                moment += n * static_cast<double>(delay[static_cast<std::size_t>(n)]);
            }
            EXPECT_NEAR(moment / sum, 35.0 + extra, 1e-4);
        }
    }
}

TEST(CHumClass, ZeroAttenuationDelaysBy35Samples) {
    CHumClass hum;
    std::vector<float> input(6000);
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] = static_cast<float>(0.5 * std::sin(0.0123 * static_cast<double>(n * n % 9973)));
    }
    const std::vector<float> output = run(hum, input, 2048, 60.0f, 0.0f);
    for (std::size_t n = 0; n < input.size(); ++n) {
        const float expected = n >= 35 ? input[n - 35] : 0.0f;
        ASSERT_NEAR(output[n], expected, 2e-6f) << n;
    }
}

TEST(CHumClass, BelowOneHertzPassesTheBlockThroughUndelayed) {
    CHumClass hum;
    std::vector<float> input(3000);
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] = static_cast<float>(n % 17) - 8.0f;
    }
    for (float frequency : {0.0f, -1.0f, 0.999f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()}) {
        std::vector<float> output(input.size(), 99.0f);
        unsigned written = 0;
        EXPECT_EQ(hum.process(input.data(), output.data(), 3000, &written, frequency, 60.0f), 0);
        EXPECT_EQ(written, 3000u);
        EXPECT_EQ(output, input) << frequency;
    }
}

// Hum at `humHz` with every harmonic up to 3 kHz (amplitude 0.01 each, mixed phases) and a tone
// between harmonics at `toneHz` (0.1), cancelled with 60 dB: the depth at each harmonic and the
// tone's level. `window` holds whole cycles of every component.
void checkNotches(float rate, float humHz, double toneHz, std::size_t window) {
    SCOPED_TRACE(std::to_string(rate) + " Hz rate, hum " + std::to_string(humHz));
    CHumClass hum;
    hum.setSampleRate(rate);
    const int harmonics = static_cast<int>(3000.0 / humHz + 1e-9);
    const std::size_t settle = 2048;
    std::vector<float> input(settle + window + 35);
    for (std::size_t n = 0; n < input.size(); ++n) {
        const double t = static_cast<double>(n) / rate;
        double x = 0.1 * std::sin(2.0 * kPi * toneHz * t);
        for (int k = 1; k <= harmonics; ++k) {
            x += 0.01 * std::sin(2.0 * kPi * k * humHz * t + 0.7 * k * k);
        }
        input[n] = static_cast<float>(x);
    }
    const std::vector<float> output = run(hum, input, 2048, humHz, 60.0f);

    std::string depths;
    for (int k = 1; k <= harmonics; ++k) {
        const double hz = k * static_cast<double>(humHz);
        const double depth = -db(amplitude(output, settle, window, hz, rate) / 0.01);
        char text[32];
        std::snprintf(text, sizeof text, " %.0f:%.1f", hz, depth);
        depths += text;
        if (k == 1) {
            EXPECT_GE(depth, 50.0) << hz;
        } else if (hz <= 1000.0) {
            EXPECT_GE(depth, 40.0) << hz;
        } else if (hz <= 2000.0) {
            EXPECT_GE(depth, 30.0) << hz;
        } else {
            EXPECT_GE(depth, 25.0) << hz;
        }
    }
    // Between harmonics the comb's own gain |b - a e^{-j w T}| with T the period on the grid of
    // tenths.
    const double period = std::round(10.0 * rate / humHz) / 10.0;
    const double g = 0.001;
    const std::complex<double> comb =
        (1.0 + g) / 2.0 - (1.0 - g) / 2.0 * std::polar(1.0, -2.0 * kPi * toneHz * period / rate);
    const double tone = db(amplitude(output, settle, window, toneHz, rate) / 0.1);
    EXPECT_NEAR(tone, db(std::abs(comb)), 0.01);
    std::printf("[ depth dB ] %.0f Hz, hum %.0f Hz:%s; tone %.0f Hz %.3f dB\n", rate, humHz,
                depths.c_str(), toneHz, tone);
}

TEST(CHumClass, SixtyDecibelsCancelEveryHarmonicDeeply) {
    checkNotches(14700.0f, 60.0f, 1000.0, 7350);
    checkNotches(14700.0f, 50.0f, 1025.0, 5880);
    checkNotches(16000.0f, 60.0f, 1000.0, 8000);
    checkNotches(16000.0f, 50.0f, 1025.0, 6400);
}

// Where the delayed copy of an impulse lands: the first moment of the echo, which the band
// response's own delay of 35 and the period on the grid of tenths decide.
double echoDelay(CHumClass& hum, float frequency) {
    std::vector<float> input(1024, 0.0f);
    input[0] = 1.0f;
    const std::vector<float> output = run(hum, input, 1024, frequency, 60.0f);
    // The echo starts 71 or more samples after the direct part (taps 0 ... 70) has ended.
    double sum = 0.0;
    double moment = 0.0;
    for (std::size_t n = 140; n < output.size(); ++n) {
        sum += output[n];
        moment += static_cast<double>(n) * output[n];
    }
    return moment / sum;
}

TEST(CHumClass, DelayedPathLagsByThePeriodToTheNearestTenth) {
    struct Case {
        float rate;
        float period; // rate / frequency
        double lag;   // the period on the grid of tenths
    };
    for (const Case& c : {Case{14700.0f, 245.0f, 245.0}, Case{14700.0f, 300.52f, 300.5},
                          Case{14700.0f, 300.56f, 300.6}, Case{14700.0f, 245.04f, 245.0},
                          Case{14700.0f, 245.07f, 245.1}, Case{14700.0f, 251.44f, 251.4},
                          Case{16000.0f, 266.6667f, 266.7}, Case{16000.0f, 320.0f, 320.0}}) {
        CHumClass hum;
        hum.setSampleRate(c.rate);
        EXPECT_NEAR(echoDelay(hum, c.rate / c.period), 35.0 + c.lag, 0.002) << c.period;
    }
}

TEST(CHumClass, RateChangeChoosesTheTableSet) {
    CHumClass hum;
    for (float rate : {16000.0f, 14700.0f, 16000.5f, 16000.0f}) {
        hum.setSampleRate(rate);
        EXPECT_EQ(hum.getSampleRate(), rate);
        const taps::HumTableSet& set = rate == 16000.0f ? taps::kHum16000 : taps::kHum14700;
        // The direct part of an impulse response: complement + b * band.
        std::vector<float> input(512, 0.0f);
        input[0] = 1.0f;
        const std::vector<float> output = run(hum, input, 512, 60.0f, 60.0f);
        const float a = static_cast<float>((1.0 - 0.001) * 0.5);
        for (int n = 0; n <= 70; ++n) {
            const float expected = (n == 35 ? 1.0f : 0.0f) - a * set.band[n];
            ASSERT_NEAR(output[static_cast<std::size_t>(n)], expected, 1e-7f) << rate << " " << n;
        }
    }
}

TEST(CHumClass, BlocksOfAnyLengthGiveTheSameOutput) {
    std::vector<float> input(20000);
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] =
            static_cast<float>(std::sin(0.041 * static_cast<double>(n)) +
                               0.3 * std::sin(2.0 * kPi * 59.7 * static_cast<double>(n) / 14700.0));
    }
    CHumClass whole;
    const std::vector<float> reference = run(whole, input, 20000, 59.7f, 40.0f);
    for (unsigned block : {2048u, 512u, 1u << 10, 37u}) {
        CHumClass pieces;
        EXPECT_EQ(run(pieces, input, block, 59.7f, 40.0f), reference) << block;
    }
    // In place.
    CHumClass inPlace;
    std::vector<float> buffer = input;
    unsigned written = 0;
    ASSERT_EQ(inPlace.process(buffer.data(), buffer.data(), 20000, &written, 59.7f, 40.0f), 0);
    EXPECT_EQ(buffer, reference);
}

TEST(CHumClass, ABlockDependsOnlyOnItsOwnFrequencyAndAttenuation) {
    // Frames of a tracking detector: the frequency and attenuation of earlier blocks must not
    // reach a later block's output, whether its period changed just now, one block ago or not
    // at all (59.7 and 61.3 Hz differ in whole samples; 59.75 only in tenths).
    std::vector<float> input(6 * 512);
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] =
            static_cast<float>(std::sin(0.041 * static_cast<double>(n)) +
                               0.3 * std::sin(2.0 * kPi * 60.2 * static_cast<double>(n) / 14700.0));
    }
    struct Step {
        float frequency;
        float attenuationDb;
    };
    auto last = [&](std::initializer_list<Step> steps) {
        CHumClass hum;
        std::vector<float> output(512);
        std::size_t start = 0;
        for (const Step& step : steps) {
            unsigned written = 0;
            EXPECT_EQ(hum.process(input.data() + start, output.data(), 512, &written,
                                  step.frequency, step.attenuationDb),
                      0);
            start += 512;
        }
        return output;
    };
    const std::vector<float> steady =
        last({{61.3f, 20.0f}, {61.3f, 20.0f}, {61.3f, 20.0f}, {61.3f, 20.0f}});
    EXPECT_EQ(last({{59.7f, 40.0f}, {59.7f, 40.0f}, {59.7f, 40.0f}, {61.3f, 20.0f}}), steady);
    EXPECT_EQ(last({{59.7f, 20.0f}, {59.7f, 20.0f}, {61.3f, 60.0f}, {61.3f, 20.0f}}), steady);
    EXPECT_EQ(last({{59.7f, 20.0f}, {59.75f, 20.0f}, {59.75f, 20.0f}, {61.3f, 20.0f}}), steady);
    EXPECT_EQ(last({{61.3f, 20.0f}, {59.75f, 20.0f}, {59.7f, 20.0f}, {61.3f, 20.0f}}), steady);
    EXPECT_NE(last({{61.3f, 20.0f}, {61.3f, 20.0f}, {61.3f, 20.0f}, {59.7f, 20.0f}}), steady);
}

TEST(CHumClass, BuffersFollowTheLowestFrequencyAndTheLargestBlock) {
    std::vector<float> signal(4096);
    for (std::size_t n = 0; n < signal.size(); ++n) {
        signal[n] = static_cast<float>(std::sin(0.05 * static_cast<double>(n)));
    }
    {
        // 44.45 Hz at 16 000 Hz: p = 360 fits the 399 samples sized for 40.005 Hz.
        CHumClass hum;
        hum.setSampleRate(16000.0f);
        hum.setMinFrequency(40.005f);
        EXPECT_EQ(hum.getMaxPeriod(), 399u);
        run(hum, signal, 4096, 44.45f, 60.0f);
        EXPECT_EQ(hum.getMaxPeriod(), 399u);
        EXPECT_FLOAT_EQ(hum.getMinFrequency(), 40.005f);
    }
    {
        // 30 Hz at 14 700 Hz: p = 490 exceeds 367, so the buffers are rebuilt for 27 Hz before
        // filtering, and the comb restarts from silence: the output is a fresh canceller's.
        CHumClass hum;
        hum.setMinFrequency(40.005f);
        EXPECT_EQ(hum.getMaxPeriod(), 367u);
        run(hum, signal, 2048, 50.0f, 60.0f);
        const std::vector<float> rebuilt = run(hum, signal, 4096, 30.0f, 60.0f);
        EXPECT_FLOAT_EQ(hum.getMinFrequency(), 27.0f);
        EXPECT_EQ(hum.getMaxPeriod(), 544u);
        CHumClass fresh;
        fresh.setMinFrequency(27.0f);
        EXPECT_EQ(run(fresh, signal, 4096, 30.0f, 60.0f), rebuilt);
    }
    {
        // A block of 70 000 samples raises the capacity and restarts the same way.
        std::vector<float> longBlock(70000);
        for (std::size_t n = 0; n < longBlock.size(); ++n) {
            longBlock[n] = signal[n % signal.size()];
        }
        CHumClass hum;
        EXPECT_EQ(hum.getBlockCapacity(), 65536u);
        run(hum, signal, 2048, 60.0f, 60.0f);
        const std::vector<float> output = run(hum, longBlock, 70000, 60.0f, 60.0f);
        EXPECT_EQ(hum.getBlockCapacity(), 70000u);
        CHumClass fresh;
        EXPECT_EQ(run(fresh, longBlock, 2048, 60.0f, 60.0f), output);
    }
}

TEST(CHumClass, NonFiniteInputLeavesNoTrace) {
    std::vector<float> clean(12000);
    for (std::size_t n = 0; n < clean.size(); ++n) {
        clean[n] =
            static_cast<float>(0.5 * std::sin(2.0 * kPi * 60.0 * static_cast<double>(n) / 14700.0) +
                               0.2 * std::sin(0.3 * static_cast<double>(n)));
    }
    std::vector<float> dirty = clean;
    std::vector<float> zeroed = clean;
    for (std::size_t n : {100u, 700u, 1500u, 2047u}) {
        dirty[n] = std::numeric_limits<float>::quiet_NaN();
        zeroed[n] = 0.0f;
    }
    dirty[900] = std::numeric_limits<float>::infinity();
    dirty[901] = -std::numeric_limits<float>::infinity();
    zeroed[900] = zeroed[901] = 0.0f;
    CHumClass a;
    CHumClass b;
    const std::vector<float> out = run(a, dirty, 2048, 60.0f, 60.0f);
    const std::vector<float> reference = run(b, zeroed, 2048, 60.0f, 60.0f);
    // Once the last bad sample has left the history (one period and two filter lengths), the
    // output is exactly what it would have been without it.
    const std::size_t recovered = 2047 + a.getMaxPeriod() + 2 * kTaps;
    for (std::size_t n = recovered; n < out.size(); ++n) {
        ASSERT_EQ(out[n], reference[n]) << n;
    }
}

TEST(CHumClass, BadArgumentsChangeNothing) {
    CHumClass hum;
    float buffer[8] = {};
    unsigned written = 7;
    EXPECT_EQ(hum.process(nullptr, buffer, 8, &written, 60.0f, 60.0f), 2);
    EXPECT_EQ(hum.process(buffer, nullptr, 8, &written, 60.0f, 60.0f), 2);
    EXPECT_EQ(hum.process(buffer, buffer, 8, nullptr, 60.0f, 60.0f), 2);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(hum.process(nullptr, nullptr, 0, &written, 60.0f, 60.0f), 0);
    EXPECT_EQ(written, 0u);

    hum.setSampleRate(std::numeric_limits<float>::quiet_NaN());
    hum.setSampleRate(-16000.0f);
    hum.setMinFrequency(0.0f);
    hum.setMinFrequency(std::numeric_limits<float>::infinity());
    EXPECT_EQ(hum.getSampleRate(), 14700.0f);
    EXPECT_EQ(hum.getMinFrequency(), 48.5f);
    EXPECT_EQ(hum.getMaxPeriod(), 303u);
    // Negative or NaN attenuation counts as 0 dB: a plain delay.
    std::vector<float> input(600, 0.0f);
    input[3] = 1.0f;
    for (float attenuation : {-20.0f, std::numeric_limits<float>::quiet_NaN()}) {
        CHumClass fresh;
        const std::vector<float> output = run(fresh, input, 600, 60.0f, attenuation);
        EXPECT_NEAR(output[38], 1.0f, 1e-6f);
        EXPECT_NEAR(output[38 + 245], 0.0f, 1e-6f);
    }
}

} // namespace
