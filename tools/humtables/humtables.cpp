// humtables: designs the comb hum canceller's tap tables and writes dsp/hum_tables.cpp.
//
//     humtables OUTPUT.cpp
//
// The canceller subtracts the band part of the signal delayed by one hum period from the band
// part itself. How deep its notches go depends on two things only: how flat the band low-pass is
// where the harmonics lie (the complement passes 1 - L(f) untouched, so a band response 0.4 dB
// down caps the notch near 26 dB), and how closely each fractional-delay table reproduces the
// band response with its extra delay (any mismatch is left over at every harmonic). Both are
// designed here for depth, as weighted least-squares fits with closed-form normal equations.
//
// Band: a symmetric 71-tap low-pass centred on tap 35 (taps 71 and 72 are 0), the least-squares
// fit of 1 over 0 ... 5000 Hz and of 0 over 6600 Hz ... fs/2 with equal weights, the transition
// left free. The same band edges in Hz at both rates, so the comb reaches equally far. Its
// amplitude A(f) = c0 + 2 sum_k c_k cos(2 pi f k) has 36 unknowns; the squared error integrates
// in closed form (integrals of cosines), which gives the normal equations exactly.
//
// Delay tables t = 0 ... 9: 73 taps d[n] fitted by complex least squares to the band response
// delayed by delta = 0.5 - 0.1 t more samples,
//
//     minimise  integral W(f) |sum_n d[n] e^{-j w n} - sum_m h[m] e^{-j w (m + delta)}|^2 df,
//
// with W = 1 over 0 ... 5000 Hz and 0.001 above (which keeps the tables close to the band
// response up to fs/2 without spending the fit there). The normal equations are
//     sum_k Q[n - k] d[k] = sum_m h[m] R(n - m - delta),   Q(x) = R(x) = integral W cos(2 pi f x),
// again in closed form. Table 5 (delta = 0) is the band table itself. Both systems are symmetric
// positive definite and are solved by Cholesky factorisation in long double.
//
// Everything is computed in long double and rounded to float once; the band half is mirrored so
// the symmetry is exact, and the complement is 1 - band at tap 35 (exact in float, since the
// centre tap lies between 0.5 and 1) and -band elsewhere. Floats are printed with nine
// significant digits, enough to read back bit for bit.

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Real = long double;

constexpr Real kPi = std::numbers::pi_v<Real>;
constexpr int kTaps = 73;
constexpr int kCentre = 35;
constexpr int kHalf = 36; // unknowns of the symmetric band: taps 35 ... 70
constexpr int kFractions = 10;
constexpr Real kPassEdgeHz = 5000.0L;
constexpr Real kStopEdgeHz = 6600.0L;
constexpr Real kDelayOutOfBandWeight = 0.001L;

// A frequency range (fractions of the rate), its weight and its desired amplitude.
struct WeightedBand {
    Real low;
    Real high;
    Real weight;
    Real desired;
};

// Integral of cos(2 pi f x) over f = low ... high.
Real cosineIntegral(Real x, Real low, Real high) {
    if (x == 0.0L) {
        return high - low;
    }
    const Real w = 2.0L * kPi * x;
    return (std::sin(w * high) - std::sin(w * low)) / w;
}

// Weighted integral of cos(2 pi f x) over all bands.
Real weightedCosine(const std::vector<WeightedBand>& bands, Real x) {
    Real sum = 0.0L;
    for (const WeightedBand& band : bands) {
        sum += band.weight * cosineIntegral(x, band.low, band.high);
    }
    return sum;
}

// Solves A x = b for a symmetric positive definite n x n matrix A (row-major) by Cholesky
// factorisation. Returns false when A is not positive definite.
bool solveCholesky(std::vector<Real> a, std::vector<Real> b, int n, std::vector<Real>& x) {
    auto at = [&a, n](int row, int column) -> Real& {
        return a[static_cast<std::size_t>(row * n + column)];
    };
    for (int j = 0; j < n; ++j) {
        Real diagonal = at(j, j);
        for (int k = 0; k < j; ++k) {
            diagonal -= at(j, k) * at(j, k);
        }
        if (!(diagonal > 0.0L)) {
            return false;
        }
        at(j, j) = std::sqrt(diagonal);
        for (int i = j + 1; i < n; ++i) {
            Real sum = at(i, j);
            for (int k = 0; k < j; ++k) {
                sum -= at(i, k) * at(j, k);
            }
            at(i, j) = sum / at(j, j);
        }
    }
    // Forward substitution with L, then back substitution with L transposed.
    for (int i = 0; i < n; ++i) {
        Real sum = b[static_cast<std::size_t>(i)];
        for (int k = 0; k < i; ++k) {
            sum -= at(i, k) * b[static_cast<std::size_t>(k)];
        }
        b[static_cast<std::size_t>(i)] = sum / at(i, i);
    }
    for (int i = n - 1; i >= 0; --i) {
        Real sum = b[static_cast<std::size_t>(i)];
        for (int k = i + 1; k < n; ++k) {
            sum -= at(k, i) * b[static_cast<std::size_t>(k)];
        }
        b[static_cast<std::size_t>(i)] = sum / at(i, i);
    }
    x = std::move(b);
    return true;
}

