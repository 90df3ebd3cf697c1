// Constant tap tables of the enhancement engine. The sources that define them are written by
// tools/firdesign and committed; do not edit them by hand.
#pragma once

namespace taps {

// 256-tap antisymmetric high-pass (a 90-degree phase shifter band-limited to 200 Hz and up at
// 14 700 Hz); the taps sum to exactly 0.
inline constexpr int kHighPassCount = 256;
extern const float kHighPass[kHighPassCount];
// 1024-tap antisymmetric all-pass with the high-pass's phase (a 90-degree phase shifter from
// 22 Hz up at 14 700 Hz, delay 511.5 samples): the high-pass without its cut.
inline constexpr int kHighPassPhaseCount = 1024;
extern const float kHighPassPhase[kHighPassPhaseCount];

// 256-tap symmetric anti-alias / anti-image low-passes for the resampler, one per factor.
inline constexpr int kResampleCount = 256;
extern const float kResample2[kResampleCount];
extern const float kResample3[kResampleCount];
extern const float kResample4[kResampleCount];
extern const float kResample6[kResampleCount];

} // namespace taps
