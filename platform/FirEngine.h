// Block FIR engine: the filtering routines the enhancement engine's filters run on.
//
// A FirState holds its own copy of the taps and of the input history (the last N-1 input
// samples), so consecutive blocks form one continuous signal. Every output sample is
//
//     y[n] = sum_{m=0}^{N-1} h[m] * x[n-m]          (history never filled counts as 0)
//
// accumulated in single precision from m = 0 upward, one multiply and one add per tap (or one
// fused multiply-add per tap in the AVX2+FMA kernel). The kernels vectorise across output
// samples, never across taps, so sample n is computed by exactly the same operations whatever
// the block boundaries are: a stream cut into blocks of any lengths gives bit-identical output
// to the same stream in one block. With the multiply-add kernels (Generic, Sse2) the result is
// also bit-identical to a plain scalar loop in the same order.
//
// Memory: init() obtains everything a state will ever use (taps, history, one fixed-size
// working chunk of kFirChunk samples and the polyphase tables); longer blocks are processed
// chunk by chunk, so no call after init() allocates, whatever its length.
//
// Threading: a FirState belongs to one thread at a time. The kernel selection is process-wide;
// select it before audio starts (changing it mid-stream changes rounding, not correctness).
// Results identical on every machine, whatever its processor: select Sse2 (or Generic).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The inner loops the engine can run on. Results of Generic, Sse2, Avx and Avx512 are
// bit-identical, so the output does not depend on the machine; Avx2Fma rounds once per tap
// instead of twice and so differs from them in the last bits: it is never chosen by default.
enum class FirKernel {
    Generic, // plain C++, several outputs per pass; the fallback on non-x86 builds
    Sse2,    // x86 baseline (x86-64 always, 32-bit x86 when built with SSE2)
    Avx2Fma, // 8 lanes with fused multiply-add, only when selected explicitly
    Avx,     // 8 lanes, multiply then add, chosen at run time when the processor has it
    Avx512,  // 16 lanes, multiply then add (x86-64), chosen at run time before Avx
};

// True when the kernel is compiled in and the processor (and operating system) can run it.
bool firKernelAvailable(FirKernel kernel);
// The fastest available kernel with the reference roundings: Avx512, else Avx, else Sse2, else
// Generic.
FirKernel bestFirKernel();
// The kernel every FirState uses from now on. Until selectFirKernel is called this is
// bestFirKernel().
FirKernel activeFirKernel();
// Makes `kernel` the active one; returns false and changes nothing when it is not available.
bool selectFirKernel(FirKernel kernel);

// Samples per internal working chunk. Blocks of any length are filtered in chunks of at most
// this many output samples; the chunking does not change any result.
inline constexpr unsigned kFirChunk = 2048;
// Largest rate-change factor filtered polyphase (only the needed products are computed); larger
// factors fall back to filtering every high-rate sample, with the same results.
inline constexpr unsigned kFirMaxPolyphaseFactor = 16;

// One FIR filter's state: its taps, its history and its working memory.
class FirState {
public:
    FirState() = default;
    ~FirState() = default;
    FirState(const FirState&) = delete;
    FirState& operator=(const FirState&) = delete;
    FirState(FirState&&) noexcept = default;
    FirState& operator=(FirState&&) noexcept = default;

    // Creates the state with a copy of `count` taps and an all-zero history, replacing what it
    // held before. Returns 0; 1 when memory cannot be obtained, 2 when `taps` is null and
    // `count` > 0 (in both cases nothing changed). A state with 0 taps is valid and filters
    // everything to 0.
    int init(const float* taps, unsigned count);
    // Replaces the taps with `tapCount()` new values; the history is kept, so the output runs
    // on without a restart. `taps` must hold tapCount() values; null is ignored.
    void setTaps(const float* taps);
    // Clears the history to zeros.
    void clearHistory();
    // Releases everything init() obtained; the state is then not ready.
    void release();

