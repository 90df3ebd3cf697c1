#include "dsp/CFirFilter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// `history` resized to `count` entries keeping its newest samples at the end, zeros in front.
std::vector<float> keepNewest(const std::vector<float>& history, unsigned count) {
    std::vector<float> resized(count, 0.0f);
    const std::size_t kept = std::min<std::size_t>(history.size(), count);
    std::copy(history.end() - static_cast<std::ptrdiff_t>(kept), history.end(),
              resized.end() - static_cast<std::ptrdiff_t>(kept));
    return resized;
}

} // namespace

int CFirFilter::init() {
    if (stateReady) {
        firState.clearHistory();
    }
    if (!taps.empty() && !stateReady) {
        if (firState.init(taps.data(), static_cast<unsigned>(taps.size())) != 0) {
            return 1;
        }
        stateReady = true;
    }
    // delayLine already holds N entries whenever taps were stored, so this never allocates.
    std::fill(delayLine.begin(), delayLine.end(), 0.0f);
    primed = true;
    return 0;
}

int CFirFilter::filterDirect(const float* input, float* output, unsigned count,
                             unsigned* outCount) {
    if (count == 0) {
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    const std::size_t n = taps.size();
    float* line = delayLine.data();
    for (unsigned i = 0; i < count; ++i) {
        const float x = input[i]; // read before the write: output may be input
        float y = 0.0f;
        if (n > 0) {
            std::memmove(line, line + 1, (n - 1) * sizeof(float));
            line[n - 1] = x;
            for (std::size_t m = 0; m < n; ++m) {
                y += taps[m] * line[n - 1 - m];
            }
        }
        output[i] = y;
    }
    *outCount = count;
    if (primed) {
        const unsigned drop = static_cast<unsigned>(n / 2);
        if (count > drop) {
            *outCount = count - drop;
            std::memmove(output, output + drop, (count - drop) * sizeof(float));
        } else {
            *outCount = 0;
        }
    }
    primed = false;
    return 0;
}

int CFirFilter::filter(const float* input, float* output, unsigned count, unsigned* outCount) {
    if (count == 0) {
        if (outCount != nullptr) {
            *outCount = 0;
        }
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    *outCount = count;
    firState.filter(input, output, count);
    return 0;
}

int CFirFilter::filterAlongside(CFirFilter& second, const float* input, float* output,
                                float* secondOutput, unsigned count, unsigned* outCount) {
    if (count == 0) {
        if (outCount != nullptr) {
            *outCount = 0;
        }
        return 0;
    }
    if (input == nullptr || output == nullptr || secondOutput == nullptr || outCount == nullptr) {
        return 2;
    }
    *outCount = count;
    firState.filterAlongside(second.firState, input, output, secondOutput, count);
    return 0;
}

int CFirFilter::filterDecimated(const float* input, unsigned count, unsigned first, unsigned step,
                                float* output, unsigned* outCount) {
    if (count == 0) {
        if (outCount != nullptr) {
            *outCount = 0;
        }
        return 0;
    }
    if (input == nullptr || output == nullptr || outCount == nullptr) {
        return 2;
    }
    *outCount = firState.filterDecimated(input, count, first, step, output);
    return 0;
}

int CFirFilter::filterStuffed(const float* input, unsigned inCount, unsigned first, unsigned step,
                              float scale, float* output, unsigned outCount, unsigned* placed) {
    if (placed == nullptr || (outCount > 0 && output == nullptr) ||
        (inCount > 0 && input == nullptr)) {
        return 2;
    }
    *placed = firState.filterStuffed(input, inCount, first, step, scale, output, outCount);
    return 0;
}

bool CFirFilter::sameTaps(const float* newTaps, unsigned count) const {
    return count == taps.size() && std::equal(taps.begin(), taps.end(), newTaps);
}

int CFirFilter::replaceTaps(const float* newTaps, unsigned count, bool restart) {
    // Everything new is built before anything is replaced, so a failure changes nothing.
    // newTaps may point into `taps` itself.
    platform::FirState fresh;
    if (fresh.init(newTaps, count) != 0) {
        return 1;
    }
    try {
        std::vector<float> storedTaps(newTaps, newTaps + count);
        std::vector<float> history = keepNewest(delayLine, count);
        taps.swap(storedTaps);
        delayLine.swap(history);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    firState = std::move(fresh);
    stateReady = true;
    if (restart) {
        primed = true;
    }
    return 0;
}

int CFirFilter::setTaps(const float* newTaps, unsigned count) {
    if (newTaps == nullptr && count > 0) {
        return 2;
    }
    if (sameTaps(newTaps, count)) {
        return 0;
    }
    if (count == taps.size() && stateReady) {
        // Same count: a restart of the existing engine state, without obtaining memory.
        std::copy(newTaps, newTaps + count, taps.begin());
        firState.setTaps(taps.data());
        firState.clearHistory();
        primed = true;
        return 0;
    }
    return replaceTaps(newTaps, count, true);
}

int CFirFilter::updateTaps(const float* newTaps, unsigned count) {
    if (newTaps == nullptr && count > 0) {
        return 2;
    }
    if (sameTaps(newTaps, count)) {
        return 0;
    }
    if (count == taps.size() && stateReady) {
        std::copy(newTaps, newTaps + count, taps.begin());
        firState.setTaps(taps.data());
        return 0;
    }
    return replaceTaps(newTaps, count, false);
}
