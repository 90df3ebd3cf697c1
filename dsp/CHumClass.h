// Comb hum canceller: removes a hum fundamental and all of its harmonics with a feed-forward
// comb whose delay is one hum period, resolved to a tenth of a sample. The comb acts on the band
// part L of the signal only (a low-pass to about 5.8 kHz); the complementary part U passes
// unaltered. With g = 10^(-attenuationDb / 20):
//
//     y[n] = U[n] + ((1 + g) / 2) L[n] - ((1 - g) / 2) L[n - T],   T = rate / frequency,
//
// so every harmonic of the hum is scaled by g, the band half-way between harmonics passes at
// unity gain, and with 0 dB the output is the input delayed by 35 samples. The output always
// lags the input by 35 samples while the canceller runs (frequency >= 1 Hz).
//
// Units: rates and frequencies in Hz, periods and delays in samples at the internal rate,
// attenuation in dB (>= 0; negative or NaN counts as 0).
//
// Memory: the history and work buffers are sized for the lowest hum frequency (minFrequency)
// and the largest block (blockCapacity) and obtained in the constructor, setSampleRate,
// setMinFrequency and setBlockCapacity. process() obtains memory only when a call exceeds them
// (a block longer than blockCapacity, or a frequency below minFrequency), which rebuilds the
// buffers and restarts the comb's history with zeros; otherwise it never allocates.
//
// Threading: none inside; one owner calls it, never from two threads at once.
#pragma once

#include "dsp/CFirFilter.h"
#include "dsp/HumTables.h"

#include <memory>

class CHumClass {
public:
    CHumClass();
    virtual ~CHumClass();
    CHumClass(const CHumClass&) = delete;
    CHumClass& operator=(const CHumClass&) = delete;

    // Chooses the table set for `rate` (the 16 000 Hz set for exactly 16 000, else the
    // 14 700 Hz set), restarts the filters and rebuilds the buffers. A rate within 0.0001 of the
    // current one changes nothing; a rate that is not finite and positive is ignored.
    void setSampleRate(float rate);
    // Lowest hum frequency the history is sized for; restarts the filters and rebuilds the
    // buffers when it changes by 0.0001 or more. Values below 0.5 Hz or not finite are ignored.
    void setMinFrequency(float frequency);
    // Largest block the buffers hold; restarts the filters and rebuilds the buffers when it
    // changes.
    void setBlockCapacity(unsigned count);
    // Sizes the buffers for sampleRate, minFrequency and blockCapacity and clears the history.
    // Returns 0, or 1 when memory cannot be obtained (all buffers are then released).
    int allocate();
    // Releases whichever buffers exist.
    void releaseBuffers();
    // Clears the histories of the three filters (their taps stay).
    void initFilters();

    // Filters `count` samples at the hum `frequency` with `attenuationDb` of attenuation on every
    // harmonic. `output` may be the same array as `input`. A frequency below 1 Hz (the tracker's
    // -1 before its first estimate, also NaN), or one above the sample rate, copies the block
    // unchanged and undelayed. Returns 0 with *outCount = count; 1 when the buffers cannot be
    // built (nothing written, *outCount untouched); 2 when a pointer is null (nothing changed).
    int process(const float* input, float* output, unsigned count, unsigned* outCount,
                float frequency, float attenuationDb);

    float getSampleRate() const { return sampleRate; }
    float getMinFrequency() const { return minFrequency; }
    unsigned getBlockCapacity() const { return blockCapacity; }
    unsigned getMaxPeriod() const { return maxPeriod; }
    bool hasBuffers() const { return history != nullptr; }

private:
    CFirFilter bandFilter;            // band part L, delayed by 35 samples
    CFirFilter complementFilter;      // complementary part U, delayed by 35 samples
    CFirFilter delayFilter;           // L delayed by 35.5 - 0.1 t samples; taps exchanged per block
    float sampleRate = 0.0f;          // internal rate (Hz); 0 before the first setSampleRate
    float minFrequency = 48.5f;       // lowest hum frequency the history holds a period of (Hz)
    unsigned blockCapacity = 65536;   // largest block the buffers hold (samples)
    unsigned maxPeriod = 0;           // floor(sampleRate / minFrequency) (samples)
    std::unique_ptr<float[]> history; // recent input, oldest first, then the block
    std::unique_ptr<float[]> complementBuffer;   // complementFilter output of the block
    std::unique_ptr<float[]> bandBuffer;         // bandFilter output of the block
    std::unique_ptr<float[]> delayedBuffer;      // delayFilter output over history segment
    int tapCount = taps::kHumTapCount;           // taps per table, 73
    int fractionCount = taps::kHumFractionCount; // delay tables per set, 10
    const float* bandTaps = nullptr;             // band table of the current set
    const float* complementTaps = nullptr;       // complement table of the current set
    const float (*delayTaps)[taps::kHumTapCount] = nullptr; // delay tables of the current set

    // Derived per-call values kept between calls (they change no result):
    const float* loadedDelayTaps = nullptr; // the delay table delayFilter holds (null: unknown)
    unsigned continuedPeriod = 0; // whole-sample period p of the last delay filtering whose
                                  // input history delayFilter still holds; 0 when it holds none
    float gainAttenuation = 0.0f; // attenuation (dB) the mixing weights below were derived for
    float delayedWeight = 0.0f;   // (1 - g) / 2 for gainAttenuation
    float bandWeight = 1.0f;      // 1 - (1 - g) / 2 for gainAttenuation
};
