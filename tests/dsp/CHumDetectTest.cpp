// The hum detector on signals: the period it finds frame by frame, where the tracked frequency
// settles and when it moves, what silence and non-finite input do, how blocks are cut into
// frames, and the filtering it hands on to the canceller. Several tests pin how the tracker
// follows real waveforms (its estimates are biased by the waveform and by steady tones); they
// describe this detector, not an ideal one, and must not be "fixed" without deciding to change
// the detector.

#include "dsp/CHumDetect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr double kRate = 14700.0;
constexpr unsigned kFrame = 512;

using Signal = std::function<double(long)>;

Signal sine(double hz, double amplitude = 0.5) {
    return [=](long n) {
        return amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / kRate);
    };
}

std::vector<float> samples(const Signal& signal, long from, long count) {
    std::vector<float> x(static_cast<std::size_t>(count));
    for (long n = 0; n < count; ++n) {
        x[static_cast<std::size_t>(n)] = static_cast<float>(signal(from + n));
    }
    return x;
}

void setFrequency(CHumDetect& detector, float hz) {
    detector.frequency = hz;
    detector.setLowerSpan(detector.lowerSpan);
    detector.setUpperSpan(detector.upperSpan);
}

// Runs detections on `seconds` of consecutive frames; returns how often each period won.
std::vector<int> track(CHumDetect& detector, const Signal& signal, double seconds,
                       long* position = nullptr) {
    std::vector<int> wins(1000, 0);
    long at = position != nullptr ? *position : 0;
    const auto frames = static_cast<long>(seconds * kRate / kFrame);
    for (long f = 0; f < frames; ++f, at += kFrame) {
        const std::vector<float> frame = samples(signal, at, kFrame);
        ++wins[std::min<unsigned>(detector.detect(frame.data()), 999)];
    }
    if (position != nullptr) {
        *position = at;
    }
    return wins;
}

struct TrackerState {
    float trackedFrequency, smoothAverage, fastAverage, candidate;
    bool locked;
    int holdCounter;
    bool operator==(const TrackerState&) const = default;
};

TrackerState stateOf(const CHumDetect& d) {
    return {d.trackedFrequency, d.smoothAverage, d.fastAverage,
            d.candidate,        d.locked,        d.holdCounter};
}

bool onStep(float hz) {
    return std::fabs(hz / 0.05f - std::round(hz / 0.05f)) < 1e-3f;
}

std::vector<float> run(CHumDetect& detector, const std::vector<float>& input, bool tracking,
                       float attenuationDb = 60.0f) {
    detector.tracking = tracking;
    std::vector<float> output(input.size());
    unsigned written = 0;
    EXPECT_EQ(detector.process(input.data(), output.data(), static_cast<unsigned>(input.size()),
                               &written, attenuationDb),
              0);
    EXPECT_EQ(written, input.size());
    return output;
}

TEST(CHumDetect, StartsUnsetAndFindsSixtyHertzFromTheFirstFrame) {
    CHumDetect detector;
    EXPECT_EQ(detector.trackedFrequency, -1.0f);
    EXPECT_EQ(detector.smoothAverage, -1.0f);
    EXPECT_FALSE(detector.locked);
    EXPECT_EQ(detector.holdFrames, 7);
    EXPECT_EQ(detector.frequency, 60.0f);
    EXPECT_FALSE(detector.tracking);

    const std::vector<float> first = samples(sine(60.0), 0, kFrame);
    EXPECT_EQ(detector.detect(first.data()), 245u);
    EXPECT_EQ(detector.trackedFrequency, 60.0f);
    const std::vector<int> wins = track(detector, sine(60.0), 10.0);
    EXPECT_EQ(wins[245], 287); // every frame
    EXPECT_EQ(detector.trackedFrequency, 60.0f);
    EXPECT_TRUE(detector.locked);
}

