// Single stages on the chain's internal block (2048 samples at 14 700 Hz), so that each one's
// share of the whole chain can be read against BM_Chain*: per second of stereo 44.1 kHz audio
// the chain runs 2 x 7.18 such blocks.
#include "analyzer/SpectrumAnalyzer.h"
#include "dsp/CHumDetect.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr unsigned kBlock = 2048;
constexpr float kRate = 14700.0f;

void BM_HumStage(benchmark::State& state) {
    const bool tracking = state.range(0) != 0;
    CHumDetect detector;
    detector.setSampleRate(kRate);
    detector.tracking = tracking;
    std::mt19937 random(2);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> in(kBlock * 64);
    for (std::size_t n = 0; n < in.size(); ++n) {
        in[n] = 0.1f * std::sin(2.0f * std::numbers::pi_v<float> * 59.8f * static_cast<float>(n) /
                                kRate) +
                noise(random);
    }
    std::vector<float> out(kBlock);
    std::size_t block = 0;
    for (auto _ : state) {
        unsigned produced = 0;
        detector.process(in.data() + (block % 64) * kBlock, out.data(), kBlock, &produced, 60.0f);
        ++block;
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["blocks"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The spectrum display's feed of one block as the editor configures it (1024 bins, both traces):
// two 2048-point transforms and the smoothing.
void BM_SpectrumFeed(benchmark::State& state) {
    SpectrumAnalyzer view({231, 66, 568, 181});
    view.setBarCount(1024);
    view.averaging = 4;
    view.lineGraph = true;
    view.sampleRate = 16000;
    view.displayMode = 2;
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> in(kBlock);
    std::vector<float> out(kBlock);
    for (std::size_t n = 0; n < kBlock; ++n) {
        in[n] = noise(random);
        out[n] = 0.5f * in[n];
    }
    for (auto _ : state) {
        view.feed(static_cast<int>(kBlock), in.data(), out.data());
        benchmark::DoNotOptimize(view.maxLevel);
    }
}

} // namespace

BENCHMARK(BM_HumStage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumFeed)->Unit(benchmark::kMicrosecond);
