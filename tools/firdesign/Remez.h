// Equiripple linear-phase FIR design by the Remez exchange (the Parks-McClellan method), for
// even tap counts: symmetric taps (a cosine series times cos(w/2): low-pass, band-pass) and
// antisymmetric taps (a cosine series times sin(w/2): 90-degree phase shifters).
//
// Frequencies are fractions of the sample rate, 0 ... 0.5. The design minimises the largest
// weighted error  W(f) * (D(f) - A(f))  over the bands on a dense grid, where A is the zero-phase
// amplitude of the taps (see amplitude() in Response.h). The grid follows the classic program of
// McClellan, Parks and Rabiner (IEEE Trans. Audio Electroacoust. 21, 1973): a spacing of
// 1 / (2 * density * N/2), each band closed by its upper edge, the first point of an
// antisymmetric design moved off 0 Hz and a symmetric design's last point dropped near the
// Nyquist frequency, where the fixed factor of either type is zero.
//
// The exchange itself is computed in long double with the barycentric form of the Lagrange
// interpolation; each step takes all local extrema of the error that reach the levelled
// deviation, keeps them alternating and trims the set to N/2 + 1 points. It is deterministic for
// a given platform and compiler.
#pragma once

#include <span>
#include <vector>

namespace firdesign {

enum class Symmetry {
    Symmetric,    // h[n] = h[N-1-n]
    Antisymmetric // h[n] = -h[N-1-n]
};

struct Band {
    double low;     // lower edge, fraction of the sample rate
    double high;    // upper edge, fraction of the sample rate (> low, <= 0.5)
    double desired; // desired amplitude across the band
    double weight;  // weight of the error in the band (> 0)
};

struct RemezOptions {
    int gridDensity = 16;    // grid points per extremal (the classic default)
    int maxIterations = 100; // exchange steps before giving up
};

struct RemezResult {
    std::vector<double> taps;                // h[0 ... N-1]
    double deviation = 0.0;                  // levelled weighted error of the final reference
    std::vector<double> extremalFrequencies; // the final reference, ascending (N/2 + 1 points)
    int iterations = 0;                      // exchange steps taken
    bool converged = false;                  // the reference stopped changing
};

// Designs an N-tap filter (N even, at least 4). Bands must be ascending and must not touch or
// overlap. Throws std::invalid_argument on bad arguments.
RemezResult designRemez(int tapCount, Symmetry symmetry, std::span<const Band> bands,
                        const RemezOptions& options = {});

} // namespace firdesign
