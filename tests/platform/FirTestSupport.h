// Helpers shared by the tests of the FIR engine and of the filters built on it.
#pragma once

#include "platform/FirEngine.h"

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace firtest {

// Uniform noise in [-1, 1), the same for the same seed.
inline std::vector<float> randomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x) {
        v = dist(rng);
    }
    return x;
}

// Bit-for-bit equality (tells -0 from +0; a NaN equals the same NaN).
inline bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// The kernel that rounds like a plain multiply-then-add loop.
inline platform::FirKernel baselineKernel() {
    return platform::firKernelAvailable(platform::FirKernel::Sse2) ? platform::FirKernel::Sse2
                                                                   : platform::FirKernel::Generic;
}

// Makes `kernel` the active one for the lifetime of the object.
class KernelScope {
public:
    explicit KernelScope(platform::FirKernel kernel) : previous(platform::activeFirKernel()) {
        platform::selectFirKernel(kernel);
    }
    ~KernelScope() { platform::selectFirKernel(previous); }
    KernelScope(const KernelScope&) = delete;
    KernelScope& operator=(const KernelScope&) = delete;

private:
    platform::FirKernel previous;
};

} // namespace firtest
