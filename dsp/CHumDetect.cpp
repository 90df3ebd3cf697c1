#include "dsp/CHumDetect.h"

#include <algorithm>

CHumDetect::CHumDetect() {
    setLowerSpan(0.1f);
    setUpperSpan(0.1f);
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
