// Integer-factor sample-rate change of a block stream, with a linear-phase anti-alias /
// anti-image low-pass (256 taps, group delay 127.5 samples at the high rate).
//
// The processing chain owns two per channel: one set to the decimation factor and one to the
// interpolation factor. Each direction has its own filter and history, so one object can lower
// the rate on the way in and raise it on the way out.
// - decimate: low-pass at the high rate, then keep every f-th filtered sample, counted
//   continuously across blocks (a block whose length is not a multiple of f leaves the offset
//   of the next kept sample to the next block).
// - interpolate: insert f-1 zeros after every sample, scale by f (restores the level), low-pass
//   at the high rate; the grid of inserted samples also continues across blocks.
// Only the samples kept and the products with real samples are computed (polyphase); the
// results equal filter-and-drop and zero-stuff-and-filter bit for bit.
//
// Latency: one interpolate and one decimate of the same object add 255 high-rate samples,
// 255 / f low-rate samples.
//
// Memory: obtained at construction; setFactor, reset and the block operations never allocate,
// whatever the block length. Threading: none inside; one owner calls it, never from two
// threads at once.
#pragma once

#include "dsp/CFirFilter.h"

class CResample {
public:
    // Factor 2, zero histories.
    CResample();
    virtual ~CResample() = default;
    CResample(const CResample&) = delete;
    CResample& operator=(const CResample&) = delete;

    // Like interpolate(), finding the positions of the inserted samples with a running counter
    // (interpolationPhase counts samples since the last inserted one). Writes
    // min(f * count, capacity) samples.
    virtual int interpolateByCounter(const float* input, float* output, unsigned count,
                                     unsigned capacity, unsigned* outCount);
    // Like decimate(), finding the kept samples with a running counter (counterPhase).
    virtual int decimateByCounter(const float* input, float* output, unsigned count,
                                  unsigned* outCount);

    // Raises the rate of `count` samples by f: writes m = min(f * count, capacity) samples to
    // `output` (room for `capacity`, must not overlap `input`) and sets *outCount = m. Inputs
    // that do not fit in `capacity` are dropped, not carried to the next block. Returns 0, or
    // 2 when a pointer needed is null (nothing changed).
    virtual int interpolate(const float* input, float* output, unsigned count, unsigned capacity,
                            unsigned* outCount);
    // Lowers the rate of `count` samples by f: writes the kept samples to `output` (room for
    // count / f + 1; may be the same array as `input`) and sets *outCount to their number.
    // Returns 0, or 2 when a pointer is null with count > 0 (nothing changed).
    virtual int decimate(const float* input, float* output, unsigned count, unsigned* outCount);

    // Zero histories in both directions and all phases 0. Returns 0.
    virtual int reset();
    // Selects factor f and its low-pass (2, 4, 6 their own tables; any other value the
    // factor-3 table) and resets. The current factor: nothing happens. f < 1 is ignored.
    virtual void setFactor(int f);
    virtual int getFactor() const { return factor; }

    unsigned getInterpolationPhase() const { return interpolationPhase; }
    int getCounterPhase() const { return counterPhase; }
    unsigned getDecimationPhase() const { return decimationPhase; }

private:
    CFirFilter decimationFilter;     // low-pass at the high rate before samples are dropped
    CFirFilter interpolationFilter;  // low-pass at the high rate after zeros are inserted
    unsigned interpolationPhase = 0; // offset of the first input in the next interpolated block
                                     // (the counter of interpolateByCounter)
    int counterPhase = 0;            // samples since the last kept one (decimateByCounter)
    unsigned decimationPhase = 0;    // offset of the next kept sample in the next decimated block
    int factor = 2;                  // rate-change factor f
};
