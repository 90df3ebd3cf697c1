// Look-ahead peak-following gain control: a peak detector with exponential release, a one-pole
// smoother on the detected peak, and a gain of target / level limited to maxGain, applied to the
// signal delayed by the look-ahead so that the gain falls before a peak arrives.
#include "dsp/CAutoGain.h"

void CAutoGain::reset() {
    peak = 1.0f;
    level = 1.0f;
    maxGain = 3.16f;
    position = 0;
    lookAhead = {};
}

void CAutoGain::processMono(const float* input, float* output, unsigned count) {
    if (input == nullptr || output == nullptr) {
        return;
    }
    LookAheadGain::run<1>(*this, {input}, {output}, count);
}

int CAutoGain::processStereo(const float* inputLeft, const float* inputRight, float* outputLeft,
                             float* outputRight, unsigned count, unsigned* outCount,
                             float maxGain) {
    if (inputLeft == nullptr || inputRight == nullptr || outputLeft == nullptr ||
        outputRight == nullptr || outCount == nullptr) {
        return 2;
    }
    this->maxGain = maxGain;
    LookAheadGain::run<2>(*this, {inputLeft, inputRight}, {outputLeft, outputRight}, count);
    *outCount = count;
    return 0;
}
