// The processing chain through the built plug-in: block structure, latency, level, the
// high-pass filter and the equalizer, measured on audio.
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace {

struct RateRow {
    float rate;
    int hostBlock;
    int initialDelay;
};

// Host rate, host block and the latency a host must see.
constexpr RateRow kRates[] = {
    {8000.0f, 1024, 2450},   {11025.0f, 1536, 3611},   {22050.0f, 3072, 7222},
    {32000.0f, 4096, 9544},  {44100.0f, 6144, 14188},  {48000.0f, 6144, 14188},
    {64000.0f, 8192, 18832}, {88200.0f, 12288, 28120}, {96000.0f, 12288, 28120},
    {12345.0f, 2048, 4644},
};

using Signal = std::vector<float>;

// Runs signals through the plug-in in host calls of the given sizes (cycled).
class Runner {
public:
    explicit Runner(float rate) : host(VELTRANO_PLUGIN_PATH) {
        effect = host.open();
        if (effect != nullptr) {
            host.setSampleRate(rate);
        }
    }

    int latency() const { return effect->initialDelay; }

    void set(VstInt32 index, float value) { host.setParameter(index, value); }

    void setMono() {
        VstSpeakerArrangement mono{};
        mono.type = kSpeakerArrMono;
        mono.numChannels = 1;
        host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), &mono);
    }

    // Stereo: both channels given; the outputs have the inputs' length.
    void run(const Signal& left, const Signal& right, Signal& outLeft, Signal& outRight,
             const std::vector<int>& blocks = {512}) {
        outLeft.assign(left.size(), 0.0f);
        outRight.assign(right.size(), 0.0f);
        std::size_t pos = 0;
        std::size_t b = 0;
        while (pos < left.size()) {
            const int n = static_cast<int>(std::min<std::size_t>(
                static_cast<std::size_t>(blocks[b++ % blocks.size()]), left.size() - pos));
            float* in[2] = {const_cast<float*>(left.data() + pos),
                            const_cast<float*>(right.data() + pos)};
            float* out[2] = {outLeft.data() + pos, outRight.data() + pos};
            host.processReplacing(in, out, n);
            pos += static_cast<std::size_t>(n);
        }
    }

    Signal runMono(const Signal& input, int block = 1000) {
        Signal out(input.size(), 0.0f);
        for (std::size_t pos = 0; pos < input.size(); pos += static_cast<std::size_t>(block)) {
            const int n = static_cast<int>(
                std::min<std::size_t>(static_cast<std::size_t>(block), input.size() - pos));
            float* in[2] = {const_cast<float*>(input.data() + pos), nullptr};
            float* outs[2] = {out.data() + pos, nullptr};
            host.processReplacing(in, outs, n);
        }
        return out;
    }

    VstHost host;
    AEffect* effect{nullptr};
};

Signal sine(float rate, double hz, std::size_t frames, double amplitude = 0.5) {
    Signal s(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        s[n] = static_cast<float>(amplitude *
                                  std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) /
                                           static_cast<double>(rate)));
    }
    return s;
}

double rms(const Signal& s, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t n = from; n < to; ++n) {
        sum += static_cast<double>(s[n]) * s[n];
    }
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Level of a steady sine through the plug-in relative to its input, in dB, measured after the
// latency and the filters' settling.
double gainDb(Runner& runner, float rate, double hz) {
    const std::size_t frames = static_cast<std::size_t>(rate) * 2 + 40000;
    const Signal in = sine(rate, hz, frames);
    Signal left;
    Signal right;
    runner.run(in, in, left, right, {4096});
    const std::size_t from = static_cast<std::size_t>(runner.latency()) + 20000;
    return 20.0 * std::log10(rms(left, from, frames) / rms(in, from, frames));
}

