#include "tools/firdesign/Response.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace firdesign {

double amplitude(std::span<const double> taps, Symmetry symmetry, double f) {
    const double centre = 0.5 * static_cast<double>(taps.size() - 1);
    const double w = 2.0 * std::numbers::pi * f;
    double sum = 0.0;
    for (std::size_t n = 0; n < taps.size(); ++n) {
        const double t = w * (centre - static_cast<double>(n));
        sum += taps[n] * (symmetry == Symmetry::Symmetric ? std::cos(t) : std::sin(t));
    }
    return sum;
}

double magnitude(std::span<const double> taps, double f) {
    const double w = 2.0 * std::numbers::pi * f;
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < taps.size(); ++n) {
        sum += taps[n] * std::polar(1.0, -w * static_cast<double>(n));
    }
    return std::abs(sum);
}

double magnitudeDb(std::span<const double> taps, double f) {
    return 20.0 * std::log10(magnitude(taps, f));
}

} // namespace firdesign
