// Tap tables of the comb hum canceller (CHumClass). The source that defines them,
// dsp/hum_tables.cpp, is written by tools/humtables and committed; do not edit it by hand.
//
// One set per internal rate: kHum16000 for exactly 16 000 Hz, kHum14700 for every other rate.
// Each set holds kHumTapCount-tap tables, all with the same band low-pass response:
// - band: symmetric about kHumCentre (band[n] == band[70 - n]); taps 71 and 72 are 0.
// - complement: a unit impulse at kHumCentre minus band, exactly (the sum is an impulse in float).
// - delay[t], t = 0 ... kHumFractionCount - 1: the band response delayed by 35.5 - 0.1 t samples
//   instead of 35; delay[5] is the band table itself.
#pragma once

namespace taps {

inline constexpr int kHumTapCount = 73;
inline constexpr int kHumCentre = 35;
inline constexpr int kHumFractionCount = 10;

struct HumTableSet {
    float band[kHumTapCount];                     // low-pass, group delay 35 samples
    float complement[kHumTapCount];               // impulse at 35 minus band
    float delay[kHumFractionCount][kHumTapCount]; // band low-pass, delay 35.5 - 0.1 t samples
};

extern const HumTableSet kHum14700; // every rate but 16 000 Hz (designed for 14 700 Hz)
extern const HumTableSet kHum16000; // exactly 16 000 Hz

} // namespace taps