TEST(CHumDetect, FiftyNineSixHertzAlternatesTwoPeriodsAndSettlesOnAStep) {
    CHumDetect detector;
    long at = 0;
    std::vector<int> wins = track(detector, sine(59.6), 7.0, &at);
    EXPECT_EQ(detector.trackedFrequency, 59.8f); // adopted at once, 0.2 Hz from 60, once locked
    const std::vector<int> more = track(detector, sine(59.6), 23.0, &at);
    for (std::size_t p = 0; p < wins.size(); ++p) {
        wins[p] += more[p];
    }
    const int frames = wins[246] + wins[247];
    EXPECT_EQ(frames,
              static_cast<int>(7.0 * kRate / kFrame) + static_cast<int>(23.0 * kRate / kFrame));
    // 59.76 Hz (246) in about 86 % of the frames, 59.51 Hz (247) in the others.
    EXPECT_NEAR(static_cast<double>(wins[246]) / frames, 0.86, 0.02);
    EXPECT_TRUE(detector.locked);
    EXPECT_NEAR(detector.smoothAverage, 59.72, 0.05);
    EXPECT_EQ(detector.trackedFrequency, 59.75f);
    EXPECT_TRUE(onStep(detector.trackedFrequency));
}

TEST(CHumDetect, SilenceChangesNothing) {
    CHumDetect detector;
    const std::vector<float> silence(kFrame, 0.0f);
    EXPECT_EQ(detector.detect(silence.data()), 0u);
    EXPECT_EQ(stateOf(detector), (TrackerState{-1.0f, -1.0f, -1.0f, -1.0f, false, 7}));

    track(detector, sine(59.6), 2.0);
    const TrackerState before = stateOf(detector);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(detector.detect(silence.data()), 0u);
    }
    EXPECT_EQ(stateOf(detector), before);
}

TEST(CHumDetect, PassesTheSignalWithTheCancellersDelayUntilTheFirstEstimate) {
    CHumDetect detector;
    // A piece shorter than a frame gets no detection: no hum is cancelled yet, but the signal
    // already lags by the canceller's 35 samples. Then a frame is detected before it is
    // filtered; the stream runs on with the same delay.
    const std::vector<float> stream = samples(sine(60.0), 0, 300 + 2048);
    const std::vector<float> piece(stream.begin(), stream.begin() + 300);
    const std::vector<float> block(stream.begin() + 300, stream.end());
    std::vector<float> output = run(detector, piece, true);
    EXPECT_EQ(detector.trackedFrequency, -1.0f);
    const std::vector<float> rest = run(detector, block, true, 0.0f);
    EXPECT_EQ(detector.trackedFrequency, 60.0f);
    output.insert(output.end(), rest.begin(), rest.end());
    for (std::size_t n = 0; n < output.size(); ++n) {
        ASSERT_NEAR(output[n], n < 35 ? 0.0f : stream[n - 35], 2e-6f) << n;
    }
}

TEST(CHumDetect, TracksInWholeFramesAndFiltersTheRestOfTheBlock) {
    // 2100 samples: four frames with a detection each, then 52 samples without.
    const std::vector<float> block = samples(sine(60.0), 0, 2100);
    CHumDetect tracking;
    const std::vector<float> tracked = run(tracking, block, true);
    // The first locked frame starts the candidate with holdFrames - 1, each further frame
    // counts one down: four detections leave 3, a fifth would have left 2.
    EXPECT_EQ(tracking.holdCounter, 3);
    // Tracking at 60 Hz filters exactly as the nominal 60 Hz does.
    CHumDetect nominal;
    EXPECT_EQ(run(nominal, block, false), tracked);
    EXPECT_EQ(nominal.trackedFrequency, -1.0f); // not tracking: the tracker is untouched

    // In place, and in pieces of any length: the same samples.
    CHumDetect inPlace;
    inPlace.tracking = true;
    std::vector<float> buffer = block;
    unsigned written = 0;
    ASSERT_EQ(inPlace.process(buffer.data(), buffer.data(), 700, &written, 60.0f), 0);
    ASSERT_EQ(inPlace.process(buffer.data() + 700, buffer.data() + 700, 1400, &written, 60.0f), 0);
    EXPECT_EQ(written, 1400u);
    EXPECT_EQ(buffer, tracked);
}

