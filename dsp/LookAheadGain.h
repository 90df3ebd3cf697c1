// The look-ahead peak-following gain shared by the automatic gain control (CAutoGain) and the
// auto-normalizer (CAutoNorm). Each of them keeps its own state and constants in members of the
// same names; these templates run the per-frame loop over such an object.
//
// Per frame, in single precision with every intermediate rounded to float:
//   peak  = max((1 - release) * peak, floor); raised to the frame's largest magnitude
//   level = max((1 - smoothing) * level + smoothing * peak, floor)
//   gain  = 1 / max(level > 0.25 ? 1 : 4 * level, 1 / maxGain)
//   y     = delayed sample * gain, clipped to -1 ... kClipHigh
// then the frame's inputs replace the delayed samples in the rings. A frame's inputs are read
// before its outputs are written, so outputs may be any of the inputs.
#pragma once

#include <algorithm>
#include <cmath>

namespace LookAheadGain {

// Length of the look-ahead delay (samples), and so the latency of both stages.
inline constexpr unsigned kLength = 64;
// Lowest value of the peak and the level: keeps 1 / (4 * level) finite.
inline constexpr float kFloor = 0.00001f;
// Level above which the gain is 1; below it the gain is kTarget / level.
inline constexpr float kTarget = 0.25f;
// Largest output value: the float 17 units in the last place below 1.0.
inline constexpr float kClipHigh = 0.9999989867f;
static_assert(static_cast<double>(kClipHigh) == 1.0 - 17.0 / 16777216.0);
// Smallest output value.
inline constexpr float kClipLow = -1.0f;

// A sample that is not finite counts as silence: an infinity would otherwise hold the peak and
// the level at infinity for good.
inline float finiteOrZero(float x) {
    return std::isfinite(x) ? x : 0.0f;
}

// Runs `count` frames of `Channels` (1 or 2) channels through `stage`, which provides peak,
// level, maxGain, position, lookAhead[Channels][kLength], release and smoothing. Channel c reads
// input[c] and writes output[c]; the mono case uses the first ring only.
template <unsigned Channels, class Stage>
void run(Stage& stage, const float* const (&input)[Channels], float* const (&output)[Channels],
         unsigned count) {
    static_assert(Channels == 1 || Channels == 2);
    const float peakKeep = 1.0f - stage.release;
    const float levelKeep = 1.0f - stage.smoothing;
    const float minDivisor = 1.0f / stage.maxGain;
    unsigned position = stage.position % kLength;
    for (unsigned n = 0; n < count; ++n) {
        float x[Channels];
        float magnitude = 0.0f;
        for (unsigned c = 0; c < Channels; ++c) {
            x[c] = finiteOrZero(input[c][n]);
            magnitude = std::max(magnitude, std::fabs(x[c]));
        }

        stage.peak = std::max(peakKeep * stage.peak, kFloor);
        if (magnitude > stage.peak) {
            stage.peak = magnitude;
        }
        const float smoothed = levelKeep * stage.level + stage.smoothing * stage.peak;
        stage.level = std::max(smoothed, kFloor);
        const float divisor = stage.level > kTarget ? 1.0f : 4.0f * stage.level;
        const float gain = 1.0f / std::max(divisor, minDivisor);

        for (unsigned c = 0; c < Channels; ++c) {
            float& delayed = stage.lookAhead[c][position];
            float y = delayed * gain;
            if (y >= kClipHigh) {
                y = kClipHigh;
            } else if (y <= kClipLow) {
                y = kClipLow;
            }
            output[c][n] = y;
            delayed = x[c];
        }
        position = (position + 1) % kLength;
    }
    stage.position = position;
}

} // namespace LookAheadGain