TEST(Chain, EveryRateReportsItsLatency) {
    for (const RateRow& row : kRates) {
        VstHost host(VELTRANO_PLUGIN_PATH);
        AEffect* effect = host.open();
        ASSERT_NE(effect, nullptr);
        host.clearCalls();
        host.setSampleRate(row.rate);
        EXPECT_EQ(effect->initialDelay, row.initialDelay) << "rate " << row.rate;
        ASSERT_EQ(host.callsOf(audioMasterIOChanged).size(), 1u) << "rate " << row.rate;
    }
    // The rate is truncated to an integer.
    VstHost host(VELTRANO_PLUGIN_PATH);
    AEffect* effect = host.open();
    host.setSampleRate(44100.9f);
    EXPECT_EQ(effect->initialDelay, 14188);
    // Rates no host can mean leave everything as it was.
    for (float bad : {0.0f, -44100.0f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity(), 1e30f, 2e9f, 1536001.0f}) {
        host.setSampleRate(bad);
        EXPECT_EQ(effect->initialDelay, 14188) << "rate " << bad;
    }
}

TEST(Chain, PassBandLevelIsUnchangedWithEverythingOff) {
    // The factor-6 resampling filter (88.2 and 96 kHz) ripples by +-0.14 dB in its pass band
    // and the signal passes it twice; the other factors are flat within 0.004 dB.
    for (float rate : {8000.0f, 11025.0f, 22050.0f, 32000.0f, 44100.0f, 48000.0f, 64000.0f,
                       88200.0f, 96000.0f}) {
        const double tolerance = rate > 80000.0f ? 0.3 : 0.1;
        Runner runner(rate);
        for (double hz : {100.0, 440.0, 1000.0, 3000.0, 5000.0}) {
            if (hz < rate * 0.4) {
                EXPECT_NEAR(gainDb(runner, rate, hz), 0.0, tolerance)
                    << rate << " Hz rate, " << hz << " Hz";
            }
        }
    }
}

TEST(Chain, FirstHostBlockAfterARateChangeIsSilent) {
    Runner runner(44100.0f);
    const Signal in = sine(44100.0f, 1000.0, 30000);
    Signal left;
    Signal right;
    runner.run(in, in, left, right, {1000});
    for (std::size_t n = 0; n < 6144; ++n) {
        ASSERT_EQ(left[n], 0.0f) << "frame " << n;
    }
    EXPECT_GT(rms(left, 6144, 30000), 0.01);

    // 30000 frames leave the fill position at 5424; the new host block (6144 at 48 kHz) plays
    // its cleared remainder first.
    runner.host.setSampleRate(48000.0f);
    runner.run(in, in, left, right, {1000});
    for (std::size_t n = 0; n < 6144 - 5424; ++n) {
        ASSERT_EQ(left[n], 0.0f) << "frame " << n;
    }
}

TEST(Chain, NothingIsTouchedWithoutFrames) {
    Runner runner(44100.0f);
    float inL[4] = {1, 2, 3, 4};
    float inR[4] = {1, 2, 3, 4};
    float outL[4] = {9, 9, 9, 9};
    float outR[4] = {9, 9, 9, 9};
    float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    for (VstInt32 frames : {0, -1, -100000, std::numeric_limits<VstInt32>::min()}) {
        runner.host.processReplacing(in, out, frames);
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(outL[n], 9.0f);
            EXPECT_EQ(outR[n], 9.0f);
        }
    }
}

TEST(Chain, HostBlockSizesDoNotChangeTheOutput) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Signal left(200000);
    Signal right(200000);
    for (std::size_t n = 0; n < left.size(); ++n) {
        left[n] = noise(random);
        right[n] = noise(random);
    }
    std::uniform_int_distribution<int> size(1, 20000);
    std::vector<int> blocks;
    for (int i = 0; i < 200; ++i) {
        blocks.push_back(size(random));
    }
    blocks.push_back(1);
    blocks.push_back(1);

    Runner fixed(48000.0f);
    Runner varied(48000.0f);
    for (Runner* r : {&fixed, &varied}) {
        r->set(21, 1.0f); // high-pass
        r->set(28, 1.0f); // equalizer
        r->set(3, 0.4f);
    }
    Signal fixedL;
    Signal fixedR;
    Signal variedL;
    Signal variedR;
    fixed.run(left, right, fixedL, fixedR, {512});
    varied.run(left, right, variedL, variedR, blocks);
    EXPECT_EQ(fixedL, variedL);
    EXPECT_EQ(fixedR, variedR);
}