// The symmetric band low-pass: least-squares amplitude c0 + 2 sum c_k cos(2 pi f k).
bool designBand(Real rate, std::vector<float>& band) {
    const std::vector<WeightedBand> bands = {{0.0L, kPassEdgeHz / rate, 1.0L, 1.0L},
                                             {kStopEdgeHz / rate, 0.5L, 1.0L, 0.0L}};
    // Basis phi_0 = 1, phi_k = 2 cos(2 pi f k); phi_j phi_k = 2 (cos(.. (j-k)) + cos(.. (j+k)))
    // for j, k > 0.
    std::vector<Real> gram(kHalf * kHalf);
    std::vector<Real> right(kHalf);
    for (int j = 0; j < kHalf; ++j) {
        const Real scaleJ = j == 0 ? 1.0L : 2.0L;
        for (const WeightedBand& b : bands) {
            right[static_cast<std::size_t>(j)] +=
                b.weight * b.desired * scaleJ * cosineIntegral(j, b.low, b.high);
        }
        for (int k = 0; k < kHalf; ++k) {
            Real value = 0.0L;
            if (j == 0 || k == 0) {
                const Real scale = (j == 0 ? 1.0L : 2.0L) * (k == 0 ? 1.0L : 2.0L);
                value = scale * weightedCosine(bands, j + k);
            } else {
                value = 2.0L * (weightedCosine(bands, j - k) + weightedCosine(bands, j + k));
            }
            gram[static_cast<std::size_t>(j * kHalf + k)] = value;
        }
    }
    std::vector<Real> c;
    if (!solveCholesky(gram, right, kHalf, c)) {
        return false;
    }
    band.assign(kTaps, 0.0f);
    for (int k = 0; k < kHalf; ++k) {
        const auto value = static_cast<float>(c[static_cast<std::size_t>(k)]);
        band[static_cast<std::size_t>(kCentre + k)] = value;
        band[static_cast<std::size_t>(kCentre - k)] = value;
    }
    return true;
}

// The band response delayed by `delta` more samples, fitted by complex least squares.
bool designDelay(Real rate, const std::vector<float>& band, Real delta, std::vector<float>& taps) {
    const std::vector<WeightedBand> bands = {
        {0.0L, kPassEdgeHz / rate, 1.0L, 0.0L},
        {kPassEdgeHz / rate, 0.5L, kDelayOutOfBandWeight, 0.0L}};
    std::vector<Real> gram(kTaps * kTaps);
    std::vector<Real> right(kTaps);
    for (int n = 0; n < kTaps; ++n) {
        for (int k = 0; k < kTaps; ++k) {
            gram[static_cast<std::size_t>(n * kTaps + k)] = weightedCosine(bands, n - k);
        }
        Real sum = 0.0L;
        for (int m = 0; m < kTaps; ++m) {
            const auto h = static_cast<Real>(band[static_cast<std::size_t>(m)]);
            if (h != 0.0L) {
                sum += h * weightedCosine(bands, static_cast<Real>(n - m) - delta);
            }
        }
        right[static_cast<std::size_t>(n)] = sum;
    }
    std::vector<Real> d;
    if (!solveCholesky(gram, right, kTaps, d)) {
        return false;
    }
    taps.resize(kTaps);
    for (int n = 0; n < kTaps; ++n) {
        taps[static_cast<std::size_t>(n)] = static_cast<float>(d[static_cast<std::size_t>(n)]);
    }
    return true;
}

struct TableSet {
    const char* name;
    Real rate;
    std::vector<float> band;
    std::vector<float> complement;
    std::vector<std::vector<float>> delay;
};

std::complex<double> response(const std::vector<float>& taps, double f) {
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < taps.size(); ++n) {
        sum += static_cast<double>(taps[n]) *
               std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(n));
    }
    return sum;
}

