// Look-ahead peak-following normalizer: a peak detector with slow exponential release, a one-pole
// smoother on the detected peak, and a gain of target / level limited to a fixed 3.16, applied to
// the signal delayed by the look-ahead so that the gain falls before a peak arrives.
#include "dsp/CAutoNorm.h"

void CAutoNorm::reset() {
    peak = 1.0f;
    level = 1.0f;
    maxGain = kFixedMaxGain;
    position = 0;
    lookAhead = {};
}

void CAutoNorm::processMono(const float* input, float* output, unsigned count) {
    if (input == nullptr || output == nullptr) {
        return;
    }
    LookAheadGain::run<1>(*this, {input}, {output}, count);
}

int CAutoNorm::processStereo(const float* inputLeft, const float* inputRight, float* outputLeft,
                             float* outputRight, unsigned count, unsigned* outCount) {
    if (inputLeft == nullptr || inputRight == nullptr || outputLeft == nullptr ||
        outputRight == nullptr || outCount == nullptr) {
        return 2;
    }
    maxGain = kFixedMaxGain;
    LookAheadGain::run<2>(*this, {inputLeft, inputRight}, {outputLeft, outputRight}, count);
    *outCount = count;
    return 0;
}
