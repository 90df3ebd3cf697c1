// Speed of the FIR engine through CFirFilter and CResample, per kernel, on one core.
//
// Counters: samples/s (input samples of the call), MAC/s (multiply-adds actually needed per
// second: taps x outputs computed). The resampler pair (decimate 6144 samples by 3 plus
// interpolate 2048 by 3) is meant to be compared with FullRatePair, which filters every
// high-rate sample of both directions.
#include "dsp/CFirFilter.h"
#include "dsp/CResample.h"
#include "dsp/TapTables.h"
#include "platform/FirEngine.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using platform::FirKernel;

namespace {

std::vector<float> randomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x) {
        v = dist(rng);
    }
    return x;
}

bool useKernel(benchmark::State& state, FirKernel kernel) {
    if (!platform::selectFirKernel(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return false;
    }
    return true;
}

void setCounters(benchmark::State& state, double samples, double multiplyAdds) {
    state.counters["samples/s"] =
        benchmark::Counter(samples, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MAC/s"] =
        benchmark::Counter(multiplyAdds, benchmark::Counter::kIsIterationInvariantRate);
}

// A plain scalar loop, for scale: each output summed over the taps, one output at a time.
void PlainScalarLoop(benchmark::State& state) {
    const auto taps = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t kCount = 2048;
    const std::vector<float> h = randomSignal(taps, 1);
    const std::vector<float> x = randomSignal(kCount + taps, 2);
    std::vector<float> y(kCount);
    for (auto _ : state) {
        for (std::size_t n = 0; n < kCount; ++n) {
            float acc = 0.0f;
            for (std::size_t m = 0; m < taps; ++m) {
                acc += h[m] * x[n + taps - 1 - m];
            }
            y[n] = acc;
        }
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kCount, static_cast<double>(kCount * taps));
}
BENCHMARK(PlainScalarLoop)->Arg(256);

template <FirKernel kKernel>
void FirFilter(benchmark::State& state) {
    if (!useKernel(state, kKernel)) {
        return;
    }
    const auto taps = static_cast<unsigned>(state.range(0));
    constexpr unsigned kCount = 2048;
    const std::vector<float> h = randomSignal(taps, 3);
    const std::vector<float> x = randomSignal(kCount, 4);
    std::vector<float> y(kCount);
    CFirFilter fir;
    fir.setTaps(h.data(), taps);
    unsigned n = 0;
    for (auto _ : state) {
        fir.filter(x.data(), y.data(), kCount, &n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kCount, static_cast<double>(kCount) * taps);
    platform::selectFirKernel(platform::bestFirKernel());
}
BENCHMARK_TEMPLATE(FirFilter, FirKernel::Generic)->Arg(256)->Arg(512);
BENCHMARK_TEMPLATE(FirFilter, FirKernel::Sse2)->Arg(256)->Arg(512);
BENCHMARK_TEMPLATE(FirFilter, FirKernel::Avx)->Arg(256)->Arg(512);
BENCHMARK_TEMPLATE(FirFilter, FirKernel::Avx512)->Arg(256)->Arg(512);
BENCHMARK_TEMPLATE(FirFilter, FirKernel::Avx2Fma)->Arg(256)->Arg(512);

constexpr unsigned kLow = 2048;
constexpr unsigned kHigh = 3 * kLow;
constexpr double kTaps = taps::kResampleCount;

template <FirKernel kKernel>
void Decimate3(benchmark::State& state) {
    if (!useKernel(state, kKernel)) {
        return;
    }
    const std::vector<float> x = randomSignal(kHigh, 5);
    std::vector<float> y(kLow + 1);
    CResample resampler;
    resampler.setFactor(3);
    unsigned n = 0;
    for (auto _ : state) {
        resampler.decimate(x.data(), y.data(), kHigh, &n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kHigh, kLow * kTaps);
    platform::selectFirKernel(platform::bestFirKernel());
}
BENCHMARK_TEMPLATE(Decimate3, FirKernel::Sse2);
BENCHMARK_TEMPLATE(Decimate3, FirKernel::Avx);
BENCHMARK_TEMPLATE(Decimate3, FirKernel::Avx512);
BENCHMARK_TEMPLATE(Decimate3, FirKernel::Avx2Fma);

template <FirKernel kKernel>
void Interpolate3(benchmark::State& state) {
    if (!useKernel(state, kKernel)) {
        return;
    }
    const std::vector<float> x = randomSignal(kLow, 6);
    std::vector<float> y(kHigh);
    CResample resampler;
    resampler.setFactor(3);
    unsigned n = 0;
    for (auto _ : state) {
        resampler.interpolate(x.data(), y.data(), kLow, kHigh, &n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kLow, kHigh * kTaps / 3.0);
    platform::selectFirKernel(platform::bestFirKernel());
}
BENCHMARK_TEMPLATE(Interpolate3, FirKernel::Sse2);
BENCHMARK_TEMPLATE(Interpolate3, FirKernel::Avx);
BENCHMARK_TEMPLATE(Interpolate3, FirKernel::Avx512);
BENCHMARK_TEMPLATE(Interpolate3, FirKernel::Avx2Fma);

// One internal block of the chain in both directions: 6144 host-rate samples down, 2048 up.
template <FirKernel kKernel>
void ResamplePair3(benchmark::State& state) {
    if (!useKernel(state, kKernel)) {
        return;
    }
    const std::vector<float> x = randomSignal(kHigh, 7);
    std::vector<float> low(kLow + 1);
    std::vector<float> high(kHigh);
    CResample resampler;
    resampler.setFactor(3);
    unsigned n = 0;
    for (auto _ : state) {
        resampler.decimate(x.data(), low.data(), kHigh, &n);
        resampler.interpolate(low.data(), high.data(), kLow, kHigh, &n);
        benchmark::DoNotOptimize(high.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kHigh, 2.0 * kLow * kTaps);
    platform::selectFirKernel(platform::bestFirKernel());
}
BENCHMARK_TEMPLATE(ResamplePair3, FirKernel::Sse2);
BENCHMARK_TEMPLATE(ResamplePair3, FirKernel::Avx);
BENCHMARK_TEMPLATE(ResamplePair3, FirKernel::Avx512);
BENCHMARK_TEMPLATE(ResamplePair3, FirKernel::Avx2Fma);

// The same two directions filtering every high-rate sample (what the pair must beat).
template <FirKernel kKernel>
void FullRatePair(benchmark::State& state) {
    if (!useKernel(state, kKernel)) {
        return;
    }
    const std::vector<float> x = randomSignal(kHigh, 8);
    std::vector<float> y(kHigh);
    CFirFilter down;
    CFirFilter up;
    down.setTaps(taps::kResample3, taps::kResampleCount);
    up.setTaps(taps::kResample3, taps::kResampleCount);
    unsigned n = 0;
    for (auto _ : state) {
        down.filter(x.data(), y.data(), kHigh, &n);
        up.filter(x.data(), y.data(), kHigh, &n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, kHigh, 2.0 * kHigh * kTaps);
    platform::selectFirKernel(platform::bestFirKernel());
}
BENCHMARK_TEMPLATE(FullRatePair, FirKernel::Sse2);
BENCHMARK_TEMPLATE(FullRatePair, FirKernel::Avx);
BENCHMARK_TEMPLATE(FullRatePair, FirKernel::Avx512);
BENCHMARK_TEMPLATE(FullRatePair, FirKernel::Avx2Fma);

} // namespace
