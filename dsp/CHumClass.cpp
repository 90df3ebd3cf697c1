// Feed-forward comb filtering of the band part of the signal: the band low-pass output is mixed
// with itself delayed by one hum period T, so that every multiple of rate / T cancels down to
// the chosen gain while the complementary filter carries the rest of the spectrum through. The
// period is split into whole samples p, taken from the input history, and tenths, taken from one
// of ten fractional-delay versions of the band low-pass (delays 35.5 ... 34.6 samples against
// the band filter's 35), so the delayed path lags the band path by p - 0.5 + i / 10 samples.
//
// The delayed path is filtered from the history each block over a segment that starts 73
// samples early: the outputs kept depend only on that segment, so neither the delay filter's
// own history nor a change of its taps since the previous block reaches them.

#include "dsp/CHumClass.h"

#include "common/PortableMath.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// Largest buffer the canceller asks for; anything longer counts as memory not obtained.
constexpr std::uint64_t kMaxBufferSamples = std::uint64_t{1} << 28;

std::unique_ptr<float[]> obtain(std::uint64_t count) {
    if (count > kMaxBufferSamples) {
        return nullptr;
    }
    return std::unique_ptr<float[]>(new (std::nothrow) float[static_cast<std::size_t>(count)]());
}

} // namespace

CHumClass::CHumClass() {
    setSampleRate(14700.0f);
    bandFilter.setTaps(bandTaps, static_cast<unsigned>(tapCount));
    complementFilter.setTaps(complementTaps, static_cast<unsigned>(tapCount));
    delayFilter.setTaps(delayTaps[0], static_cast<unsigned>(tapCount));
    initFilters();
    allocate();
}

CHumClass::~CHumClass() {
    releaseBuffers();
}

void CHumClass::initFilters() {
    continuedPeriod = 0;
    bandFilter.init();
    complementFilter.init();
    delayFilter.init();
}

void CHumClass::setSampleRate(float rate) {
    if (!(rate > 0.0f) || !std::isfinite(rate) || std::fabs(rate - sampleRate) < 0.0001f) {
        return;
    }
    sampleRate = rate;
    tapCount = taps::kHumTapCount;
    const taps::HumTableSet& set = rate == 16000.0f ? taps::kHum16000 : taps::kHum14700;
    bandTaps = set.band;
    complementTaps = set.complement;
    delayTaps = set.delay;
    bandFilter.setTaps(bandTaps, static_cast<unsigned>(tapCount));
    complementFilter.setTaps(complementTaps, static_cast<unsigned>(tapCount));
    initFilters();
    allocate();
}

void CHumClass::setMinFrequency(float frequency) {
    if (!(frequency >= 0.5f) || !std::isfinite(frequency) ||
        std::fabs(frequency - minFrequency) < 0.0001f) {
        return;
    }
    minFrequency = frequency;
    initFilters();
    allocate();
}

void CHumClass::setBlockCapacity(unsigned count) {
    if (count == blockCapacity) {
        return;
    }
    blockCapacity = count;
    initFilters();
    allocate();
}

int CHumClass::allocate() {
    continuedPeriod = 0;
    releaseBuffers();
    const float periods = sampleRate / minFrequency; // truncated below
    if (!(periods < static_cast<float>(kMaxBufferSamples))) {
        maxPeriod = 0;
        return 1;
    }
    maxPeriod = static_cast<unsigned>(periods);
    const std::uint64_t withTaps = std::uint64_t{maxPeriod} + static_cast<unsigned>(tapCount);
    history = obtain(withTaps + blockCapacity);
    complementBuffer = obtain(std::uint64_t{maxPeriod} + blockCapacity);
    bandBuffer = obtain(std::uint64_t{maxPeriod} + blockCapacity);
    delayedBuffer = obtain(withTaps + blockCapacity);
    if (!history || !complementBuffer || !bandBuffer || !delayedBuffer) {
        releaseBuffers();
        return 1;
    }
    // obtain() zeroes, which clears the first maxPeriod + tapCount samples of history.
    return 0;
}

