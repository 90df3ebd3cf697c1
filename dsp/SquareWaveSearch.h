// The period search of the hum detector (CHumDetect): for each whole-sample period L of a range,
// the largest |correlation| of one frame with the square wave of period L over all its phases.
//
// Weight pattern of one period, h = floor(L / 2):
//   even L: +1 on offsets 0 ... h-1, -1 on h ... L-1;
//   odd L:  0.75 on 0, +1 on 1 ... h-1, 0 on h, -1 on h+1 ... 2h-1, -0.75 on 2h.
// Phase 0 is the sum over the frame in index order, in single precision; every further phase
// follows from the previous one by a fixed step on the column sums c[j] = sum_k x[j + k L]
// (see the source). The results are bit-identical whichever kernel runs them, and identical to
// evaluating those sums and steps one period at a time.
//
// Memory: prepare() obtains everything, mostly the phase-0 weights kept per group of eight
// periods (frameLength x 8 floats each; about 200 KB for 512-sample frames at 14 700 or
// 16 000 Hz) and the column sums of 32 periods of two frames (about 170 KB); match() and
// matchPair() never allocate. The kept weights are reused while the range stays the same; a new
// range turns them anew (about as much work as one search). Threading: none inside; one owner.
#pragma once

#include <memory>

class SquareWaveSearch {
public:
    // Shortest period searched (samples): the odd weight pattern needs h >= 2.
    static constexpr unsigned kShortestPeriod = 5;

    enum class Kernel {
        Plain,  // one period at a time, plain C++
        Sse2,   // eight periods side by side in SSE2 registers (x86 and x86-64)
        Avx,    // sixteen periods side by side in AVX registers (x86, where the processor has it)
        Avx512, // thirty-two periods side by side in AVX-512 registers (x86-64, where it has it)
    };

    SquareWaveSearch() = default;
    SquareWaveSearch(const SquareWaveSearch&) = delete;
    SquareWaveSearch& operator=(const SquareWaveSearch&) = delete;

    // Obtains the working memory for frames of `frameLength` samples and periods up to
    // `longestPeriod`. Returns false (and holds nothing) when it cannot be obtained.
    bool prepare(unsigned frameLength, unsigned longestPeriod);

    // For every period L = first ... last: the largest |correlation| over all phases of the
    // frame (frameLength samples, finite) into matches[L - first]. Returns false and writes
    // nothing when not prepared for that range (first < kShortestPeriod, last beyond the longest
    // period) or a pointer is null.
    bool match(const float* frame, unsigned first, unsigned last, float* matches);

    // The same search on two frames at once: matchesA as match(frameA, ...) and matchesB as
    // match(frameB, ...) would give, bit for bit. Faster where the kernel runs both frames'
    // phase steps side by side (AVX-512), which hides the latency of their dependent additions;
    // otherwise it makes the two searches one after the other.
    bool matchPair(const float* frameA, const float* frameB, unsigned first, unsigned last,
                   float* matchesA, float* matchesB);

    unsigned getLongestPeriod() const { return longestPeriod; }
    unsigned getFrameLength() const { return frameLength; }

    static bool kernelAvailable(Kernel kernel);
    static Kernel fastestKernel();
    // Uses `kernel` when available (the fastest is chosen at construction); returns whether it
    // is now in use.
    bool selectKernel(Kernel kernel);
    Kernel getKernel() const { return kernel; }

private:
    static constexpr unsigned kLanes = 8;
    static constexpr unsigned kChunk = 8; // groups whose phase 0 is summed in one pass
    static constexpr unsigned kRun = 4;   // groups of one parity stepped side by side, at most
    static constexpr unsigned kColumnLanes = kRun * kLanes; // lanes of column sums per frame
    static constexpr unsigned kFrames = 2;                  // frames searched side by side
    // Floats per lane of extended column sums whenever they fit (every search at the internal
    // rates does): a constant stride lets the AVX-512 kernel address all sixteen lanes by
    // displacement. Not a multiple of 1024, so that the lanes do not share cache sets.
    static constexpr unsigned kFixedExtStride = 656;

    // Periods searched side by side: periods[i] for i < lanes, the last repeated beyond.
    struct Group {
        unsigned periods[kLanes];
        unsigned lanes;
        unsigned slot; // where its turned phase-0 weights are kept
    };

    template <class Flush>
    void forEachChunk(unsigned first, unsigned last, Flush&& flush);
    void matchAvx512(const float* const* frames, unsigned frameCount, unsigned first, unsigned last,
                     float* const* matches);
    void prepareColumns(const float* x, unsigned lane, unsigned period);
    void preparePattern(unsigned lane, unsigned period);
    void matchPlain(const float* x, unsigned period, float* match);
    const float* turnedWeights(const Group& group);
    void phaseZeroSse2(const float* x, const float* const* weights, unsigned count, float* sums);
    void stepsSse2(const Group& group, const float* sums, float* matches);
    void phaseZeroAvx(const float* x, const float* const* weights, unsigned count, float* sums);
    void stepsAvx(const Group* groups, unsigned count, const float* sums, float* matches);
    void phaseZeroAvx512(const float* x, const float* const* weights, unsigned count, float* sums);
    void phaseZeroPairAvx512(const float* const* x, const float* const* weights, unsigned count,
                             float* const* sums);
    template <unsigned kFrameCount, bool kFixedStride>
#if defined(__GNUC__) && defined(__x86_64__)
    __attribute__((target("avx,avx2,avx512f")))
#endif
    void
    stepsAvx512(const Group* groups, unsigned count, const float* const* sums,
                float* const* matches);

    std::unique_ptr<float[]> buffer; // per frame and lane (2 x 32): extended column sums, then
                                     // weight patterns
    float* columns = nullptr;        // within buffer: the first lane's extended column sums
    float* patterns = nullptr;       // within buffer: the weight patterns (after the columns)
    std::unique_ptr<float[]> padded; // per frame: the frame, then zeros (a longest period and more)
    std::size_t paddedStride = 0;    // floats per frame in padded
    float* paddedStart = nullptr;    // within padded: the first frame, on a 64-byte boundary
    std::unique_ptr<float[]> turned; // per slot: a group's phase-0 weights, [sample][lane]
    std::unique_ptr<unsigned[]> slotKey; // per slot: first period << 4 | lanes, 0 when unused
    unsigned slotCount = 0;              // slots, used round robin (at least kChunk)
    unsigned frameLength = 0;            // samples per frame
    unsigned longestPeriod = 0;          // longest period prepared for (samples)
    unsigned extStride = 0;              // floats per lane of extended column sums
    unsigned weightStride = 0;           // floats per lane of weight pattern
    Kernel kernel = fastestKernel();
};
