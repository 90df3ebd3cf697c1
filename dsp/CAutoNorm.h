// Auto-normalizer, the first stage of the restoration chain: brings the incoming signal to a
// working level before the other stages see it. Quiet recordings are raised toward a smoothed
// peak of 0.25 (-12.04 dBFS) by at most 3.16 (about +10 dB); loud ones pass with gain 1.
//
// The same look-ahead peak follower as the automatic gain control (CAutoGain) with a ten times
// slower peak release, so the gain follows the recording's level rather than its phrases: at
// 14 700 Hz the peak falls with a time constant of 1.92 s (4.5 dB/s). Stereo-linked; the output
// is delayed by 64 samples and clipped to -1.0 ... 0.9999989867. Samples are linear, full scale
// 1.0; input samples that are not finite count as 0, for the detector and in the delay.
//
// State (peak, level, position, rings) carries over from call to call and between the mono and
// the stereo operation until reset(). The object owns no heap memory and its operations never
// allocate, lock or wait. Threading: none inside; the caller runs the operations from one thread
// at a time.
#pragma once

#include "dsp/LookAheadGain.h"

#include <array>

class CAutoNorm {
public:
    // Latency of both operations (samples).
    static constexpr unsigned kLookAhead = LookAheadGain::kLength;
    // The gain limit processStereo always uses, and the caller sets before processMono (linear).
    static constexpr float kFixedMaxGain = 3.16f;

    CAutoNorm() = default;
    virtual ~CAutoNorm() = default;
    CAutoNorm(const CAutoNorm&) = delete;
    CAutoNorm& operator=(const CAutoNorm&) = delete;

    // Returns peak, level, maxGain, position and rings to their values after construction.
    void reset();

    // One channel of count samples through the first ring with the current maxGain (the caller
    // sets it to 3.16 first). output may be input. A null pointer or a count of 0 changes nothing.
    void processMono(const float* input, float* output, unsigned count);

    // Two channels of count samples with one shared gain; sets maxGain to 3.16 first. Each output
    // may be any of the inputs. Result 0 with *outCount = count, or 2 when a pointer is null (then
    // nothing changes and nothing is written).
    int processStereo(const float* inputLeft, const float* inputRight, float* outputLeft,
                      float* outputRight, unsigned count, unsigned* outCount);

    float peak{1.0f};             // decaying peak of the input magnitude (full scale 1.0)
    float level{1.0f};            // smoothed peak (full scale 1.0)
    float maxGain{kFixedMaxGain}; // largest gain allowed (linear)
    unsigned position{0};         // next slot of the look-ahead rings, 0 ... 63
    std::array<std::array<float, kLookAhead>, 2> lookAhead{}; // delayed input, one ring per channel
    const float release{3.5373334e-05f}; // per-sample decay of peak (time constant 28 269 samples)
    const float smoothing{0.022146666f}; // per-sample weight of the level smoother (44.65 samples)
};