// Prints the worst band deviation and delay-table mismatch up to 3 kHz and 5 kHz.
void summarise(const TableSet& set) {
    const double rate = static_cast<double>(set.rate);
    double flat3 = 0.0;
    double flat5 = 0.0;
    double mismatch3 = 0.0;
    double mismatch5 = 0.0;
    for (double hz = 0.0; hz <= 5000.0; hz += 10.0) {
        const double f = hz / rate;
        const std::complex<double> band = response(set.band, f);
        const double flat = std::abs(1.0 - std::abs(band));
        flat5 = std::max(flat5, flat);
        if (hz <= 3000.0) {
            flat3 = std::max(flat3, flat);
        }
        for (int t = 0; t < kFractions; ++t) {
            const double delta = 0.5 - 0.1 * t;
            const std::complex<double> target =
                band * std::polar(1.0, -2.0 * std::numbers::pi * f * delta);
            const double error =
                std::abs(response(set.delay[static_cast<std::size_t>(t)], f) - target);
            mismatch5 = std::max(mismatch5, error);
            if (hz <= 3000.0) {
                mismatch3 = std::max(mismatch3, error);
            }
        }
    }
    std::printf("%s: band flat within %.1f dB (to 3 kHz) %.1f dB (to 5 kHz); delay tables "
                "match within %.1f dB / %.1f dB\n",
                set.name, 20.0 * std::log10(flat3), 20.0 * std::log10(flat5),
                20.0 * std::log10(mismatch3), 20.0 * std::log10(mismatch5));
}

bool designSet(TableSet& set) {
    if (!designBand(set.rate, set.band)) {
        std::fprintf(stderr, "humtables: band system of %s not positive definite\n", set.name);
        return false;
    }
    set.complement.assign(kTaps, 0.0f);
    for (int n = 0; n < kTaps; ++n) {
        const float b = set.band[static_cast<std::size_t>(n)];
        set.complement[static_cast<std::size_t>(n)] = (n == kCentre ? 1.0f : 0.0f) - b;
    }
    set.delay.assign(kFractions, {});
    for (int t = 0; t < kFractions; ++t) {
        auto& table = set.delay[static_cast<std::size_t>(t)];
        if (t == 5) {
            table = set.band;
            continue;
        }
        const Real delta = (5 - t) / 10.0L;
        if (!designDelay(set.rate, set.band, delta, table)) {
            std::fprintf(stderr, "humtables: delay system %d of %s not positive definite\n", t,
                         set.name);
            return false;
        }
    }
    summarise(set);
    return true;
}

std::string literal(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) {
        s += ".0";
    }
    return s + "f";
}

void writeTaps(std::ostringstream& out, const std::vector<float>& taps, const char* indent) {
    for (int n = 0; n < kTaps; n += 4) {
        out << indent;
        for (int i = n; i < n + 4 && i < kTaps; ++i) {
            out << " " << literal(taps[static_cast<std::size_t>(i)]) << ",";
        }
        out << "\n";
    }
}

void writeSet(std::ostringstream& out, const TableSet& set, const char* description) {
    out << "// " << description << "\n";
    out << "const HumTableSet " << set.name << " = {\n";
    out << "    // band\n    {\n";
    writeTaps(out, set.band, "       ");
    out << "    },\n    // complement\n    {\n";
    writeTaps(out, set.complement, "       ");
    out << "    },\n    // delay tables 0 ... 9: 35.5 ... 34.6 samples\n    {\n";
    for (int t = 0; t < kFractions; ++t) {
        out << "        {\n";
        writeTaps(out, set.delay[static_cast<std::size_t>(t)], "           ");
        out << "        },\n";
    }
    out << "    },\n};\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: humtables OUTPUT.cpp\n");
        return 2;
    }
    TableSet set14700{"kHum14700", 14700.0L, {}, {}, {}};
    TableSet set16000{"kHum16000", 16000.0L, {}, {}, {}};
    if (!designSet(set14700) || !designSet(set16000)) {
        return 1;
    }

    std::ostringstream out;
    out << "// Comb hum canceller tap tables: written by tools/humtables, do not edit by hand.\n"
           "// To regenerate, build the humtables target and run\n"
           "//     humtables dsp/hum_tables.cpp\n"
           "// from the source root; the test humtables.regenerate checks that this file is\n"
           "// what the tool writes.\n"
           "\n"
           "#include \"dsp/HumTables.h\"\n"
           "\n"
           "namespace taps {\n"
           "\n"
           "// clang-format off\n";
    writeSet(out, set14700,
             "14 700 Hz (and every rate but 16 000 Hz): pass band 0 - 5000 Hz, stop band 6600 Hz "
             "- fs/2.");
    out << "\n";
    writeSet(out, set16000, "16 000 Hz: pass band 0 - 5000 Hz, stop band 6600 Hz - fs/2.");
    out << "// clang-format on\n"
           "\n"
           "} // namespace taps\n";

    std::ofstream file(std::filesystem::path(argv[1]), std::ios::binary);
    file << out.str();
    file.close();
    if (!file) {
        std::fprintf(stderr, "humtables: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
