// Hum filter stage of one channel: decides the fundamental at which the comb canceller works,
// either the nominal frequency set by the user or one tracked in the signal.
//
// Frequencies in Hz. The nominal frequency and its search bounds are written by the parameter
// model from whichever thread sets the parameter and read by the audio path once per block;
// they are held as relaxed atomics for that.
#pragma once

#include "common/RelaxedFloat.h"

class CHumDetect {
public:
    // Bounds of every nominal and tracked hum frequency (Hz).
    static constexpr float kMinHumFrequency = 44.45f;
    static constexpr float kMaxHumFrequency = 68.18f;

    CHumDetect();
    virtual ~CHumDetect() = default;
    CHumDetect(const CHumDetect&) = delete;
    CHumDetect& operator=(const CHumDetect&) = delete;

    // Relative span below and above the nominal frequency within which the search centre may
    // move; recomputes minFrequency / maxFrequency around the current frequency. A negative
    // span means no limit but the overall bounds.
    void setLowerSpan(float span);
    void setUpperSpan(float span);

    RelaxedFloat frequency{60.0f};    // nominal hum frequency, 44.45 ... 68.18
    float sampleRate{14700.0f};       // internal rate the detector runs at
    unsigned frameLength{512};        // analysis frame (samples)
    RelaxedFloat lowerSpan{0.1f};     // relative span below frequency
    RelaxedFloat upperSpan{0.1f};     // relative span above frequency
    RelaxedFloat minFrequency{54.0f}; // lowest search centre
    RelaxedFloat maxFrequency{66.0f}; // highest search centre
};
