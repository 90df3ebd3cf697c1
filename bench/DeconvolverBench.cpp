// The predictable-noise reduction stage alone at 14 700 Hz: the cost of each kernel, and what
// it does to reverberant bursts (noise, or a 150 Hz harmonic series, in a room with a
// reverberation time of 0.3 s): the level change while the bursts sound and in their tails,
// reported as counters in dB.
#include "dsp/CDeconvolver.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr double kRate = 14700.0;
constexpr unsigned kBlock = 2048;

std::vector<float> sine(double hz, float amplitude, std::size_t n) {
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = amplitude *
               static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * double(i) / kRate));
    }
    return s;
}

std::vector<float> noise(float rms, std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> dist(0.0f, rms);
    std::vector<float> s(n);
    for (float& v : s) {
        v = dist(gen);
    }
    return s;
}

void setModel(CDeconvolver& d, bool reverb) {
    d.order = reverb ? 1024 : 128;
    d.delay = reverb ? 1 : 3;
}

void BM_Deconvolver(benchmark::State& state) {
    const auto kernel = static_cast<CDeconvolver::Kernel>(state.range(0));
    if (!CDeconvolver::kernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    CDeconvolver d;
    d.selectKernel(kernel);
    setModel(d, state.range(1) != 0);
    std::vector<float> in = sine(1000.0, 0.25f, kBlock * 16);
    const std::vector<float> hiss = noise(0.01f, in.size(), 10);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] += hiss[i];
    }
    std::vector<float> out(kBlock);
    std::size_t block = 0;
    for (auto _ : state) {
        unsigned produced = 0;
        d.process(in.data() + (block++ % 16) * kBlock, out.data(), kBlock, &produced);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}
// Kernels plain, SSE2, AVX, AVX-512; the short predictor and the long one (Reverb).
BENCHMARK(BM_Deconvolver)->ArgsProduct({{0, 1, 2, 3}, {0, 1}});

void BM_DeconvolverOnReverberantBursts(benchmark::State& state) {
    const bool reverb = state.range(0) != 0;
    const bool harmonic = state.range(1) != 0;
    const auto n = static_cast<std::size_t>(8 * kRate);
    const auto from = static_cast<std::size_t>(6 * kRate);
    // Bursts of 100 ms every 500 ms; levels while they sound and in their tails (from 20 ms
    // after each burst).
    const auto burst = static_cast<std::size_t>(0.1 * kRate);
    const auto period = static_cast<std::size_t>(0.5 * kRate);
    std::vector<float> room = noise(0.1f, static_cast<std::size_t>(0.3 * kRate), 8);
    room[0] = 1.0f;
    for (std::size_t j = 1; j < room.size(); ++j) {
        room[j] *= static_cast<float>(std::pow(1e-3, double(j) / double(room.size())));
    }
    std::vector<float> dry = noise(0.1f, n, 9);
    if (harmonic) {
        dry.assign(n, 0.0f);
        for (int k = 1; k <= 20; ++k) {
            const std::vector<float> partial = sine(150.0 * k, 0.05f / float(k), n);
            for (std::size_t i = 0; i < n; ++i) {
                dry[i] += partial[i];
            }
        }
    }
    std::vector<float> wet(n, 0.0f);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; i % period < burst && j < room.size() && i + j < n; ++j) {
            wet[i + j] += dry[i] * room[j];
        }
    }
    const auto split = [&](const std::vector<float>& s) {
        double on = 0.0;
        double off = 0.0;
        for (std::size_t i = from; i < n; ++i) {
            const std::size_t t = i % period;
            if (t < burst) {
                on += double(s[i]) * s[i];
            } else if (t >= burst + 294) {
                off += double(s[i]) * s[i];
            }
        }
        return std::pair{10.0 * std::log10(on), 10.0 * std::log10(off)};
    };
    std::vector<float> out(n);
    for (auto _ : state) {
        CDeconvolver d;
        setModel(d, reverb);
        for (std::size_t at = 0; at < n; at += kBlock) {
            unsigned produced = 0;
            const auto count = static_cast<unsigned>(std::min<std::size_t>(kBlock, n - at));
            d.process(wet.data() + at, out.data() + at, count, &produced);
        }
    }
    const auto [onIn, offIn] = split(wet);
    const auto [onOut, offOut] = split(out);
    state.counters["bursts_dB"] = onOut - onIn;
    state.counters["tails_dB"] = offOut - offIn;
}
// Short and long predictor; noise and harmonic bursts.
BENCHMARK(BM_DeconvolverOnReverberantBursts)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
