// One-sided magnitude spectrum of a block of real samples, linear or in decibels, for the
// spectrum display.
//
// setSize(n) chooses the transform length n (a power of two, 1 included) and allocates every
// buffer, the window table and the transform; transform() then windows the first n samples
// (zero-padded when fewer are given), runs the forward real FFT and writes n/2 values, bins
// 0 .. n/2 - 1 (the Nyquist bin is not reported). With X the unnormalized transform and m the
// one-sided magnitude, |X_0| for bin 0 and 2 |X_k| for the others, a bin reads
//   linear (scale != 1): m / n, so a sine of amplitude A centred on bin k reads A times the
//                        window's coherent gain, and a constant c reads c in bin 0;
//   decibels (scale 1):  20 log10(m / n), with m <= 0 taken as 1e-9 and m / n rounded to float
//                        first; all-zero input reads 20 log10(1e-9 / n), about -246.2 dB for
//                        n = 2048.
//
// Windows are the periodic (DFT-even) forms, w(j) for j = 0 .. n-1 with period n, the form meant
// for spectral analysis: a bin-centred sine spreads over a few neighbouring bins only and the
// coherent gain is exactly the window's mean (Hamming 0.54, Hann 0.5 or -6.02 dB, Blackman 0.42 or
// -7.54 dB, Bartlett 0.5). For n = 1 every window is 1.
//
// Threading: none inside. transform() runs on the audio thread and allocates nothing; setSize()
// allocates and must not run while a transform may. removeDC, scale and window are plain members
// the owner sets directly; they take effect at the next transform().
#pragma once

#include "common/BasicException.h"
#include "platform/RealFft.h"

#include <memory>
#include <vector>

class NspRealFft {
public:
    class NspRealFftErr : public Exceptions::BasicException {
    public:
        using BasicException::BasicException;
        const char* description() const noexcept override { return "General NspRealFft error."; }
    };

    class MemoryAllocationErr : public NspRealFftErr {
    public:
        using NspRealFftErr::NspRealFftErr;
        const char* description() const noexcept override {
            return "Error allocating memory in NspRealFft.";
        }
    };

    class InvalidParameterValue : public NspRealFftErr {
    public:
        using NspRealFftErr::NspRealFftErr;
        const char* description() const noexcept override {
            return "Invalid paramter value for NspRealFft.  Must be power of 2.";
        }
    };

    // Values of `window`; any other value applies no window.
    static constexpr int kWindowHamming = 1;
    static constexpr int kWindowHann = 2;
    static constexpr int kWindowBlackman = 3; // standard Blackman, alpha = 0.16
    static constexpr int kWindowBartlett = 4; // triangular

    NspRealFft();
    virtual ~NspRealFft();
    NspRealFft(const NspRealFft&) = delete;
    NspRealFft& operator=(const NspRealFft&) = delete;

    // Throws InvalidParameterValue when n <= 0 or n is not a power of two, leaving the object as
    // it was; throws MemoryAllocationErr when memory cannot be obtained, leaving it without
    // buffers (transform() then throws until a later setSize succeeds).
    void setSize(int n);
    // Transform length, 0 before the first successful setSize.
    int size() const { return n; }

    // `input`: min(count, n) samples, may be null when count <= 0 (a negative count counts as 0,
    // an all-zero block); `output`: room for n/2 values, never null. Throws MemoryAllocationErr
    // without a successful setSize, NspRealFftErr for a missing pointer.
    void transform(int count, const float* input, float* output);

private:
    void release();

    std::vector<float> buffer;     // n windowed samples (n + 2 floats allocated)
    std::vector<float> magnitudes; // complex spectrum, n/2 + 1 pairs (re, im), then the n/2
                                   // magnitudes built over it in place
    int n = 0;                     // transform length, a power of two; 0 without buffers
    unsigned order = 0;            // log2 n

public:
    bool removeDC = false;        // clear bin 0 after the transform
    int scale = 0;                // 1: decibels; anything else: linear magnitude
    int window = kWindowBlackman; // window shape, kWindow... above

private:
    std::vector<float> hamming;             // window tables of length n, made in setSize
    std::vector<float> hann;                //
    std::vector<float> blackman;            //
    std::vector<float> bartlett;            //
    std::unique_ptr<platform::RealFft> fft; // forward real FFT of length n
};
