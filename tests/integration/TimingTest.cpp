// Time-exactness through the built plug-in: whatever stages are on, at every host rate, an
// impulse comes out exactly initialDelay frames after it went in; and a resume starts the
// chain afresh, so a stream after any live cycle equals a fresh instance's, bit for bit.
#include "host/VstHost.h"
#include "plugin/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Signal = std::vector<float>;

struct Rate {
    float hz;
    double framesPerSample; // host frames per internal sample
};
constexpr Rate kRates[] = {{8000.0f, 0.5},  {11025.0f, 0.75}, {22050.0f, 1.5}, {32000.0f, 2.0},
                           {44100.0f, 3.0}, {48000.0f, 3.0},  {64000.0f, 4.0}, {88200.0f, 6.0},
                           {96000.0f, 6.0}, {12345.0f, 1.0}};

struct Setting {
    std::string name;
    std::vector<VstInt32> on; // switches set to 1
};

const std::vector<Setting>& settings() {
    static const std::vector<Setting> all = {
        {"all off", {}},
        {"auto-normalize", {kAutoNormalize}},
        {"high-pass", {kHighPass}},
        {"hum filter", {kHumFilter}},
        {"hum filter tracking", {kHumFilter, kHumAutoTrack}},
        {"predictable noise", {kPredictableNoise}},
        {"predictable noise, reverb", {kPredictableNoise, kReverb}},
        {"random noise", {kRandomNoise}},
        {"random noise, aggressive", {kRandomNoise, kAggressive}},
        {"equalizer", {kEqualizer}},
        {"auto gain", {kAutoGain}},
        {"every stage",
         {kAutoNormalize, kHighPass, kHumFilter, kPredictableNoise, kRandomNoise, kEqualizer,
          kAutoGain}},
        {"every stage, reverb, aggressive, tracking",
         {kAutoNormalize, kHighPass, kHumFilter, kHumAutoTrack, kPredictableNoise, kReverb,
          kRandomNoise, kAggressive, kEqualizer, kAutoGain}},
    };
    return all;
}

bool hasHighPass(const Setting& setting) {
    for (VstInt32 index : setting.on) {
        if (index == kHighPass) {
            return true;
        }
    }
    return false;
}

// Runs a stereo signal (the same on both channels) through the host in calls of `block`
// frames; returns the left output.
Signal run(VstHost& host, const Signal& input, int block) {
    Signal left(input.size());
    Signal right(input.size());
    Signal in = input;
    for (std::size_t pos = 0; pos < input.size(); pos += static_cast<std::size_t>(block)) {
        const auto n =
            static_cast<VstInt32>(std::min(static_cast<std::size_t>(block), input.size() - pos));
        float* inputs[2] = {in.data() + pos, in.data() + pos};
        float* outputs[2] = {left.data() + pos, right.data() + pos};
        host.processReplacing(inputs, outputs, n);
    }
    return left;
}

// Where the largest positive and the largest negative sample are.
std::pair<std::size_t, std::size_t> extremes(const Signal& s) {
    std::size_t high = 0;
    std::size_t low = 0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        high = s[n] > s[high] ? n : high;
        low = s[n] < s[low] ? n : low;
    }
    return {high, low};
}

TEST(Timing, AnImpulseComesOutExactlyAtTheReportedLatencyWhateverIsOn) {
    for (const Rate& rate : kRates) {
        for (const Setting& setting : settings()) {
            VstHost host(VELTRANO_PLUGIN_PATH);
            ASSERT_NE(host.open(), nullptr);
            host.setSampleRate(rate.hz);
            for (VstInt32 index : setting.on) {
                host.setParameter(index, 1.0f);
            }
            const auto latency = static_cast<std::size_t>(host.effect()->initialDelay);
            // Late enough for every stage to have settled on silence (the first blocks of
            // random-noise reduction are its start-up), in the middle of a host block.
            const std::size_t at = 5 * latency + 777;
            Signal in(at + latency + 4000, 0.0f);
            in[at] = 0.5f;
            const Signal out = run(host, in, 1000);
            const auto [high, low] = extremes(out);
            const std::string where = setting.name + " at " + std::to_string(rate.hz) + " Hz";
            ASSERT_GT(out[high] - out[low], 0.05f) << where;
            if (!hasHighPass(setting)) {
                EXPECT_EQ(static_cast<long>(high) - static_cast<long>(at + latency), 0L) << where;
                continue;
            }
            // The high-pass's taps are antisymmetric about 127.5 samples, half a sample before
            // its bypass delay: its response turns from the one extreme to the other there.
            const double centre = 0.5 * static_cast<double>(high + low);
            const double expected = static_cast<double>(at + latency) - 0.5 * rate.framesPerSample;
            EXPECT_LE(std::fabs(centre - expected), 0.5) << where << ": centre at " << centre;
        }
    }
}

// Noise with a 50 Hz hum and a 440 Hz tone, the same on both channels.
Signal program(std::size_t frames, float rate, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    Signal s(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        s[n] = static_cast<float>(0.1 * std::sin(2.0 * M_PI * 50.3 * t) +
                                  0.2 * std::sin(2.0 * M_PI * 440.0 * t) * std::sin(0.7 * t)) +
               noise(random);
    }
    return s;
}

TEST(Timing, AResumeStartsAfreshWithEveryStageAndTrackingOn) {
    constexpr float kRate = 44100.0f;
    VstHost live(VELTRANO_PLUGIN_PATH);
    ASSERT_NE(live.open(), nullptr);
    live.setSampleRate(kRate);
    live.dispatch(effMainsChanged, 0, 1);
    for (VstInt32 index = kAutoNormalize; index <= kAutoGain; ++index) {
        live.setParameter(index, 1.0f);
    }
    live.setParameter(kHumFrequency, 0.3f); // 51.6 Hz: tracking moves it
    // A live cycle of odd length, then stop as Ardour does it: suspend, a block-size change
    // and two resumes.
    run(live, program(3 * 44100 + 123, kRate, 1), 512);
    EXPECT_NE(live.getParameter(kHumFrequency), 0.3f);
    live.dispatch(effMainsChanged, 0, 0);
    live.dispatch(effSetBlockSize, 0, 8192);
    live.dispatch(effMainsChanged, 0, 1);
    live.dispatch(effMainsChanged, 0, 1);

    // A fresh instance with the parameters the live one holds now (the tracked frequency too).
    VstHost fresh(VELTRANO_PLUGIN_PATH);
    ASSERT_NE(fresh.open(), nullptr);
    fresh.setSampleRate(kRate);
    for (VstInt32 index = 0; index < kNumParams; ++index) {
        fresh.setParameter(index, live.getParameter(index));
    }
    fresh.dispatch(effMainsChanged, 0, 1);

    const Signal stream = program(4 * 44100, kRate, 2);
    const Signal afterCycle = run(live, stream, 700);
    const Signal fromFresh = run(fresh, stream, 4096);
    ASSERT_EQ(afterCycle.size(), fromFresh.size());
    std::size_t differing = 0;
    for (std::size_t n = 0; n < afterCycle.size(); ++n) {
        differing += afterCycle[n] != fromFresh[n] ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u);
    double energy = 0.0;
    for (float x : afterCycle) {
        energy += static_cast<double>(x) * x;
    }
    EXPECT_GT(energy, 10.0); // the signal came through
}

} // namespace