void CHumClass::releaseBuffers() {
    continuedPeriod = 0;
    history.reset();
    complementBuffer.reset();
    bandBuffer.reset();
    delayedBuffer.reset();
}

int CHumClass::process(const float* input, float* output, unsigned count, unsigned* outCount,
                       float frequency, float attenuationDb) {
    if (outCount == nullptr || (count > 0 && (input == nullptr || output == nullptr))) {
        return 2;
    }
    const float r = frequency >= 1.0f ? sampleRate / frequency : 0.0f;
    if (!(r >= 1.0f)) {
        if (output != input && count > 0) {
            std::memmove(output, input, count * sizeof(float));
        }
        *outCount = count;
        return 0;
    }

    // Whole samples p and tenths i: r is close to p - 0.5 + i / 10.
    const float x = r + 0.5f;
    const float whole = std::floor(x);
    const float d = x - whole;
    auto p = static_cast<unsigned>(whole);
    auto i = static_cast<int>(std::floor(static_cast<float>(fractionCount) * d + 0.5f));
    if (i == 0) {
        p -= 1;
        i = fractionCount;
    }
    if (!delayFilter.isStateReady() ||
        delayFilter.getTaps().size() != static_cast<unsigned>(tapCount)) {
        continuedPeriod = 0; // the tap exchange below starts a new filter history
    }
    // The fraction seldom changes: the same table again changes nothing.
    const float* table = delayTaps[fractionCount - i];
    if (table != loadedDelayTaps || continuedPeriod == 0) {
        loadedDelayTaps =
            delayFilter.updateTaps(table, static_cast<unsigned>(tapCount)) == 0 ? table : nullptr;
    }

    if (p > maxPeriod) {
        setMinFrequency(frequency * 0.9f);
    }
    if (count > blockCapacity) {
        setBlockCapacity(count);
    }
    if (!history && allocate() != 0) {
        return 1;
    }
    if (p > maxPeriod) {
        return 1; // only for a minFrequency that could not follow (never below 0.5 Hz)
    }
    if (count == 0) {
        *outCount = 0;
        return 0;
    }

    unsigned filtered = 0;
    // The complement's taps are the band's negated but for the centre: one pass makes both.
    bandFilter.filterAlongside(complementFilter, input, bandBuffer.get(), complementBuffer.get(),
                               count, &filtered);
    const auto length = static_cast<unsigned>(tapCount);
    const unsigned kept = maxPeriod + length;
    std::memcpy(history.get() + kept, input, count * sizeof(float));
    if (p > 0 && continuedPeriod == p) {
        // The filter's own history is the segment's first samples already: filtering only the
        // rest gives the same outputs, sample for sample (the engine's results do not depend on
        // where blocks start).
        delayFilter.filter(history.get() + (maxPeriod - p) + length, delayedBuffer.get() + length,
                           count, &filtered);
    } else {
        delayFilter.filter(history.get() + (maxPeriod - p), delayedBuffer.get(), length + count,
                           &filtered);
    }
    // After the move below, the segment of the same p starts where the filter's history does.
    continuedPeriod = p;
    std::memmove(history.get(), history.get() + count, kept * sizeof(float));

    if (!(attenuationDb >= 0.0f)) {
        attenuationDb = 0.0f;
    }
    if (attenuationDb != gainAttenuation) {
        const double g = portable::exp10(-static_cast<double>(attenuationDb) / 20.0);
        const double half = (1.0 - g) * 0.5;
        delayedWeight = static_cast<float>(half);
        bandWeight = static_cast<float>(1.0 - half);
        gainAttenuation = attenuationDb;
    }
    const float a = delayedWeight;
    const float b = bandWeight;

    const float* complement = complementBuffer.get();
    const float* band = bandBuffer.get();
    const float* delayed = delayedBuffer.get() + length;
    for (unsigned k = 0; k < count; ++k) {
        output[k] = complement[k] + b * band[k] - a * delayed[k];
    }
    *outCount = count;
    return 0;
}