    bool ready() const { return ready_; }
    unsigned tapCount() const { return tapCount_; }

    // Filters `count` samples continuing the history. `output` may be the same array as `input`
    // (not otherwise overlapping). Requires ready(); a state that is not ready writes zeros.
    void filter(const float* input, float* output, unsigned count);

    // Filters the same `count` samples through this state and `second` in one pass over the
    // input: `output` receives what filter() would write here and `secondOutput` what
    // second.filter() would write, bit for bit (but for the sign and payload of a NaN), and both
    // histories advance. Faster than the two calls when the two states hold the same number of
    // taps and identical histories (as two filters always fed the same input do), most of all
    // when the second's leading taps are the negatives of this one's (a filter and its
    // complement); otherwise it makes the two calls. `output` may be the same array as `input`;
    // `secondOutput` must overlap neither.
    void filterAlongside(FirState& second, const float* input, float* output, float* secondOutput,
                         unsigned count);

    // Filters `count` samples continuing the history like filter(), but writes only the filtered
    // samples first, first + step, first + 2 step, ... (< count) to output[0], output[1], ...
    // and returns how many it wrote. `output` needs room for that many; it may be the same
    // array as `input`. step must be at least 1 (0 writes nothing and only advances the
    // history).
    unsigned filterDecimated(const float* input, unsigned count, unsigned first, unsigned step,
                             float* output);

    // Filters, continuing the history, the `outCount`-sample signal that is zero everywhere
    // except at positions first + step i (< outCount), which hold input[i] * scale for
    // i < inCount; writes all `outCount` filtered samples and returns how many inputs were
    // placed. The result is bit-identical to building that signal and passing it to filter():
    // the skipped products are those with an inserted zero, and adding a zero product to a sum
    // that started at +0 changes nothing. `output` must not overlap `input`. step must be at
    // least 1 (0 places nothing).
    unsigned filterStuffed(const float* input, unsigned inCount, unsigned first, unsigned step,
                           float scale, float* output, unsigned outCount);

private:
    bool historyZeroOffGrid(unsigned first, unsigned step) const;
    void preparePolyphase(unsigned step);
    void stuffedChunkPlain(const float* input, unsigned inCount, std::int64_t firstPos,
                           unsigned step, float scale, std::int64_t start, unsigned c, float* out);
    void stuffedChunkPolyphase(const float* input, unsigned inCount, std::int64_t firstPos,
                               unsigned step, float scale, std::int64_t start, unsigned c,
                               float* out);
    void advanceStuffedHistory(const float* input, unsigned inCount, std::int64_t firstPos,
                               unsigned step, float scale, std::int64_t start, unsigned c);

    bool ready_ = false;                       // true between a successful init() and release()
    unsigned tapCount_ = 0;                    // N
    unsigned historyLength_ = 0;               // H = N - 1 (0 for N = 0)
    bool tapsFinite_ = true;                   // all taps finite: zero inputs give zero products
    std::vector<float> taps_;                  // h[0 .. N-1]
    std::vector<std::ptrdiff_t> offsets_;      // -m for tap m: the plain convolution's addressing
    std::vector<float> ext_;                   // history (H, oldest first) then the current chunk
    std::vector<float> work_;                  // polyphase arrays and per-phase outputs
    std::vector<float> tail_;                  // outputs of the last, partly used vector pass
    std::vector<float> phaseTaps_;             // taps regrouped by phase for polyphase stuffing
    std::vector<unsigned> phaseStart_;         // where each phase's taps begin in phaseTaps_
    std::vector<std::ptrdiff_t> decimOffsets_; // per-tap addressing of the decimation arrays
    unsigned phaseTapsStep_ = 0;               // step phaseTaps_ and decimOffsets_ were built for
    bool phaseTapsValid_ = false;              // phaseTaps_ matches taps_ and phaseTapsStep_
};

} // namespace platform
