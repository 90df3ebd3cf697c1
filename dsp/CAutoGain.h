// Automatic gain control, the last stage of the restoration chain: raises quiet passages toward a
// smoothed peak of 0.25 (-12.04 dBFS), never by more than maxGain, and never lowers loud ones.
//
// A decaying peak detector followed by a short smoother tracks the input magnitude; in stereo the
// larger magnitude of the two channels drives one gain for both (stereo-linked). The signal is
// delayed by 64 samples so that the gain already reflects a peak when the peak reaches the
// output, and the output is clipped to -1.0 ... 0.9999989867.
//
// Samples are linear, full scale 1.0. The coefficients are per sample and are not rescaled with
// the rate: at 14 700 Hz the peak falls with a time constant of 0.192 s (45.2 dB/s) and the
// smoother's is 3.0 ms. Input samples that are not finite count as 0, for the detector and in the
// delay, so they leave no trace in the state.
//
// State (peak, level, position, rings) carries over from call to call and between the mono and
// the stereo operation until reset(). The object owns no heap memory and its operations never
// allocate, lock or wait. Threading: none inside; the caller runs the operations from one thread
// at a time and changes maxGain only between calls.
#pragma once

#include "dsp/LookAheadGain.h"

#include <array>

class CAutoGain {
public:
    // Latency of both operations (samples).
    static constexpr unsigned kLookAhead = LookAheadGain::kLength;

    CAutoGain() = default;
    virtual ~CAutoGain() = default;
    CAutoGain(const CAutoGain&) = delete;
    CAutoGain& operator=(const CAutoGain&) = delete;

    // Returns peak, level, maxGain, position and rings to their values after construction.
    void reset();

    // One channel of count samples through the first ring with the current maxGain (the caller
    // sets it first). output may be input. A null pointer or a count of 0 changes nothing.
    void processMono(const float* input, float* output, unsigned count);

    // Two channels of count samples with one shared gain; stores maxGain (linear, at least 1 in
    // this system) first. Each output may be any of the inputs. Result 0 with *outCount = count,
    // or 2 when a pointer is null (then nothing changes and nothing is written).
    int processStereo(const float* inputLeft, const float* inputRight, float* outputLeft,
                      float* outputRight, unsigned count, unsigned* outCount, float maxGain);

    float peak{1.0f};     // decaying peak of the input magnitude (full scale 1.0)
    float level{1.0f};    // smoothed peak (full scale 1.0)
    float maxGain{3.16f}; // largest gain allowed (linear)
    unsigned position{0}; // next slot of the look-ahead rings, 0 ... 63
    std::array<std::array<float, kLookAhead>, 2> lookAhead{}; // delayed input, one ring per channel
    const float release{0.00035373334f}; // per-sample decay of peak (time constant 2826 samples)
    const float smoothing{0.022146666f}; // per-sample weight of the level smoother (44.65 samples)
};
