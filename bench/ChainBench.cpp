// The whole processing chain as a host runs it: stereo, 44.1 kHz, 512-frame host calls.
// "realtime" is seconds of audio processed per second of one core.
#include "plugin/VeltranoVST.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

void runChain(benchmark::State& state, std::initializer_list<VstInt32> switches) {
    constexpr float kRate = 44100.0f;
    constexpr int kCall = 512;
    constexpr int kFrames = 44100; // one second per iteration
    VeltranoVST plugin(quietHost);
    plugin.setSampleRate(kRate);
    for (VstInt32 index : switches) {
        plugin.setParameter(index, 1.0f);
    }
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> inL(kFrames);
    std::vector<float> inR(kFrames);
    for (int n = 0; n < kFrames; ++n) {
        inL[n] = noise(random);
        inR[n] = noise(random);
    }
    std::vector<float> outL(kFrames);
    std::vector<float> outR(kFrames);
    for (auto _ : state) {
        for (int pos = 0; pos + kCall <= kFrames; pos += kCall) {
            float* in[2] = {inL.data() + pos, inR.data() + pos};
            float* out[2] = {outL.data() + pos, outR.data() + pos};
            plugin.processReplacing(in, out, kCall);
        }
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    const double seconds =
        static_cast<double>(state.iterations()) * (kFrames / kCall) * kCall / kRate;
    state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void BM_ChainAllOff(benchmark::State& state) {
    runChain(state, {});
}

void BM_ChainHighPassEqualizer(benchmark::State& state) {
    runChain(state, {kHighPass, kEqualizer});
}

void BM_ChainEveryStage(benchmark::State& state) {
    runChain(state, {kAutoNormalize, kHighPass, kHumFilter, kHumAutoTrack, kPredictableNoise,
                     kRandomNoise, kEqualizer, kAutoGain});
}

void BM_ChainEveryStageReverb(benchmark::State& state) {
    runChain(state, {kAutoNormalize, kHighPass, kHumFilter, kHumAutoTrack, kPredictableNoise,
                     kReverb, kRandomNoise, kEqualizer, kAutoGain});
}

} // namespace

BENCHMARK(BM_ChainAllOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainEveryStage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainEveryStageReverb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainHighPassEqualizer)->Unit(benchmark::kMillisecond);