TEST(Chain, MonoReadsAndWritesChannelZeroOnly) {
    Runner mono(44100.0f);
    mono.setMono();
    Runner stereo(44100.0f);
    const Signal in = sine(44100.0f, 700.0, 40000);
    const Signal out = mono.runMono(in);
    Signal left;
    Signal right;
    stereo.run(in, in, left, right, {1000});
    EXPECT_EQ(out, left);

    float input[64] = {};
    float output0[64];
    float output1[64];
    std::fill(output1, output1 + 64, 7.0f);
    float* ins[2] = {input, nullptr};
    float* outs[2] = {output0, output1};
    mono.host.processReplacing(ins, outs, 64);
    for (float v : output1) {
        ASSERT_EQ(v, 7.0f);
    }
}

TEST(Chain, HighPassFilter) {
    for (float rate : {44100.0f, 48000.0f}) {
        Runner runner(rate);
        runner.set(21, 1.0f);
        EXPECT_LT(gainDb(runner, rate, 60.0), -44.0) << rate;
        EXPECT_NEAR(gainDb(runner, rate, 1000.0), 0.0, 0.05) << rate;
    }
}

TEST(Chain, EqualizerFlatPassesTheSignal) {
    for (float rate : {44100.0f, 48000.0f}) {
        Runner runner(rate);
        runner.set(28, 1.0f);
        for (double hz : {80.0, 240.0, 1000.0, 2600.0, 5000.0}) {
            EXPECT_NEAR(gainDb(runner, rate, hz), 0.0, 0.05) << rate << " Hz rate, " << hz;
        }
    }
}

TEST(Chain, EqualizerBandCut) {
    const double centres[] = {80,   240,  400,  560,  720,  880,  1040, 1200, 1400, 1600,
                              1800, 2200, 2600, 3000, 3500, 4000, 4500, 5000, 5500, 6000};
    for (float rate : {44100.0f, 48000.0f}) {
        for (int band : {2, 9, 15}) {
            Runner runner(rate);
            runner.set(28, 1.0f);
            runner.set(band, 0.0f); // -30 dB
            // What the neighbouring edges leak at the centre moves the cut: at 16 kHz
            // internally (48 kHz) by up to 1.2 dB, at 14.7 kHz by up to 0.5 dB.
            const double cut = gainDb(runner, rate, centres[band]);
            EXPECT_GE(cut, -31.0) << "band " << band << " at " << rate;
            EXPECT_LE(cut, rate == 48000.0f ? -28.7 : -29.0) << "band " << band << " at " << rate;
            EXPECT_NEAR(gainDb(runner, rate, centres[band - 1]), 0.0, 0.5) << "band " << band - 1;
            EXPECT_NEAR(gainDb(runner, rate, centres[band + 1]), 0.0, 0.5) << "band " << band + 1;
        }
    }
}

TEST(Chain, EqualizerPresetsAndShiftAreAudible) {
    const float rate = 44100.0f;
    Runner lowCut(rate);
    lowCut.set(28, 1.0f);
    lowCut.set(70, 0.0f);
    EXPECT_NEAR(gainDb(lowCut, rate, 80.0), -28.0, 1.0);
    EXPECT_NEAR(gainDb(lowCut, rate, 4000.0), 0.0, 0.3);

    Runner highCut(rate);
    highCut.set(28, 1.0f);
    highCut.set(71, 0.0f);
    EXPECT_NEAR(gainDb(highCut, rate, 6000.0), -28.1, 1.0);
    EXPECT_NEAR(gainDb(highCut, rate, 240.0), 0.0, 0.3);

    Runner shifted(rate);
    shifted.set(28, 1.0f);
    shifted.set(44, 6.0f);
    EXPECT_NEAR(gainDb(shifted, rate, 1000.0), -6.0, 0.1);
}

