// eqbasis: writes the equalizer's basis filters, plugin/equalizer_basis_tables.cpp.
//
//     eqbasis OUTPUT.cpp
//
// Design. Every band edge e gets a linear-phase windowed-sinc low-pass of 511 taps with its
// cutoff at e (the ideal low-pass impulse response sin(2 pi e m / fs) / (pi m), m = n - 255,
// times a Kaiser window). The bands are differences of these low-passes:
//
//     band 0  = lowpass(edge 0)
//     band i  = lowpass(edge i) - lowpass(edge i - 1)        for i = 1 ... 18
//     band 19 = unit impulse at 255 - lowpass(edge 18)
//
// so the twenty bands telescope to exactly a unit impulse and all bands at gain 1 are a pure
// delay. A windowed-sinc low-pass is at half amplitude at its cutoff, so each band crosses -6 dB
// at its own edges; the Kaiser parameter beta sets the trade between transition width and the
// stop band. The bands are computed in double and rounded to float once, at the end.
//
// The stop-band sidelobes of the low-passes next to a band decide how exactly a cut band keeps
// its setting: with all other bands at 0 dB the response at a band's centre is g + (1 - g) e,
// where e is what the neighbouring edges leak there, 80 to 100 Hz from them in the narrow low
// bands. At 16 000 Hz, beta = 4.5 gives transitions (-0.5 dB to -25 dB) of 64.4 Hz, just inside
// 65 Hz, stop bands at least 49 dB down from 60 Hz outside an edge, and a band cut to -30 dB
// reads -28.8 to -30.9 dB at its centre; a smaller beta narrows the transitions but lets the cut
// stray further (beta = 4.25: -28.6 to -31.2 dB), a larger one widens them beyond 65 Hz. The
// 14 700 Hz set spans more time with the same 511 taps, so for transitions of the same width in
// Hz it takes a larger beta, 5.2 (64.0 Hz; a -30 dB cut reads -29.5 to -30.5 dB).
//
// The output is deterministic: the phases are reduced exactly in integers before the sine, every
// filter is computed for one half and mirrored, and floats are printed with enough digits to
// read back bit for bit.

#include "plugin/EqualizerBasis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

using eqbasis::kEqBandEdgeCount;
using eqbasis::kEqBandEdges;
using eqbasis::kEqBands;
using eqbasis::kEqBasisCentre;
using eqbasis::kEqBasisRate;
using eqbasis::kEqBasisSets;
using eqbasis::kEqBasisTaps;

// Kaiser window parameter per basis set (see above).
constexpr double kBeta[kEqBasisSets] = {4.5, 5.2};

// Half the filter length: the taps run from centre - kHalf to centre + kHalf.
constexpr int kHalf = kEqBasisCentre;

using Filter = std::array<double, kEqBasisTaps>;

// Zeroth-order modified Bessel function of the first kind, by its power series.
double besselI0(double x) {
    const double q = x * x / 4.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-18) {
            break;
        }
    }
    return sum;
}

// Kaiser window value at offset m from the centre, |m| <= kHalf.
double kaiser(int m, double beta) {
    const double r = static_cast<double>(m) / kHalf;
    return besselI0(beta * std::sqrt(1.0 - r * r)) / besselI0(beta);
}

// sin(2 pi numerator / denominator), the argument reduced exactly in integers to the first
// quadrant, so that mathematically equal sines come out bit for bit equal and zeros exactly 0.
double sineOfTurns(long numerator, long denominator) {
    long turns = numerator % denominator;
    double sign = 1.0;
    if (2 * turns > denominator) {
        turns = denominator - turns;
        sign = -1.0;
    }
    // Now 0 <= turns <= denominator / 2: sin(pi - x) = sin(x) folds the second quadrant.
    const long folded = std::min(2 * turns, denominator - 2 * turns);
    return sign * std::sin(std::numbers::pi * static_cast<double>(folded) /
                           static_cast<double>(denominator));
}

