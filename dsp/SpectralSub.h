// Random-noise reduction of one channel: spectral subtraction with a minimum-statistics noise
// estimate, at the chain's reduced rate.
//
// The signal is cut into frames of N = 1222 samples every H = 611 samples (half overlap),
// windowed with the square root of a periodic Hann window, transformed, scaled per frequency bin
// by a gain derived from a noise power estimate (the minimum of the smoothed power over six
// sub-windows of L frames, about three seconds), transformed back, windowed again and
// overlap-added. Every time constant is computed for 16 000 Hz and used unchanged at 14 700 Hz.
//
// Stream: frames start every H samples of the input stream, whatever the block lengths, and the
// concatenated output of all calls is the processed input stream from its first sample on; its
// first H samples carry the rising half of the Hann window. The call that completes the first
// frame(s) returns all finished samples but the last H; every later call returns exactly
// `count` samples. With blocks of 2048 the first call returns 611 samples, every later one 2048,
// and within the blocks the output lags the input by 1437 samples. Results are bit-identical
// whatever the block lengths (the output stream is the same; only how much of it each call
// returns differs until the first frame is complete).
//
// Units: samples are linear amplitude (1.0 = full scale); powers are squared transform
// magnitudes (unnormalized transform of the windowed frame); the amount is in percent.
//
// Threading: construction and destruction may run on any thread, concurrently with other
// instances (transform plans are made under a process-wide lock). process() belongs to one
// thread (the audio thread); it takes no lock and allocates nothing.
//
// The caller guarantees that `input` holds `count` samples and `output` has room for `count`
// samples; they may be the same array. Any count is accepted (see process()).
#pragma once

#include "platform/RealFft.h"

#include <array>
#include <vector>

class SpectralSub {
public:
    // Longest stretch of input handled in one go; longer calls are processed in pieces of this
    // length, with identical results. Working memory is sized for it in the constructor.
    static constexpr unsigned kMaxPiece = 2048;
    // Sub-windows in the minimum search.
    static constexpr unsigned kRingSize = 6;
    // Magnitude above which an input sample counts as garbage and is clipped (about 120 dB
    // above full scale); non-finite input samples are taken as 0. Keeps every power finite.
    static constexpr float kMaxInput = 1.0e6f;

    // Computes the fixed quantities, obtains every buffer and makes the transform plans. Throws
    // std::bad_alloc when memory or a plan cannot be obtained (no usable instance results).
    SpectralSub();
    virtual ~SpectralSub();
    SpectralSub(const SpectralSub&) = delete;
    SpectralSub& operator=(const SpectralSub&) = delete;

    // Processes `count` samples from `input` into `output`, applying `amountPercent` (0 ... 100,
    // clamped; not a number counts as 0) of the computed reduction; `conservative` is false
    // while the Aggressive switch is on, which shortens the minimum search (six sub-windows of
    // 4 frames instead of 13) and the long-term smoothing (0.05 s instead of 0.5 s).
    // Writes the number of samples produced to *outCount and returns it: `count` once the first
    // frame has been completed, fewer on the call that completes it, 0 on calls before it.
    // Returns 0 without touching anything when `count` is 0, and 2 (nothing changed) when a
    // pointer is null or `count` exceeds the largest int. Never returns 1: no memory is needed.
    int process(const float* input, float* output, unsigned count, float amountPercent,
                unsigned* outCount, bool conservative);

    // Returns to the start state of a new instance: no input carried, no output pending, the
    // noise estimate and every smoothed power as at construction, the conservative time
    // constants. Clears, allocates nothing.
    void reset();

private:
    unsigned processPiece(const float* input, float* output, unsigned count, double fraction);
    void processFrame(const float* frame, float* accumulator, bool firstOfCall, double fraction);
    void useTimeConstants(float longTermSeconds, float searchSeconds);

    std::vector<float> window;                 // sqrt of periodic Hann, N values
    std::vector<float> ringStorage;            // the six minimum arrays, K values each
    std::array<float*, kRingSize> minimumRing; // M0 (newest) ... M5 (oldest), into storage
    std::vector<float> noiseEstimate;          // Nmin: minimum over the ring, power per bin
    std::vector<float> shortTermPower;         // Ps: power smoothed with alphaS, per bin
    std::vector<float> longTermPower;          // Pl: power smoothed with alphaL, per bin
    std::vector<float> framePower;             // P: this frame's power per bin
    std::vector<float> overSubtraction;        // Q: over-subtraction factor per bin, >= 1
    std::vector<float> timeBuffer;             // windowed frame, gains, inverse output (N)
    std::vector<float> spectrumBuffer;         // spectrum, complex layout (N + 2)
    std::vector<float> frequencyWeights;       // W: 4 / (1 + f/400 Hz), per bin
    std::vector<float> inputCarry;             // input not yet covered by a frame step
    unsigned carryCount = 0;                   // samples held in inputCarry
    std::vector<float> overlapTail;            // last overlap-add's unfinished part (N - H)
    std::vector<float> outputBacklog;          // finished samples not yet returned
    unsigned backlogCount = 0;                 // samples held in outputBacklog
    bool firstBlock = true;                    // no frame processed yet
    unsigned N = 0;                            // frame and transform length, samples
    unsigned H = 0;                            // hop length, samples
    unsigned L = 0;                            // sub-window length, frames
    float alphaL = 0.0f;                       // long-term smoothing factor per frame
    float alphaS = 0.0f;                       // short-term smoothing factor per frame
    float alphaQ = 0.0f;                       // over-subtraction smoothing factor per frame
    platform::RealFft fft;                     // forward and inverse plans of length N
    unsigned frameCounter = 0;                 // frames into the current sub-window, < L
    float longTermSeconds = 0.5f;              // time constant alphaL derives from (s)
    float searchSeconds = 2.75f;               // span L derives from (s at 16 kHz)
};
