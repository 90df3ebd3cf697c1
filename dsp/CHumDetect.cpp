// Hum tracking by square-wave correlation. A mains hum is a periodic waveform rich in odd
// harmonics, so each analysis frame is correlated with square waves of every whole-sample
// period L within +-10 % of the current estimate and of every phase; the period with the
// largest |correlation| gives the frame's estimate rate / L. The frame estimates then feed two
// exponential averages: a heavy one (the search centre and the source of the tracked value) and
// a light one; the tracked frequency moves, in 0.05 Hz steps, only while the two agree.
//
// The correlation itself (weight patterns, incremental phase steps) is SquareWaveSearch's.
// Each frame's estimate is the rate over a whole-sample period matched over about two hum
// periods, so it depends on the hum's waveform and on steady tones in the band; the heavy
// smoothing and the 0.05 Hz steps make the tracked value settle, not unbiased.

#include "dsp/CHumDetect.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// Tracker constants (single precision).
constexpr float kLockThreshold = 0.1f;            // Hz between the averages for a lock
constexpr float kSmoothLocked = 0.0015f;          // smooth-average weight while locked
constexpr float kSmoothUnlocked = 0.0075f;        // smooth-average weight while not locked
constexpr float kFastWeight = 0.015f;             // fast-average weight
constexpr float kQuantum = 0.05f;                 // Hz step of the tracked frequency
constexpr float kAdoptAtOnce = 0.15f;             // Hz beyond which a change is taken at once
constexpr float kUnsetTolerance = 0.001f;         // Hz around -1 that counts as unset
constexpr float kCandidateTolerance = 0.001f;     // Hz within which a candidate repeats
constexpr float kShortestFactor = 1.1f;           // search: shortest period at rate / (1.1 centre)
constexpr float kLongestFactor = 0.9f;            // search: longest period at rate / (0.9 centre)
constexpr float kHoldSeconds = 0.25f;             // time a small change must persist
constexpr float kCancellerMinFrequency = 40.005f; // 0.9 x the lowest nominal frequency
constexpr unsigned kCancellerBlockCapacity = 65536;

std::unique_ptr<float[]> obtain(unsigned count) {
    return std::unique_ptr<float[]>(new (std::nothrow) float[count]());
}

void copyThrough(const float* input, float* output, unsigned count) {
    if (output != input && count > 0) {
        std::memmove(output, input, count * sizeof(float));
    }
}

} // namespace

CHumDetect::CHumDetect() {
    setLowerSpan(0.1f);
    setUpperSpan(0.1f);
    humFilter.setSampleRate(sampleRate);
    humFilter.setMinFrequency(kCancellerMinFrequency);
    humFilter.setBlockCapacity(kCancellerBlockCapacity);
    reset();
}

CHumDetect::~CHumDetect() = default;

void CHumDetect::reset() {
    trackedFrequency = kUnset;
    smoothAverage = kUnset;
    fastAverage = kUnset;
    candidate = kUnset;
    locked = false;
    holdFrames = frameLength == 0 ? 0
                                  : static_cast<int>(std::floor(sampleRate * kHoldSeconds /
                                                                static_cast<float>(frameLength)));
    holdCounter = holdFrames;
    workBuffer.reset();
    workBuffer = obtain(frameLength);
    workCapacity = workBuffer ? frameLength : 0;
    // The search covers the longest period any search centre within the overall bounds asks
    // for.
    matches.reset();
    pairLo = 1;
    pairHi = 0;
    const float longest = std::ceil(sampleRate / (kMinHumFrequency * kLongestFactor));
    const unsigned periods = longest > 0.0f && longest < 1e6f ? static_cast<unsigned>(longest) : 0;
    if (search.prepare(frameLength, periods)) {
        // One frame's results, then the two frames' of a pair (over at most all periods).
        matchesLength = periods + 1;
        matches = obtain(std::size_t{3} * matchesLength);
    }
    humFilter.initFilters();
    humFilter.allocate();
}

void CHumDetect::setSampleRate(float rate) {
    if (!(std::fabs(rate - sampleRate) >= 0.001f) || !(rate > 0.0f) || !std::isfinite(rate)) {
        return;
    }
    sampleRate = rate;
    humFilter.setSampleRate(rate);
    reset();
}

void CHumDetect::setLowerSpan(float span) {
    lowerSpan = span;
    const float m = std::min(static_cast<float>(frequency), kMaxHumFrequency);
    const float bound = span < 0.0f ? kMinHumFrequency : (1.0f - span) * m;
    minFrequency = std::max(bound, kMinHumFrequency);
}