TEST(Chain, NonFiniteInputDoesNotStick) {
    Runner runner(44100.0f);
    runner.set(21, 1.0f);
    runner.set(28, 1.0f);
    Signal in = sine(44100.0f, 1000.0, 120000);
    for (std::size_t n = 10000; n < 10100; ++n) {
        in[n] = (n % 3 == 0)   ? std::numeric_limits<float>::quiet_NaN()
                : (n % 3 == 1) ? std::numeric_limits<float>::infinity()
                               : -std::numeric_limits<float>::infinity();
    }
    Signal left;
    Signal right;
    runner.run(in, in, left, right, {4096});
    for (std::size_t n = 0; n < left.size(); ++n) {
        ASSERT_TRUE(std::isfinite(left[n])) << "frame " << n;
    }
    const std::size_t from = 10100 + static_cast<std::size_t>(runner.latency()) + 2000;
    EXPECT_NEAR(20.0 * std::log10(rms(left, from, in.size()) / rms(in, from, in.size())), 0.0,
                0.05);
}

TEST(Chain, FillPositionSurvivesARateChange) {
    // 8000 frames at 48 kHz leave the fill position at 1856; at 8 kHz (host block 1024) that
    // is beyond the block, so the very first frame processes the cleared block: what the
    // chain still holds of the 48 kHz signal comes out at once instead of a silent block.
    Runner runner(48000.0f);
    const Signal in = sine(48000.0f, 500.0, 8000);
    Signal left;
    Signal right;
    runner.run(in, in, left, right, {8000});
    runner.host.setSampleRate(8000.0f);
    const Signal silence(4000, 0.0f);
    runner.run(silence, silence, left, right, {4000});
    EXPECT_GT(rms(left, 0, 1024), 1e-3);
}

TEST(Chain, HundredLifetimes) {
    // Run under LeakSanitizer in the sanitizer build: every cycle must release all it obtained.
    const float rates[] = {44100.0f, 48000.0f, 8000.0f, 96000.0f, 12345.0f};
    for (int cycle = 0; cycle < 100; ++cycle) {
        VstHost host(VELTRANO_PLUGIN_PATH);
        AEffect* effect = host.open();
        ASSERT_NE(effect, nullptr);
        host.setSampleRate(rates[cycle % 5]);
        host.setSampleRate(rates[(cycle + 1) % 5]);
        float buffer[256] = {};
        float* io[2] = {buffer, buffer};
        host.processReplacing(io, io, 256);
        EXPECT_EQ(host.close(), 1);
    }
}

double peakOf(const Signal& s, std::size_t from, std::size_t to) {
    double peak = 0.0;
    for (std::size_t n = from; n < to; ++n) {
        peak = std::max(peak, static_cast<double>(std::fabs(s[n])));
    }
    return peak;
}

TEST(Chain, GainStagesRaiseAQuietSignal) {
    for (VstInt32 stage : {20, 29}) { // auto-normalize, automatic gain control
        Runner runner(44100.0f);
        runner.set(stage, 1.0f);
        const Signal in = sine(44100.0f, 1000.0, 44100 * 8, 0.05);
        Signal left;
        Signal right;
        runner.run(in, in, left, right, {2048});
        // Both limit the gain to 3.16 (the control's initial maximum, the normalizer's fixed one).
        EXPECT_NEAR(peakOf(left, left.size() - 44100, left.size()), 0.158, 0.003) << stage;
        EXPECT_EQ(left, right);
    }
    Runner loud(44100.0f);
    loud.set(29, 1.0f);
    loud.set(33, 1.0f); // up to 60 dB
    const Signal in = sine(44100.0f, 1000.0, 44100 * 8, 0.01);
    Signal left;
    Signal right;
    loud.run(in, in, left, right, {2048});
    EXPECT_NEAR(peakOf(left, left.size() - 44100, left.size()), 0.25, 0.01);
}

TEST(Chain, PredictableNoiseReductionFadesASteadyTone) {
    for (float reverb : {0.0f, 1.0f}) {
        Runner runner(44100.0f);
        runner.set(24, 1.0f);
        runner.set(25, reverb);
        const Signal in = sine(44100.0f, 1000.0, 44100 * 8, 0.25);
        Signal left;
        Signal right;
        runner.run(in, in, left, right, {2048});
        const std::size_t end = left.size();
        EXPECT_LT(20.0 * std::log10(rms(left, end - 44100, end) / rms(in, end - 44100, end)), -40.0)
            << "reverb " << reverb;
        // Amount 0 % leaves the tone alone.
        Runner none(44100.0f);
        none.set(24, 1.0f);
        none.set(25, reverb);
        none.set(31, 1.0f);
        none.run(in, in, left, right, {2048});
        EXPECT_NEAR(20.0 * std::log10(rms(left, end - 44100, end) / rms(in, end - 44100, end)), 0.0,
                    0.1);
    }
}

