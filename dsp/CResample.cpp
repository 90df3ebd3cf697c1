#include "dsp/CResample.h"

#include "dsp/TapTables.h"

#include <algorithm>
#include <cstdint>

namespace {

const float* tableFor(int f) {
    switch (f) {
    case 2:
        return taps::kResample2;
    case 4:
        return taps::kResample4;
    case 6:
        return taps::kResample6;
    default:
        return taps::kResample3;
    }
}

// Samples written by a rate raise: f * count, limited to the room in the output.
unsigned raisedLength(int f, unsigned count, unsigned capacity) {
    const std::uint64_t full = static_cast<std::uint64_t>(f) * count;
    return static_cast<unsigned>(std::min<std::uint64_t>(full, capacity));
}

} // namespace

CResample::CResample() {
    decimationFilter.setTaps(taps::kResample2, taps::kResampleCount);
    interpolationFilter.setTaps(taps::kResample2, taps::kResampleCount);
    decimationFilter.init();
    interpolationFilter.init();
}

int CResample::reset() {
    decimationFilter.init();
    interpolationFilter.init();
    interpolationPhase = 0;
    counterPhase = 0;
    decimationPhase = 0;
    return 0;
}

void CResample::setFactor(int f) {
    if (f == factor || f < 1) {
        return;
    }
    factor = f;
    const float* table = tableFor(f);
    decimationFilter.updateTaps(table, taps::kResampleCount);
    interpolationFilter.updateTaps(table, taps::kResampleCount);
    reset();
}

int CResample::interpolate(const float* input, float* output, unsigned count, unsigned capacity,
                           unsigned* outCount) {
    const unsigned m = raisedLength(factor, count, capacity);
    if (outCount == nullptr || (m > 0 && (input == nullptr || output == nullptr))) {
        return 2;
    }
    const unsigned f = static_cast<unsigned>(factor);
    unsigned placed = 0;
    interpolationFilter.filterStuffed(input, count, interpolationPhase, f,
                                      static_cast<float>(factor), output, m, &placed);
    // The next input lands f samples after the last one placed (or after the old phase when
    // none was), relative to the start of the next block.
    interpolationPhase =
        static_cast<unsigned>(interpolationPhase + static_cast<std::int64_t>(f) * placed - m);
    *outCount = m;
    return 0;
}

int CResample::interpolateByCounter(const float* input, float* output, unsigned count,
                                    unsigned capacity, unsigned* outCount) {
    const unsigned m = raisedLength(factor, count, capacity);
    if (outCount == nullptr || (m > 0 && (input == nullptr || output == nullptr))) {
        return 2;
    }
    const unsigned f = static_cast<unsigned>(factor);
    // A sample goes where the counter is a multiple of f; the counter restarts there.
    const unsigned first = (f - interpolationPhase % f) % f;
    unsigned placed = 0;
    interpolationFilter.filterStuffed(input, count, first, f, static_cast<float>(factor), output, m,
                                      &placed);
    if (placed > 0) {
        interpolationPhase = m - (first + f * (placed - 1));
    } else {
        interpolationPhase += m;
    }
    *outCount = m;
    return 0;
}

int CResample::decimate(const float* input, float* output, unsigned count, unsigned* outCount) {
    if (count == 0) {
        if (outCount != nullptr) {
            *outCount = 0;
        }
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    const unsigned f = static_cast<unsigned>(factor);
    unsigned kept = 0;
    decimationFilter.filterDecimated(input, count, decimationPhase, f, output, &kept);
    decimationPhase =
        static_cast<unsigned>(decimationPhase + static_cast<std::int64_t>(f) * kept - count);
    *outCount = kept;
    return 0;
}

int CResample::decimateByCounter(const float* input, float* output, unsigned count,
                                 unsigned* outCount) {
    if (count == 0) {
        if (outCount != nullptr) {
            *outCount = 0;
        }
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    const unsigned f = static_cast<unsigned>(factor);
    const unsigned first = (f - static_cast<unsigned>(counterPhase) % f) % f;
    unsigned kept = 0;
    decimationFilter.filterDecimated(input, count, first, f, output, &kept);
    if (kept > 0) {
        counterPhase = static_cast<int>(count - (first + f * (kept - 1)));
    } else {
        counterPhase += static_cast<int>(count);
    }
    *outCount = kept;
    return 0;
}