TEST(CHumDetect, BlocksOfManyFramesTrackExactlyAsFrameByFrame) {
    // A block of several frames searches two frames at once over a range widened for the
    // second; the tracker and the output must be exactly those of one frame per call, also
    // while the search centre moves fast (a hum jumping from 50 to 57 Hz, far from the
    // nominal frequency), with a non-finite sample in one frame of a pair, and with blocks
    // that end inside a frame.
    const double seconds = 20.0;
    const auto total = static_cast<long>(seconds * kRate);
    std::vector<float> input(static_cast<std::size_t>(total));
    for (long n = 0; n < total; ++n) {
        const double hz = n < total / 2 ? 50.0 : 57.0;
        input[static_cast<std::size_t>(n)] = static_cast<float>(
            0.4 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / kRate) +
            0.1 * std::sin(2.0 * std::numbers::pi * 3.0 * hz * static_cast<double>(n) / kRate));
    }
    input[5 * 2048 + 700] = std::numeric_limits<float>::quiet_NaN();
    CHumDetect byBlock;
    CHumDetect byFrame;
    for (CHumDetect* d : {&byBlock, &byFrame}) {
        setFrequency(*d, 60.0f);
        d->tracking = true;
    }
    std::vector<float> outBlock(input.size());
    std::vector<float> outFrame(input.size());
    unsigned written = 0;
    std::size_t done = 0;
    for (std::size_t block : {2048u, 2048u, 3000u, 1536u, 2048u}) {
        for (; done + block <= input.size(); done += block) {
            ASSERT_EQ(byBlock.process(input.data() + done, outBlock.data() + done,
                                      static_cast<unsigned>(block), &written, 60.0f),
                      0);
            for (std::size_t at = done; at < done + block; at += kFrame) {
                const auto piece =
                    static_cast<unsigned>(std::min<std::size_t>(kFrame, done + block - at));
                ASSERT_EQ(byFrame.process(input.data() + at, outFrame.data() + at, piece, &written,
                                          60.0f),
                          0);
            }
            ASSERT_EQ(stateOf(byBlock), stateOf(byFrame)) << "after sample " << done + block;
        }
    }
    // The search centre went a long way (and with it the range of every frame).
    EXPECT_LT(byBlock.trackedFrequency, 55.0f);
    EXPECT_GT(byBlock.trackedFrequency, 50.0f);
    for (std::size_t i = 0; i < done; ++i) {
        ASSERT_TRUE(outBlock[i] == outFrame[i] ||
                    (std::isnan(outBlock[i]) && std::isnan(outFrame[i])))
            << "sample " << i;
    }
}

TEST(CHumDetect, TrackingOffFreezesTheTracker) {
    CHumDetect detector;
    long at = 0;
    for (int b = 0; b < 20; ++b, at += 2048) {
        run(detector, samples(sine(59.6), at, 2048), true);
    }
    const TrackerState frozen = stateOf(detector);
    for (int b = 0; b < 5; ++b, at += 2048) {
        run(detector, samples(sine(62.0), at, 2048), false);
    }
    EXPECT_EQ(stateOf(detector), frozen);
    run(detector, samples(sine(59.6), at, 2048), true);
    EXPECT_NE(detector.fastAverage, frozen.fastAverage);
}