void CHumDetect::setUpperSpan(float span) {
    upperSpan = span;
    const float m = std::min(static_cast<float>(frequency), kMaxHumFrequency);
    const float bound = span < 0.0f ? kMaxHumFrequency : (1.0f + span) * m;
    maxFrequency = std::min(bound, kMaxHumFrequency);
}

int CHumDetect::filterPiece(const float* input, float* output, unsigned count,
                            float attenuationDb) {
    float* target = count <= workCapacity ? workBuffer.get() : output;
    unsigned written = 0;
    // Before the first estimate there is no hum to cancel, but the signal must not come out
    // earlier than it will once there is: the canceller runs at the nominal frequency without
    // attenuation, which passes the signal delayed by its 35 samples and keeps its histories.
    const bool estimated = !isUnset(trackedFrequency);
    const float hz = estimated ? trackedFrequency : static_cast<float>(frequency);
    const float dB = estimated ? attenuationDb : 0.0f;
    if (humFilter.process(input, target, count, &written, hz, dB) != 0) {
        copyThrough(input, output, count);
        return 1;
    }
    if (target != output) {
        std::memcpy(output, target, count * sizeof(float));
    }
    return 0;
}

int CHumDetect::process(const float* input, float* output, unsigned count, unsigned* outCount,
                        float attenuationDb) {
    if (outCount == nullptr) {
        return 2;
    }
    if (count > 0 && (input == nullptr || output == nullptr)) {
        return 2;
    }
    *outCount = 0;
    if (count == 0) {
        return 0;
    }
    int status = 0;
    if (!tracking) {
        unsigned written = 0;
        if (humFilter.process(input, output, count, &written, frequency, attenuationDb) != 0) {
            copyThrough(input, output, count);
            status = 1;
        }
        *outCount = count;
        return status;
    }
    unsigned offset = 0;
    const unsigned frame = frameLength;
    while (frame > 0 && count - offset >= frame) {
        if (count - offset >= 2 * frame && detectPair(input + offset, input + offset + frame)) {
            // Both detections done, in order; each frame filtered after its own.
            status |= filterPiece(input + offset, output + offset, frame, attenuationDb);
            offset += frame;
            finishPair(input + offset);
        } else {
            detect(input + offset);
        }
        status |= filterPiece(input + offset, output + offset, frame, attenuationDb);
        offset += frame;
    }
    if (offset < count) {
        status |= filterPiece(input + offset, output + offset, count - offset, attenuationDb);
    }
    *outCount = count;
    return status;
}

bool CHumDetect::searchableFrame(const float* frame) const {
    // Not searched: a frame with a sample that is not finite, or of 2^100 or more (about
    // 600 dB above full scale), whose correlations could overflow: an overflow gives infinities
    // and NaNs, which the vector kernels and the plain one order differently, so the result
    // would depend on the processor. A sample is at least 2^100 (exponent 227) when its bits
    // without the sign are at least 0x71800000, that is when adding 0x0e800000 carries into
    // the sign bit. Every sample looked at (no early exit, integers only), so that the check
    // runs in vectors.
    std::uint32_t carries = 0;
    for (unsigned k = 0; k < frameLength; ++k) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, frame + k, sizeof bits);
        carries |= (bits & 0x7fffffffu) + 0x0e800000u;
    }
    return (carries & 0x80000000u) == 0;
}

bool CHumDetect::searchRange(Range& range) const {
    float centre = isUnset(smoothAverage) ? static_cast<float>(frequency) : smoothAverage;
    const float lowest = minFrequency;
    const float highest = maxFrequency;
    if (!(centre >= lowest)) {
        centre = lowest;
    }
    if (centre > highest) {
        centre = highest;
    }
    const float shortest = std::floor(sampleRate / (centre * kShortestFactor));
    const float longest = std::ceil(sampleRate / (centre * kLongestFactor));
    if (!(shortest >= 0.0f) || !(longest >= 0.0f)) {
        return false;
    }
    const auto capacity = static_cast<float>(search.getLongestPeriod());
    range.lo = std::max(SquareWaveSearch::kShortestPeriod,
                        static_cast<unsigned>(std::min(shortest, capacity)));
    range.hi = static_cast<unsigned>(std::min(longest, capacity));
    range.centre = centre;
    return range.hi >= range.lo;
}

