// Hum filter stage of one channel: decides the fundamental at which the comb canceller
// (CHumClass) works, either the nominal frequency set by the user or, with tracking on, one
// found in the signal itself. The tracker correlates each 512-sample frame with square waves of
// every whole-sample period within +-10 % of its current estimate, smooths the frame estimates
// heavily and adopts a new frequency only once they have settled, in steps of 0.05 Hz.
//
// Units: frequencies in Hz, rates in Hz, periods and frames in samples at the internal rate,
// attenuation in dB (0 ... 60). A frequency field holds -1 ("unset") until the tracker has had
// a first estimate.
//
// Threading: the nominal frequency, the spans and the search bounds are written by the parameter
// model from whichever thread sets the parameter and read by the audio path once per frame; they
// are relaxed atomics. Everything else belongs to the audio path: the chain sets `tracking`,
// calls process() and reads trackedFrequency / frequency afterwards, all on one thread;
// setSampleRate and reset run while no block is processed.
//
// Memory: the constructor, reset() and setSampleRate() obtain everything (about 1.3 MB at the
// internal rates: 1.05 MB of canceller buffers for 65 536-sample blocks, 0.2 MB of the search's
// kept weights); process() never allocates for blocks up to 65 536 samples and frequencies
// down to 40 Hz. Beyond that the canceller rebuilds its buffers inside process() (CHumClass).
//
// Caller: after changing `frequency` call setLowerSpan(lowerSpan) and setUpperSpan(upperSpan) so
// that the bounds follow. The other fields are for reading; change them only through the
// operations (tests may set the tracker's fields to put it in a given state).
#pragma once

#include "common/RelaxedFloat.h"
#include "dsp/CHumClass.h"
#include "dsp/SquareWaveSearch.h"

#include <memory>

class CHumDetect {
public:
    // Bounds of every nominal and tracked hum frequency (Hz).
    static constexpr float kMinHumFrequency = 44.45f;
    static constexpr float kMaxHumFrequency = 68.18f;
    // Value of a frequency field that has no estimate yet.
    static constexpr float kUnset = -1.0f;

    CHumDetect();
    virtual ~CHumDetect();
    CHumDetect(const CHumDetect&) = delete;
    CHumDetect& operator=(const CHumDetect&) = delete;

    // Forgets the tracker's state, restarts the canceller and rebuilds its buffers.
    void reset();
    // Re-rates the detector and its canceller and resets both, when `rate` differs from
    // sampleRate by 0.001 or more (otherwise nothing happens).
    void setSampleRate(float rate);

    // Relative span below and above the nominal frequency within which the search centre may
    // move; recomputes minFrequency / maxFrequency around the current frequency. A negative
    // span means no limit but the overall bounds.
    void setLowerSpan(float span);
    void setUpperSpan(float span);

    // Filters one block: at `frequency` when not tracking; when tracking, frame by frame at
    // trackedFrequency after a detection on every whole frame (a last partial frame is filtered
    // without one). The output lags the input by 35 samples; while trackedFrequency is still
    // unset (before the first non-silent frame) frames pass unchanged but for that delay. `output`
    // may be the same array as `input`. *outCount receives count. Returns 0; 1 when the canceller
    // could not obtain its buffers (those samples are passed through unchanged); 2 when a
    // pointer is null (nothing changed).
    int process(const float* input, float* output, unsigned count, unsigned* outCount,
                float attenuationDb);

    // One detection on a frame of frameLength samples: finds the square-wave period that best
    // matches it and updates the tracker. Returns that period, or 0 when the frame gave no
    // estimate (silence, or samples not finite or of 2^100 or more: then nothing changes).
    unsigned detect(const float* frame);
    // Moves the averages with one frame estimate and decides lock and adoption.
    void updateTracking(float estimate, float centre);

    // sign(v) * step * floor(|v| / step + 0.5); v itself when step <= 0.
    static float quantize(float value, float step);
    // True when `value` lies within 0.001 of -1.
    static bool isUnset(float value);

    float trackedFrequency = kUnset;     // frequency tracking has adopted (Hz), unset at first
    bool locked = false;                 // the two averages agree within 0.1 Hz
    RelaxedFloat frequency{60.0f};       // nominal hum frequency, 44.45 ... 68.18 (Hz)
    bool tracking = false;               // auto-tracking on; set by the chain before every block
    float sampleRate = 14700.0f;         // internal rate (Hz)
    unsigned frameLength = 512;          // analysis frame (samples)
    RelaxedFloat lowerSpan{0.1f};        // relative span below frequency
    RelaxedFloat upperSpan{0.1f};        // relative span above frequency
    float smoothAverage = kUnset;        // heavily smoothed frame estimates: search centre (Hz)
    float fastAverage = kUnset;          // lightly smoothed frame estimates, for the lock test (Hz)
    float candidate = kUnset;            // quantized frequency waiting to be confirmed (Hz)
    int holdFrames = 7;                  // frames a small change must persist: 0.25 s of frames
    int holdCounter = 7;                 // frames still to wait for the candidate
    RelaxedFloat minFrequency{54.0f};    // lowest search centre (Hz)
    RelaxedFloat maxFrequency{66.0f};    // highest search centre (Hz)
    std::unique_ptr<float[]> workBuffer; // one filtered frame (frameLength samples)
    CHumClass humFilter;                 // the comb canceller

private:
    // Filters one frame or piece at trackedFrequency through workBuffer; on failure passes it
    // through unchanged and returns 1.
    int filterPiece(const float* input, float* output, unsigned count, float attenuationDb);

    // A detection's search: periods lo ... hi around the search centre.
    struct Range {
        unsigned lo = 0;
        unsigned hi = 0;
        float centre = 0.0f;
    };
    // True when every sample of the frame is finite and below 2^100 in magnitude (larger
    // ones could make the correlations overflow).
    bool searchableFrame(const float* frame) const;
    // The search range of the next detection; false when there is none.
    bool searchRange(Range& range) const;
    // Picks the best period of `found` (results for range.lo ... range.hi) and updates the
    // tracker; returns it, or 0 when there is none.
    unsigned decide(const float* found, const Range& range);
    // Searches two consecutive frames at once and makes the first one's detection; the
    // second's is made by finishPair, which is called only after detectPair returned true.
    // False when nothing was done (a frame is not searchable, or there is no search): then
    // both are detected one at a time.
    bool detectPair(const float* first, const float* second);
    unsigned finishPair(const float* second);

    unsigned workCapacity = 0;        // samples workBuffer holds (0: missing)
    SquareWaveSearch search;          // square-wave correlation of a frame over periods, phases
    std::unique_ptr<float[]> matches; // the search's results per period: one frame's, then two
                                      // frames' of a pair (matchesLength each)
    unsigned matchesLength = 0;       // periods each part of matches holds
    unsigned pairLo = 1;              // range of the pair's results (empty at first)
    unsigned pairHi = 0;
};
