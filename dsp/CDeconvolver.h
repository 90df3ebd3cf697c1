// Predictable-noise reduction of one channel: an adaptive linear predictor forecasts each sample
// from the samples `delay` and more in the past, its `order` coefficients adapted sample by sample
// with a normalized least-mean-squares rule, and the output is the prediction error plus the
// share (1 - amount) of the prediction. Steady tones, hum and the predictable part of
// reverberation are what the predictor learns and what leaves the output; what cannot be
// predicted stays. The stage adds no delay: output sample i belongs to input sample i.
//
// Samples are linear, full scale 1.0, at the chain's reduced rate. The adaptation runs on a power
// estimate with a time constant of 1600 samples; the step is the constant 1.2207031e-6 over that
// power (floored at 1e-9), at most 1, and every coefficient is clamped to [-1, 1].
//
// Coefficients, power and history carry over from call to call; only reset() clears them, and a
// change of delay + order clears the history alone. The stream is treated as continuous whatever
// the block sizes: cutting it into other blocks gives bit-identical output, and every inner-loop
// kernel (plain, SSE2, AVX, AVX-512) gives bit-identical results too.
//
// Input samples that are not finite are taken as 0 (for the output, the history and the model).
// Should the model's own state ever leave the finite range (only finite input beyond about 1e19
// can cause that), the coefficients are zeroed and the power restarted at 1 before the sample is
// used, so nothing non-finite latches.
//
// Denormal samples slow the inner loops down; the chain runs its stages with denormals flushed to
// zero. For a given floating-point mode the output is fully determined by the input and settings.
//
// process() never allocates, locks or waits. Threading: none inside; one thread calls process()
// and writes the public settings between calls.
#pragma once

#include <vector>

class CDeconvolver {
public:
    // Number of coefficients held; larger orders are taken as this.
    static constexpr unsigned kMaxOrder = 1024;
    // Largest delay honoured (samples); larger delays are taken as this.
    static constexpr unsigned kMaxDelay = 1024;
    // Samples handled per pass through the working line; longer blocks run in pieces.
    static constexpr unsigned kChunk = 2048;
    // Initial step, and the numerator of every recomputed step.
    static constexpr float kStepNumerator = 1.2207031e-6f;

    // Inner-loop implementations; all give bit-identical results.
    enum class Kernel { Plain, Sse2, Avx, Avx512 };

    CDeconvolver();
    virtual ~CDeconvolver() = default;
    CDeconvolver(const CDeconvolver&) = delete;
    CDeconvolver& operator=(const CDeconvolver&) = delete;

    // Back to the state after construction: zero coefficients, initial step, power 1.0, and the
    // history cleared before the next block. The settings (adapt, order, delay, amount) stay.
    void reset();

    // count samples of one channel from input to output (output may be input; other overlaps are
    // not allowed). Any count works, including counts below delay + order. Result 0 with
    // *outCount = count; 2 when a pointer is null (then nothing changes and nothing is written).
    int process(const float* input, float* output, unsigned count, unsigned* outCount);

    // Whether this build and this processor can run the kernel.
    static bool kernelAvailable(Kernel which);
    // Uses the kernel if available (the fastest available is chosen at construction); returns
    // whether it is now in use.
    bool selectKernel(Kernel which);
    Kernel kernel() const { return activeKernel; }

    // Coefficient k (k < kMaxOrder) of the predictor, k = 0 weighting the sample `delay` back.
    float coefficient(unsigned k) const { return coefficients[kMaxOrder - 1 - k]; }
    // Running mean square of the input.
    float powerEstimate() const { return power; }

    float step;     // NLMS step of the latest sample; recomputed before each use, so a value the
                    // caller stores here has no effect
    bool adapt;     // whether the coefficients adapt (true) or stay frozen (false)
    unsigned order; // number of coefficients in use, p (128 or 1024 in the chain)
    unsigned delay; // samples between the predicted sample and the newest one used, D
    float amount;   // share of the prediction removed, 0 ... 1

private:
    float power;                     // running mean square of the input (full scale 1.0 squared)
    std::vector<float> coefficients; // kMaxOrder coefficients, stored in reverse: h[k] at
                                     // kMaxOrder - 1 - k, so the taps in use end the array
    std::vector<float> history;      // working line: the last historyLength input samples,
                                     // oldest first, followed by room for kChunk new ones
    bool clearHistory;               // zero the history before the next block
    unsigned historyLength;          // delay + order the history was kept for (samples)
    Kernel activeKernel;             // inner loops in use
};
