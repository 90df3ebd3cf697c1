// firdesign: designs the high-pass, its phase and the resampler tap tables and writes them as
// C++ sources.
//
//     firdesign OUTPUT_FOLDER
//
// writes OUTPUT_FOLDER/highpass_table.cpp and OUTPUT_FOLDER/resample_tables.cpp (the committed
// copies live in dsp/). Every table is a 256-tap equiripple design by the Remez exchange
// (Remez.h), computed in long double and rounded to float once, at the end.
//
// High-pass: an antisymmetric (90-degree phase shifter) design with a stop band from 0 to
// 0.004375 fs and a pass band from 0.013125 fs to fs/2, equal weights: 64.3 Hz and 192.9 Hz at
// the 14 700 Hz internal rate, 70 Hz and 210 Hz at 16 000 Hz. Equal weights give the same ripple
// in both bands, about 0.0049: +-0.042 dB in the pass band and 46 dB down in the stop band. Its
// zero-phase amplitude approximates 1 above the pass-band edge, so the centre taps come close to
// those of the ideal phase shifter, 2 / (pi (2m - 1)). The window method and least squares cannot
// reach the stop band with this transition width; an equiripple design can.
//
// High-pass phase: an all-pass with the high-pass's phase, an antisymmetric 1024-tap design
// that approximates 1 from 0.0015 fs to fs/2 (a 90-degree phase shifter, 22 Hz and up at
// 14 700 Hz, within +-0.0027 or -51 dB; 0.7 at 10 Hz). It stands in for the high-pass where
// the chain forms the reference of what it removes: it turns the signal as the high-pass does
// without taking anything away, so that the rumble the high-pass removes shows in full. Its
// delay, 511.5 samples, is 384 more than the high-pass's; the reference makes up for them.
//
// Resampler, factor f: a symmetric low-pass with its pass band to 0.85 fs/(2f) and its stop band
// from fs/(2f), the Nyquist frequency of the low rate, so nothing folds back when every f-th
// sample is kept. The stop band is weighted 10^1.5 against the pass band (factors 2, 3 and 4) or
// 10^2.5 (factor 6): the pass-band ripple is that much larger than the stop-band ripple, which
// keeps 2, 3 and 4 flat within 0.004 dB and lets 6, with its narrow transition, still reach 85 dB.
//
// The tables are exactly (anti)symmetric in float: one half is rounded and mirrored, so the
// high-pass taps sum to exactly 0. Floats are printed with nine significant digits, enough to read
// back bit for bit.

#include "tools/firdesign/Remez.h"
#include "tools/firdesign/Response.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using firdesign::Band;
using firdesign::Symmetry;

constexpr int kTaps = 256;       // every table but the high-pass phase
constexpr int kPhaseTaps = 1024; // the high-pass phase

struct Table {
    const char* name;        // C++ symbol in namespace taps
    const char* description; // comment above the table
    Symmetry symmetry;
    std::vector<Band> bands;
    int taps = kTaps;
};

Table highPassTable() {
    return {"kHighPass",
            "High-pass / 90-degree phase shifter: stop band 0 - 0.004375 fs, pass band\n"
            "// 0.013125 fs - fs/2, equal weights (64.3 Hz and 192.9 Hz at 14 700 Hz).",
            Symmetry::Antisymmetric,
            {{0.0, 0.004375, 0.0, 1.0}, {0.013125, 0.5, 1.0, 1.0}}};
}

Table highPassPhaseTable() {
    return {"kHighPassPhase",
            "All-pass with the high-pass's phase (a 90-degree phase shifter), 1024 taps: pass\n"
            "// band 0.0015 fs - fs/2 (22 Hz and up at 14 700 Hz).",
            Symmetry::Antisymmetric,
            {{0.0015, 0.5, 1.0, 1.0}},
            kPhaseTaps};
}

Table resampleTable(int factor, const char* name, const char* description, double stopWeight) {
    const double edge = 0.5 / factor;
    return {name,
            description,
            Symmetry::Symmetric,
            {{0.0, 0.85 * edge, 1.0, 1.0}, {edge, 0.5, 0.0, stopWeight}}};
}