TEST(CHumDetect, SmallChangesWaitForTheHoldWhileLargeOnesAreTakenAtOnce) {
    CHumDetect detector;
    // Locked at 60 with the averages one step higher: 60.05 must come out 7 frames in a row.
    detector.trackedFrequency = 60.0f;
    detector.candidate = 60.0f;
    detector.smoothAverage = detector.fastAverage = 60.05f;
    for (int frame = 1; frame < detector.holdFrames; ++frame) {
        detector.updateTracking(60.05f, 60.0f);
        EXPECT_TRUE(detector.locked);
        EXPECT_EQ(detector.trackedFrequency, 60.0f) << frame;
    }
    detector.updateTracking(60.05f, 60.0f);
    EXPECT_FLOAT_EQ(detector.trackedFrequency, 60.05f);
    EXPECT_EQ(detector.candidate, 60.0f);
    EXPECT_EQ(detector.holdCounter, detector.holdFrames);

    // A run that is interrupted starts over.
    detector.trackedFrequency = 60.0f;
    detector.candidate = -1.0f;
    for (int frame = 0; frame < 20; ++frame) {
        const float hz = frame % 5 == 4 ? 60.1f : 60.05f;
        detector.smoothAverage = detector.fastAverage = hz;
        detector.updateTracking(hz, 60.0f);
        EXPECT_EQ(detector.trackedFrequency, 60.0f) << frame;
    }

    // 0.2 Hz away: taken on the first locked frame.
    detector.smoothAverage = detector.fastAverage = 60.2f;
    detector.updateTracking(60.2f, 60.0f);
    EXPECT_FLOAT_EQ(detector.trackedFrequency, 60.2f);
    EXPECT_EQ(detector.candidate, 60.0f);

    // Averages 0.3 Hz apart: not locked, nothing adopted however far the value.
    detector.smoothAverage = 61.0f;
    detector.fastAverage = 61.3f;
    detector.updateTracking(61.3f, 61.0f);
    EXPECT_FALSE(detector.locked);
    EXPECT_FLOAT_EQ(detector.trackedFrequency, 60.2f);
    // The smooth average moves five times faster while not locked.
    EXPECT_FLOAT_EQ(detector.smoothAverage, (1.0f - 0.0075f) * 61.0f + 0.0075f * 61.3f);
}

TEST(CHumDetect, SearchCentreStaysWithinItsBounds) {
    // 75 Hz with the nominal 60: the centre stops at 66, whose shortest period, 202 samples
    // (72.77 Hz), is the closest the search gets.
    CHumDetect high;
    const std::vector<int> wins = track(high, sine(75.0), 30.0);
    EXPECT_GT(wins[202], 700);
    EXPECT_FLOAT_EQ(high.trackedFrequency, 72.7f);
    EXPECT_EQ(high.maxFrequency, 66.0f);

    // 42 Hz with the nominal at the lowest, 44.45: the search still reaches 10 % below.
    CHumDetect low;
    setFrequency(low, 44.45f);
    EXPECT_EQ(low.minFrequency, 44.45f);
    track(low, sine(42.0), 30.0);
    EXPECT_NEAR(low.trackedFrequency, 42.0f, 0.06f);
}

TEST(CHumDetect, EstimatesDependOnTheWaveformAndOnSteadyTones) {
    // Harmonics to 3 kHz at 1/k (one period of 245 samples, repeated): in sine phase every
    // frame finds the hum's period...
    auto harmonics = [](bool cosine) {
        std::vector<double> period(245);
        for (std::size_t n = 0; n < period.size(); ++n) {
            for (int k = 1; k * 60 <= 3000; ++k) {
                const double phase = 2.0 * std::numbers::pi * k * static_cast<double>(n) / 245.0;
                period[n] += 0.5 / k * (cosine ? std::cos(phase) : std::sin(phase));
            }
        }
        return [period](long n) { return period[static_cast<std::size_t>(n % 245)]; };
    };
    CHumDetect sinePhase;
    EXPECT_EQ(track(sinePhase, harmonics(false), 10.0)[245], 287);
    EXPECT_EQ(sinePhase.trackedFrequency, 60.0f);
    // ... in cosine phase most frames match 226 or 264 samples (65.0 or 55.7 Hz) instead, and
    // after 30 s the averages still disagree.
    CHumDetect cosinePhase;
    const std::vector<int> wins = track(cosinePhase, harmonics(true), 30.0);
    EXPECT_LT(wins[245], 100);
    EXPECT_GT(wins[226] + wins[264], 550);
    EXPECT_FALSE(cosinePhase.locked);
    EXPECT_FLOAT_EQ(cosinePhase.trackedFrequency, 59.9f);

    // A steady 1 kHz tone at half the hum's amplitude captures the search: the square wave of
    // 250 samples has its 17th harmonic at 999.6 Hz, and the tracker ends on 58.8 Hz.
    CHumDetect withTone;
    const Signal humAndTone = [](long n) { return sine(60.0)(n) + sine(1000.0, 0.25)(n); };
    long at = 0;
    EXPECT_GT(track(withTone, humAndTone, 30.0, &at)[250], 800);
    EXPECT_FLOAT_EQ(withTone.trackedFrequency, 58.85f);
    track(withTone, humAndTone, 30.0, &at);
    EXPECT_FLOAT_EQ(withTone.trackedFrequency, 58.8f);
}