// Windowed-sinc low-pass with its cutoff (half amplitude) at cutoffHz; tap kHalf + m for
// m = -kHalf ... kHalf, the last tap 0. Cutoff and rate are whole numbers of Hz, so the phase
// 2 pi cutoff m / rate is reduced exactly before the sine is taken.
Filter lowPass(long cutoffHz, long rateHz, double beta) {
    Filter h{};
    h[kEqBasisCentre] = 2.0 * static_cast<double>(cutoffHz) / static_cast<double>(rateHz);
    for (int m = 1; m <= kHalf; ++m) {
        const double value =
            kaiser(m, beta) * sineOfTurns(cutoffHz * m, rateHz) / (std::numbers::pi * m);
        h[kEqBasisCentre + m] = value;
        h[kEqBasisCentre - m] = value;
    }
    return h;
}

// The twenty band filters of one set, in double.
std::vector<Filter> designSet(int set) {
    const long rate = std::lround(kEqBasisRate[set]);
    std::vector<Filter> low;
    for (int e = 0; e < kEqBandEdgeCount; ++e) {
        low.push_back(lowPass(std::lround(kEqBandEdges[e]), rate, kBeta[set]));
    }
    std::vector<Filter> bands(kEqBands);
    for (int i = 0; i < kEqBands; ++i) {
        for (int n = 0; n < kEqBasisTaps; ++n) {
            const double upper =
                i < kEqBandEdgeCount ? low[i][n] : (n == kEqBasisCentre ? 1.0 : 0.0);
            const double lower = i > 0 ? low[i - 1][n] : 0.0;
            bands[i][n] = upper - lower;
        }
        bands[i][kEqBasisTaps - 1] = 0.0;
    }
    return bands;
}

// Writes a float as a C++ literal that reads back to the same value: nine significant digits,
// and a decimal point where "%g" leaves none.
void writeFloat(std::FILE* out, float value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    const bool bare = std::strpbrk(text, ".e") == nullptr;
    std::fprintf(out, "%s%sf", text, bare ? ".0" : "");
}

bool writeTables(const char* path) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "eqbasis: cannot open %s for writing\n", path);
        return false;
    }
    std::fprintf(out,
                 "// Equalizer basis filters: written by tools/eqbasis, do not edit by hand.\n"
                 "// To regenerate, build the eqbasis target and run\n"
                 "//     eqbasis plugin/equalizer_basis_tables.cpp\n"
                 "// from the source root; the test eqbasis.regenerate checks that this file is\n"
                 "// what the tool writes.\n"
                 "\n"
                 "#include \"plugin/EqualizerBasis.h\"\n"
                 "\n"
                 "namespace eqbasis {\n"
                 "\n"
                 "// clang-format off\n"
                 "const float kEqualizerBasis[kEqBasisSets][kEqBands][kEqBasisTaps] = {\n");
    constexpr int kPerLine = 4;
    for (int set = 0; set < kEqBasisSets; ++set) {
        const std::vector<Filter> bands = designSet(set);
        std::fprintf(out, "    { // set %d: %.0f Hz, Kaiser beta %.2f\n", set, kEqBasisRate[set],
                     kBeta[set]);
        for (int band = 0; band < kEqBands; ++band) {
            const double low = band > 0 ? kEqBandEdges[band - 1] : 0.0;
            const double high =
                band < kEqBandEdgeCount ? kEqBandEdges[band] : kEqBasisRate[set] / 2.0;
            std::fprintf(out, "        { // band %d: %.0f - %.0f Hz\n", band, low, high);
            for (int n = 0; n < kEqBasisTaps; ++n) {
                std::fputs(n % kPerLine == 0 ? "            " : " ", out);
                writeFloat(out, static_cast<float>(bands[band][n]));
                std::fputs(n % kPerLine == kPerLine - 1 ? ",\n" : ",", out);
            }
            std::fprintf(out, "        },\n");
        }
        std::fprintf(out, "    },\n");
    }
    std::fprintf(out, "};\n"
                      "// clang-format on\n"
                      "\n"
                      "} // namespace eqbasis\n");
    const bool written = std::ferror(out) == 0;
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "eqbasis: writing %s failed\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: eqbasis OUTPUT.cpp\n");
        return 2;
    }
    return writeTables(argv[1]) ? EXIT_SUCCESS : EXIT_FAILURE;
}
