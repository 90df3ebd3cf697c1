#include "analyzer/NspRealFft.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <new>
#include <numbers>

namespace {

// Periodic cosine-sum window sum_i a_i cos(2 pi i j / n), computed in double and rounded once.
void cosineWindow(std::vector<float>& table, double a0, double a1, double a2) {
    const std::size_t n = table.size();
    for (std::size_t j = 0; j < n; ++j) {
        const double phase =
            2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(n);
        const double w = a0 - a1 * std::cos(phase) + a2 * std::cos(2.0 * phase);
        // Blackman's end point sums to 0 only up to rounding; keep it from going negative.
        table[j] = static_cast<float>(std::max(w, 0.0));
    }
}

// Periodic triangle: 0 at j = 0, 1 at j = n/2.
void bartlettWindow(std::vector<float>& table) {
    const std::size_t n = table.size();
    for (std::size_t j = 0; j < n; ++j) {
        const double x = 2.0 * static_cast<double>(j) / static_cast<double>(n);
        table[j] = static_cast<float>(1.0 - std::abs(x - 1.0));
    }
}

} // namespace

NspRealFft::NspRealFft() = default;

NspRealFft::~NspRealFft() = default;

void NspRealFft::release() {
    // Swapping with empty vectors gives the memory back (clear() would keep it).
    std::vector<float>().swap(buffer);
    std::vector<float>().swap(magnitudes);
    std::vector<float>().swap(hamming);
    std::vector<float>().swap(hann);
    std::vector<float>().swap(blackman);
    std::vector<float>().swap(bartlett);
    fft.reset();
    n = 0;
    order = 0;
}

void NspRealFft::setSize(int length) {
    if (length <= 0 || !std::has_single_bit(static_cast<unsigned>(length))) {
        throw InvalidParameterValue();
    }
    // The old buffers go first, so that a resize never holds both sizes at once.
    release();
    const auto floats = static_cast<std::size_t>(length);
    try {
        buffer.assign(floats + 2, 0.0f);
        magnitudes.assign(floats + 2, 0.0f);
        hamming.resize(floats);
        hann.resize(floats);
        blackman.resize(floats);
        bartlett.resize(floats);
        fft = std::make_unique<platform::RealFft>(static_cast<unsigned>(length));
    } catch (const std::bad_alloc&) {
        release();
        throw MemoryAllocationErr();
    }
    if (length == 1) {
        hamming[0] = hann[0] = blackman[0] = bartlett[0] = 1.0f;
    } else {
        cosineWindow(hamming, 0.54, 0.46, 0.0);
        cosineWindow(hann, 0.5, 0.5, 0.0);
        cosineWindow(blackman, 0.42, 0.5, 0.08);
        bartlettWindow(bartlett);
    }
    n = length;
    order = static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(length)));
}

void NspRealFft::transform(int count, const float* input, float* output) {
    if (buffer.empty() || magnitudes.empty()) {
        throw MemoryAllocationErr(0, "NspRealFft constructor failed allocating memory");
    }
    count = std::clamp(count, 0, n);
    if ((count > 0 && input == nullptr) || output == nullptr) {
        throw NspRealFftErr(0, "NspRealFft::transform: null sample pointer");
    }

    float* const samples = buffer.data();
    std::copy(input, input + count, samples);
    std::fill(samples + count, samples + n, 0.0f);

    const std::vector<float>* shape = nullptr;
    switch (window) {
    case kWindowHamming:
        shape = &hamming;
        break;
    case kWindowHann:
        shape = &hann;
        break;
    case kWindowBlackman:
        shape = &blackman;
        break;
    case kWindowBartlett:
        shape = &bartlett;
        break;
    default:
        break;
    }
    if (shape != nullptr) {
        const float* w = shape->data();
        for (int j = 0; j < n; ++j) {
            samples[j] *= w[j];
        }
    }

    // Interleaved pairs (re, im) for bins 0 .. n/2 into `magnitudes`; the magnitude of bin k is
    // then written over index k, which only pairs k and later still need.
    float* const spectrum = magnitudes.data();
    fft->forwardComplex(samples, spectrum);
    if (removeDC) {
        spectrum[0] = spectrum[1] = 0.0f;
    }
    const int bins = n / 2;
    for (int k = 0; k < bins; ++k) {
        const float re = spectrum[2 * k];
        const float im = spectrum[2 * k + 1];
        spectrum[k] = std::sqrt(re * re + im * im);
    }
    // One-sided spectrum: every bin but DC carries its negative-frequency twin too.
    for (int k = 1; k < bins; ++k) {
        spectrum[k] *= 2.0f;
    }
    // The transform is unnormalized: dividing by n turns the one-sided magnitude into the
    // amplitude of the sinusoid in the bin, in both scales. n is a power of two, so the division
    // is exact and the linear value is the very ratio the decibel value is taken of.
    const auto length = static_cast<float>(n);
    if (scale == 1) {
        for (int k = 0; k < bins; ++k) {
            const float m = spectrum[k] <= 0.0f ? 1e-9f : spectrum[k];
            const float ratio = m / length;
            spectrum[k] = static_cast<float>(20.0 * std::log10(static_cast<double>(ratio)));
        }
    } else {
        for (int k = 0; k < bins; ++k) {
            spectrum[k] /= length;
        }
    }
    std::copy(spectrum, spectrum + bins, output);
}
