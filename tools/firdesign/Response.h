// Frequency response of FIR taps, evaluated directly in double at any frequency (a fraction of
// the sample rate).
#pragma once

#include "tools/firdesign/Remez.h"

#include <span>

namespace firdesign {

// Zero-phase amplitude A(f) of linear-phase taps, with c = (N-1)/2:
//   symmetric:      A(f) = sum h[n] cos(2 pi f (c - n)),  H(f) = exp(-j 2 pi f c) A(f)
//   antisymmetric:  A(f) = sum h[n] sin(2 pi f (c - n)),  H(f) = j exp(-j 2 pi f c) A(f)
double amplitude(std::span<const double> taps, Symmetry symmetry, double f);

// |H(f)| of any taps, and the same in dB.
double magnitude(std::span<const double> taps, double f);
double magnitudeDb(std::span<const double> taps, double f);

} // namespace firdesign