std::vector<Table> resampleTables() {
    const double moderate = std::pow(10.0, 1.5);
    const double strong = std::pow(10.0, 2.5);
    return {
        resampleTable(2, "kResample2",
                      "Factor 2: pass band 0 - 0.2125 fs, stop band 0.25 fs - fs/2, stop weight "
                      "10^1.5.",
                      moderate),
        resampleTable(3, "kResample3",
                      "Factor 3: pass band 0 - 0.141667 fs, stop band fs/6 - fs/2, stop weight "
                      "10^1.5.",
                      moderate),
        resampleTable(4, "kResample4",
                      "Factor 4: pass band 0 - 0.10625 fs, stop band 0.125 fs - fs/2, stop weight "
                      "10^1.5.",
                      moderate),
        resampleTable(6, "kResample6",
                      "Factor 6: pass band 0 - 0.0708333 fs, stop band fs/12 - fs/2, stop weight "
                      "10^2.5.",
                      strong),
    };
}

// Designs one table and rounds it to float, mirroring the first half so that the symmetry is exact.
bool design(const Table& table, std::vector<float>& taps) {
    const firdesign::RemezResult result =
        firdesign::designRemez(table.taps, table.symmetry, table.bands);
    if (!result.converged) {
        std::fprintf(stderr, "firdesign: %s did not converge\n", table.name);
        return false;
    }
    taps.assign(static_cast<std::size_t>(table.taps), 0.0f);
    for (int n = 0; n < table.taps / 2; ++n) {
        const auto value = static_cast<float>(result.taps[static_cast<std::size_t>(n)]);
        taps[static_cast<std::size_t>(n)] = value;
        taps[static_cast<std::size_t>(table.taps - 1 - n)] =
            table.symmetry == Symmetry::Symmetric ? value : -value;
    }
    std::printf("%-11s %d iterations, deviation %.6g (%.2f dB)\n", table.name, result.iterations,
                result.deviation, 20.0 * std::log10(result.deviation));
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

void writeTable(std::ostringstream& out, const Table& table, const std::vector<float>& taps,
                const char* count) {
    out << "// " << table.description << "\n";
    out << "const float " << table.name << "[" << count << "] = {\n";
    for (int n = 0; n < table.taps; n += 4) {
        out << "   ";
        for (int i = n; i < n + 4; ++i) {
            out << " " << literal(taps[static_cast<std::size_t>(i)]) << ",";
        }
        out << "\n";
    }
    out << "};\n";
}

const char* const kHeader = "written by tools/firdesign, do not edit by hand.\n"
                            "// To regenerate, build the firdesign target and run\n"
                            "//     firdesign dsp\n"
                            "// from the source root; the test firdesign.regenerate checks that "
                            "this file is\n"
                            "// what the tool writes.\n"
                            "\n"
                            "#include \"dsp/TapTables.h\"\n"
                            "\n"
                            "namespace taps {\n"
                            "\n"
                            "// clang-format off\n";

const char* const kFooter = "// clang-format on\n"
                            "\n"
                            "} // namespace taps\n";

bool writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "firdesign: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: firdesign OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];

    std::ostringstream highPass;
    highPass << "// High-pass tap table: " << kHeader;
    const Table hp = highPassTable();
    std::vector<float> taps;
    if (!design(hp, taps)) {
        return 1;
    }
    writeTable(highPass, hp, taps, "kHighPassCount");
    const Table phase = highPassPhaseTable();
    if (!design(phase, taps)) {
        return 1;
    }
    highPass << "\n";
    writeTable(highPass, phase, taps, "kHighPassPhaseCount");
    highPass << kFooter;

    std::ostringstream resample;
    resample << "// Resampler tap tables: " << kHeader;
    bool first = true;
    for (const Table& table : resampleTables()) {
        if (!design(table, taps)) {
            return 1;
        }
        if (!first) {
            resample << "\n";
        }
        first = false;
        writeTable(resample, table, taps, "kResampleCount");
    }
    resample << kFooter;

    if (!writeFile(folder / "highpass_table.cpp", highPass.str()) ||
        !writeFile(folder / "resample_tables.cpp", resample.str())) {
        return 1;
    }
    return 0;
}
