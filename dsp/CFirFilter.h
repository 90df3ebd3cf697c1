// The finite-impulse-response filter of the enhancement engine: a set of taps, the history that
// makes consecutive blocks one continuous signal, and tap management around the block engine
// (platform/FirEngine.h).
//
// Convention of both filtering paths: y[n] = sum_{m=0}^{N-1} h[m] x[n-m], with x[n-m] for samples
// before the current block taken from the history, and history never filled counting as 0.
// Samples are 32-bit floats at whatever rate the owner runs the filter; the filter adds a group
// delay of (N-1)/2 samples for symmetric and antisymmetric tap sets.
//
// Two independent paths with independent histories; an owner uses only one of them:
// - filter(): block filtering through the engine, all outputs returned (no start-up drop).
//   Vectorised, allocation-free (the engine's working memory is obtained when the taps are
//   set), bit-identical output whatever the block lengths.
// - filterDirect(): the plain direct form on `delayLine`, dropping the first N/2 outputs once
//   after a restart (init / setTaps) so that a symmetric filter's output lines up with its input.
//
// Threading: none inside; one owner calls it, never from two threads at once.
// Memory: obtained only when the tap count changes (setTaps / updateTaps); tap changes of the
// same count, init() and all filtering never allocate, whatever the block length.
#pragma once

#include "platform/FirEngine.h"

#include <vector>

class CFirFilter {
public:
    CFirFilter() = default;
    virtual ~CFirFilter() = default;
    CFirFilter(const CFirFilter&) = delete;
    CFirFilter& operator=(const CFirFilter&) = delete;

    // Clears both histories and sets `primed`; creates the engine state when taps exist but it
    // does not. Returns 0, or 1 when that memory cannot be obtained.
    virtual int init();

    // Direct-form filtering of `count` samples (see above). `output` has room for `count`
    // samples and may be the same array as `input`; *outCount receives the number written.
    // Returns 0 (count 0: nothing touched), or 2 when a pointer is null (nothing changed).
    virtual int filterDirect(const float* input, float* output, unsigned count, unsigned* outCount);

    // Block filtering of `count` samples continuing the history; writes `count` samples to
    // `output` (which may be the same array as `input`, not otherwise overlapping) and sets
    // *outCount = count. Returns 0, or 2 when a pointer is null and count > 0 (nothing changed).
    // Without taps the output is 0.
    virtual int filter(const float* input, float* output, unsigned count, unsigned* outCount);

    // Replaces the taps and restarts: both histories start from zero (`delayLine` keeps its
    // newest samples when the count changes) and `primed` is set. Exactly the stored taps:
    // nothing changes. Returns 0; 1 when memory cannot be obtained, 2 when `taps` is null with
    // count > 0 (both: nothing changed).
    virtual int setTaps(const float* taps, unsigned count);

    // Replaces the taps keeping the history, so the output runs on without a restart transient
    // (taps that change every block). A changed count re-creates the engine state (zero engine
    // history) and resizes `delayLine` keeping its newest samples; `primed` is untouched.
    // Results as setTaps.
    virtual int updateTaps(const float* taps, unsigned count);

    // Block filtering of the same `count` samples through this filter and `second` at once (two
    // filters always fed the same input, such as a band filter and its complement): `output` and
    // `secondOutput` receive what filter() on each would write, bit for bit (but for the sign and
    // payload of a NaN), and both histories advance; the input is read once for both, and
    // leading taps of `second` that are the negatives of this filter's are not multiplied
    // again. `output` may be the same array as `input`; `secondOutput` must overlap neither.
    // Returns 0, or 2 when a pointer is null and count > 0 (nothing changed).
    int filterAlongside(CFirFilter& second, const float* input, float* output, float* secondOutput,
                        unsigned count, unsigned* outCount);
    // Block filtering of `count` samples continuing the engine history, like filter(), but
    // only the filtered samples first, first + step, ... (< count) are written, to output[0],
    // output[1], ...; *outCount receives how many. Computes only those samples. `output` needs
    // room for them and may be the same array as `input`. Returns 0, or 2 for a null pointer
    // with count > 0.
    int filterDecimated(const float* input, unsigned count, unsigned first, unsigned step,
                        float* output, unsigned* outCount);

    // Block filtering, continuing the engine history, of the `outCount`-sample signal that is 0
    // except at positions first + step i (< outCount), which hold input[i] * scale
    // (i < inCount); all `outCount` outputs are written and *placed receives how many inputs
    // were used. Bit-identical to building that signal and calling filter(), without the
    // products by inserted zeros. `output` must not overlap `input`. Returns 0, or 2 for a null
    // pointer (input may be null when inCount is 0).
    int filterStuffed(const float* input, unsigned inCount, unsigned first, unsigned step,
                      float scale, float* output, unsigned outCount, unsigned* placed);

    bool isStateReady() const { return stateReady; }
    bool isPrimed() const { return primed; }
    const std::vector<float>& getTaps() const { return taps; }
    const std::vector<float>& getDelayLine() const { return delayLine; }

private:
    bool sameTaps(const float* newTaps, unsigned count) const;
    int replaceTaps(const float* newTaps, unsigned count, bool restart);

    bool stateReady = false;      // firState holds an engine state
    bool primed = true;           // the next filterDirect drops its first N/2 outputs
    std::vector<float> taps;      // h[0 .. N-1]
    std::vector<float> delayLine; // filterDirect's input history, oldest first (N entries)
    platform::FirState firState;  // the engine's copy of the taps and its own history
};