TEST(Chain, MonoUsesTheOneChannelStages) {
    // With both channels equal, the stereo-linked stages give each channel what the one-channel
    // operations give a mono input.
    Runner mono(48000.0f);
    mono.setMono();
    Runner stereo(48000.0f);
    for (Runner* r : {&mono, &stereo}) {
        for (VstInt32 index : {20, 21, 24, 28, 29}) {
            r->set(index, 1.0f);
        }
    }
    const Signal in = sine(48000.0f, 300.0, 100000, 0.02);
    const Signal out = mono.runMono(in, 1000);
    Signal left;
    Signal right;
    stereo.run(in, in, left, right, {1000});
    EXPECT_EQ(out, left);
}

TEST(Chain, RandomNoiseReductionLowersSteadyNoise) {
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    Signal in(44100 * 10);
    for (float& x : in) {
        x = noise(random);
    }
    // Against the chain with the stage off: above 7.35 kHz the internal rate passes nothing.
    const std::size_t end = in.size();
    Runner off(44100.0f);
    Signal reference;
    Signal referenceRight;
    off.run(in, in, reference, referenceRight, {2048});
    for (float amount : {0.0f, 1.0f}) { // kRandomAttenuation 0 = 100 % reduction
        Runner runner(44100.0f);
        runner.set(26, 1.0f);
        runner.set(32, amount);
        Signal left;
        Signal right;
        runner.run(in, in, left, right, {2048});
        const double change =
            20.0 * std::log10(rms(left, end - 88200, end) / rms(reference, end - 88200, end));
        if (amount == 0.0f) {
            EXPECT_LT(change, -6.0);
        } else {
            EXPECT_NEAR(change, 0.0, 0.1);
        }
    }
}

TEST(Chain, NothingNonFiniteEverLeavesWithEveryStageOn) {
    // Silence, a full-scale square wave, white noise at 0 dBFS, single-sample spikes and
    // non-finite samples, one after another. (The level is not bounded: the way back to the
    // host rate may overshoot the stages' clipping.)
    const float rate[] = {44100.0f, 48000.0f};
    std::mt19937 random(5);
    std::uniform_real_distribution<float> full(-1.0f, 1.0f);
    Signal in;
    in.insert(in.end(), 48000, 0.0f);
    for (int n = 0; n < 48000; ++n) {
        in.push_back((n / 40) % 2 == 0 ? 1.0f : -1.0f);
    }
    for (int n = 0; n < 48000; ++n) {
        in.push_back(full(random));
    }
    for (int n = 0; n < 48000; ++n) {
        in.push_back(n % 5000 == 0 ? 1.0f : 0.0f);
    }
    for (int n = 0; n < 48000; ++n) {
        const int k = n % 4;
        in.push_back(k == 0   ? std::numeric_limits<float>::quiet_NaN()
                     : k == 1 ? std::numeric_limits<float>::infinity()
                     : k == 2 ? -std::numeric_limits<float>::infinity()
                              : 3.0e38f);
    }
    in.insert(in.end(), 48000, 0.0f);
    for (float r : rate) {
        for (bool mono : {false, true}) {
            for (float reverb : {0.0f, 1.0f}) {
                Runner runner(r);
                if (mono) {
                    runner.setMono();
                }
                for (VstInt32 index = 20; index < 30; ++index) {
                    runner.set(index, 1.0f);
                }
                runner.set(25, reverb);
                runner.set(33, 1.0f); // the largest gain
                Signal left;
                Signal right;
                if (mono) {
                    left = runner.runMono(in, 1000);
                } else {
                    runner.run(in, in, left, right, {1000});
                }
                for (std::size_t n = 0; n < left.size(); ++n) {
                    ASSERT_TRUE(std::isfinite(left[n]))
                        << "frame " << n << " rate " << r << " mono " << mono;
                }
            }
        }
    }
}

} // namespace