unsigned CHumDetect::decide(const float* found, const Range& range) {
    float best = 0.0f;
    unsigned bestPeriod = 0;
    for (unsigned period = range.lo; period <= range.hi; ++period) {
        if (found[period - range.lo] > best) { // ties keep the shorter period
            best = found[period - range.lo];
            bestPeriod = period;
        }
    }
    if (bestPeriod == 0 || !std::isfinite(best)) {
        return 0;
    }
    updateTracking(sampleRate / static_cast<float>(bestPeriod), range.centre);
    return bestPeriod;
}

unsigned CHumDetect::detect(const float* frame) {
    if (frame == nullptr || !matches || search.getFrameLength() != frameLength) {
        return 0;
    }
    Range range;
    if (!searchableFrame(frame) || !searchRange(range)) {
        return 0;
    }
    if (!search.match(frame, range.lo, range.hi, matches.get())) {
        return 0;
    }
    return decide(matches.get(), range);
}

bool CHumDetect::detectPair(const float* first, const float* second) {
    // The second frame's range depends on what the first one's detection does to the search
    // centre, which moves by far less than a period per frame: both are searched over the first
    // one's range widened by two periods on each side, and the second frame is searched again
    // alone in the rare case its range reaches beyond that. A period's result depends only on
    // the frame, so the detections are exactly those made one frame at a time.
    if (!matches || search.getFrameLength() != frameLength || !searchableFrame(first) ||
        !searchableFrame(second)) {
        return false;
    }
    Range range;
    if (!searchRange(range)) {
        return false;
    }
    // The range searched sticks while it holds the first frame's, so that the search's kept
    // weights (which depend only on the periods searched) serve frame after frame, also while
    // the centre wanders (a range that moves by a period changes every group of periods).
    const bool kept = pairLo <= pairHi && pairLo <= range.lo && range.hi <= pairHi &&
                      pairHi - pairLo <= range.hi - range.lo + 4;
    if (!kept) {
        pairLo = std::max(SquareWaveSearch::kShortestPeriod, range.lo - std::min(range.lo, 2u));
        pairHi = std::min(search.getLongestPeriod(), range.hi + 2);
    }
    const unsigned lo = pairLo;
    const unsigned hi = pairHi;
    float* firstFound = matches.get() + matchesLength;
    float* secondFound = firstFound + matchesLength;
    if (!search.matchPair(first, second, lo, hi, firstFound, secondFound)) {
        return false;
    }
    decide(firstFound + (range.lo - lo), range);
    return true;
}

unsigned CHumDetect::finishPair(const float* second) {
    Range range;
    if (!searchRange(range)) {
        return 0;
    }
    if (range.lo < pairLo || range.hi > pairHi) {
        return search.match(second, range.lo, range.hi, matches.get())
                   ? decide(matches.get(), range)
                   : 0;
    }
    return decide(matches.get() + 2 * matchesLength + (range.lo - pairLo), range);
}

void CHumDetect::updateTracking(float estimate, float centre) {
    if (isUnset(smoothAverage)) {
        smoothAverage = centre;
    }
    if (isUnset(fastAverage)) {
        fastAverage = estimate;
    }
    if (isUnset(trackedFrequency)) {
        trackedFrequency = frequency;
    }
    float alpha = kSmoothLocked;
    if (std::fabs(smoothAverage - fastAverage) > kLockThreshold) {
        locked = false;
        alpha = kSmoothUnlocked;
    } else {
        locked = true;
    }
    smoothAverage = (1.0f - alpha) * smoothAverage + alpha * estimate;
    fastAverage = (1.0f - kFastWeight) * fastAverage + kFastWeight * estimate;
    const float q = quantize(smoothAverage, kQuantum);
    if (!locked) {
        return;
    }
    if (std::fabs(q - trackedFrequency) > kAdoptAtOnce) {
        candidate = trackedFrequency;
        holdCounter = holdFrames;
        trackedFrequency = q;
        return;
    }
    if (std::fabs(q - candidate) >= kCandidateTolerance) {
        candidate = q;
        holdCounter = holdFrames - 1;
        return;
    }
    holdCounter = holdCounter - 1;
    if (holdCounter > 0) {
        return;
    }
    candidate = trackedFrequency;
    holdCounter = holdFrames;
    trackedFrequency = q;
}

float CHumDetect::quantize(float value, float step) {
    if (step <= 0.0f) {
        return value;
    }
    const float sign = value > 0.0f ? 1.0f : (value < 0.0f ? -1.0f : 0.0f);
    return sign * step * std::floor(std::fabs(value) / step + 0.5f);
}

bool CHumDetect::isUnset(float value) {
    return std::fabs(value - kUnset) < kUnsetTolerance;
}
