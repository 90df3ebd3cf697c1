// Basis filters of the 20-band graphic equalizer. The defining source,
// plugin/equalizer_basis_tables.cpp, is written by tools/eqbasis and committed; do not edit it by
// hand.
//
// Each basis filter is a linear-phase band filter of 511 taps stored in 512 (tap k equals tap
// 510 - k, tap 511 is 0), so its delay is 255 samples. Band i passes the band of equalizer band i
// at unit gain and crosses -6 dB (half amplitude) at the midpoints between neighbouring band
// centres, kEqBandEdges below; band 0 reaches down to 0 Hz and band 19 up to half the rate. The
// twenty filters of a set add up to a unit impulse at tap 255 to within float rounding, so all
// bands at gain 1 are a pure delay of 255 samples.
#pragma once

namespace eqbasis {

inline constexpr int kEqBasisSets = 2;
inline constexpr int kEqBands = 20;
inline constexpr int kEqBasisTaps = 512;
// Index of the centre tap (the filters' delay in samples).
inline constexpr int kEqBasisCentre = 255;

// Basis set designed for an internal rate of 16 000 Hz.
inline constexpr int kEqBasisSet16000 = 0;
// Basis set designed for an internal rate of 14 700 Hz.
inline constexpr int kEqBasisSet14700 = 1;
// The internal rate each set is designed for, in Hz, by set index.
inline constexpr double kEqBasisRate[kEqBasisSets] = {16000.0, 14700.0};

// Band edges in Hz: edge i lies between band i and band i + 1; the same for both sets.
inline constexpr int kEqBandEdgeCount = kEqBands - 1;
inline constexpr double kEqBandEdges[kEqBandEdgeCount] = {
    160.0,  320.0,  480.0,  640.0,  800.0,  960.0,  1120.0, 1300.0, 1500.0, 1700.0,
    2000.0, 2400.0, 2800.0, 3250.0, 3750.0, 4250.0, 4750.0, 5250.0, 5750.0};

// kEqualizerBasis[set][band][tap].
extern const float kEqualizerBasis[kEqBasisSets][kEqBands][kEqBasisTaps];

} // namespace eqbasis