TEST(CHumDetect, RateChangeResetsTheTrackerAndTheCanceller) {
    CHumDetect detector;
    track(detector, sine(60.0), 1.0);
    detector.setSampleRate(14700.0005f); // the same rate
    EXPECT_EQ(detector.trackedFrequency, 60.0f);

    detector.setSampleRate(16000.0f);
    EXPECT_EQ(detector.sampleRate, 16000.0f);
    EXPECT_EQ(detector.humFilter.getSampleRate(), 16000.0f);
    EXPECT_EQ(detector.humFilter.getMaxPeriod(), 399u); // sized for 40.005 Hz
    EXPECT_EQ(stateOf(detector), (TrackerState{-1.0f, -1.0f, -1.0f, -1.0f, false, 7}));
    EXPECT_EQ(detector.holdFrames, 7);
    // 60 Hz at 16 000 Hz: 266.7 samples, found as one of the whole periods beside it.
    std::vector<float> frame(kFrame);
    for (unsigned n = 0; n < kFrame; ++n) {
        frame[n] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 60.0 * n / 16000.0));
    }
    const unsigned period = detector.detect(frame.data());
    EXPECT_TRUE(period == 266u || period == 267u) << period;
}

TEST(CHumDetect, NonFiniteInputNeverReachesTheTracker) {
    CHumDetect detector;
    long at = 0;
    track(detector, sine(59.6), 2.0, &at);
    const TrackerState before = stateOf(detector);
    std::vector<float> frame = samples(sine(59.6), at, kFrame);
    frame[100] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(detector.detect(frame.data()), 0u);
    frame[100] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(detector.detect(frame.data()), 0u);
    // Finite but so large that the correlations overflow.
    std::vector<float> huge(kFrame, 3e38f);
    EXPECT_EQ(detector.detect(huge.data()), 0u);
    // One sample large enough that some periods' correlations could overflow and others not:
    // no estimate either, so that no processor's ordering of infinities decides.
    frame = samples(sine(59.6), at, kFrame);
    frame[300] = -1.5e30f;
    EXPECT_EQ(detector.detect(frame.data()), 0u);
    EXPECT_EQ(stateOf(detector), before);
    frame[300] = 1.0e30f; // below 2^100: searched
    CHumDetect fresh;
    EXPECT_NE(fresh.detect(frame.data()), 0u);

    // Through process: the bad block comes out as it may, the signal after it comes out clean.
    std::vector<float> block = samples(sine(59.6), at, 2048);
    block[5] = std::numeric_limits<float>::quiet_NaN();
    block[900] = -std::numeric_limits<float>::infinity();
    run(detector, block, true);
    const std::vector<float> after = run(detector, samples(sine(59.6), at + 2048, 2048), true);
    for (std::size_t n = 600; n < after.size(); ++n) {
        ASSERT_TRUE(std::isfinite(after[n])) << n;
        ASSERT_LT(std::fabs(after[n]), 0.6f) << n;
    }
    EXPECT_TRUE(std::isfinite(detector.fastAverage));
    EXPECT_TRUE(std::isfinite(detector.smoothAverage));
}

TEST(CHumDetect, BadArgumentsChangeNothing) {
    CHumDetect detector;
    detector.tracking = true;
    float buffer[16] = {};
    unsigned written = 5;
    EXPECT_EQ(detector.process(nullptr, buffer, 16, &written, 60.0f), 2);
    EXPECT_EQ(detector.process(buffer, nullptr, 16, &written, 60.0f), 2);
    EXPECT_EQ(detector.process(buffer, buffer, 16, nullptr, 60.0f), 2);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(detector.process(nullptr, nullptr, 0, &written, 60.0f), 0);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(detector.detect(nullptr), 0u);
    detector.setSampleRate(std::numeric_limits<float>::quiet_NaN());
    detector.setSampleRate(-1.0f);
    EXPECT_EQ(detector.sampleRate, 14700.0f);
}

} // namespace
