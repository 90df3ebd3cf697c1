// The Remez exchange against what an equiripple design must be (alternation on N/2 + 1 points at
// the levelled deviation, and nowhere a larger error) and against reference designs.

#include "tools/firdesign/Remez.h"
#include "tools/firdesign/Response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using firdesign::Band;
using firdesign::designRemez;
using firdesign::RemezOptions;
using firdesign::RemezResult;
using firdesign::Symmetry;

// Weighted error W (D - A) at f, which must lie in one of the bands.
double weightedError(const RemezResult& result, Symmetry symmetry, const std::vector<Band>& bands,
                     double f) {
    for (const Band& band : bands) {
        if (f >= band.low && f <= band.high) {
            return band.weight * (band.desired - firdesign::amplitude(result.taps, symmetry, f));
        }
    }
    ADD_FAILURE() << f << " lies in no band";
    return 0.0;
}

// Checks the characterisation of the best approximation from the taps alone: N/2 + 1 reference
// frequencies inside the bands where the weighted error alternates in sign with the magnitude of
// the deviation, and a dense scan of the bands on which the error nowhere exceeds it by more than
// `excess` (relative). The design is optimal on its grid only: between grid points, mostly next to
// the band edges, the error peaks higher, by an amount that falls with the square of the grid
// density (about 1 % at the classic density of 16 for short designs, 9 % for a 256-tap design with
// a 1e-7 ripple, 2e-4 at 256); a missed extremum would not shrink with the density.
void expectEquiripple(const RemezResult& result, Symmetry symmetry, const std::vector<Band>& bands,
                      int tapCount, double excess) {
    ASSERT_TRUE(result.converged);
    ASSERT_EQ(result.taps.size(), static_cast<std::size_t>(tapCount));
    for (int n = 0; n < tapCount; ++n) {
        const double mirrored = result.taps[static_cast<std::size_t>(tapCount - 1 - n)];
        EXPECT_EQ(result.taps[static_cast<std::size_t>(n)],
                  symmetry == Symmetry::Symmetric ? mirrored : -mirrored);
    }

    ASSERT_EQ(result.extremalFrequencies.size(), static_cast<std::size_t>(tapCount / 2 + 1));
    EXPECT_TRUE(
        std::is_sorted(result.extremalFrequencies.begin(), result.extremalFrequencies.end()));
    // The error is measured in double: allow for its rounding next to a deviation of 1e-7.
    const double tolerance = 1e-9 * result.deviation + 1e-13;
    for (std::size_t k = 0; k < result.extremalFrequencies.size(); ++k) {
        const double f = result.extremalFrequencies[k];
        const double e = weightedError(result, symmetry, bands, f);
        EXPECT_NEAR(std::fabs(e), result.deviation, tolerance) << "at " << f;
        if (k > 0) {
            const double before =
                weightedError(result, symmetry, bands, result.extremalFrequencies[k - 1]);
            EXPECT_LT(e * before, 0.0) << "no alternation at " << f;
        }
    }

    double largest = 0.0;
    for (const Band& band : bands) {
        for (int i = 0; i <= 20000; ++i) {
            const double f = band.low + (band.high - band.low) * i / 20000.0;
            // The fixed factor of either type vanishes at one end: no error is measured there.
            if ((symmetry == Symmetry::Antisymmetric && f == 0.0) ||
                (symmetry == Symmetry::Symmetric && f == 0.5)) {
                continue;
            }
            largest = std::max(largest, std::fabs(weightedError(result, symmetry, bands, f)));
        }
    }
    EXPECT_GE(largest, result.deviation * (1.0 - 1e-9));
    EXPECT_LE(largest, result.deviation * (1.0 + excess));
}

TEST(Remez, LowPassIsEquiripple) {
    const std::vector<Band> bands = {{0.0, 0.15, 1.0, 1.0}, {0.2, 0.5, 0.0, 4.0}};
    const RemezResult classic = designRemez(24, Symmetry::Symmetric, bands);
    expectEquiripple(classic, Symmetry::Symmetric, bands, 24, 0.01);
    const RemezResult dense = designRemez(24, Symmetry::Symmetric, bands, {.gridDensity = 256});
    expectEquiripple(dense, Symmetry::Symmetric, bands, 24, 1e-4);
    // A denser grid can only find the error peaks higher.
    EXPECT_GE(dense.deviation, classic.deviation);
    EXPECT_LT(dense.deviation, classic.deviation * 1.01);
}

TEST(Remez, LongDesignsAreEquiripple) {
    // 256 taps with a stop band 135 dB down, and with a narrow stop band next to 0 Hz.
    const RemezOptions dense = {.gridDensity = 64};
    const std::vector<Band> lowPass = {{0.0, 0.2125, 1.0, 1.0}, {0.25, 0.5, 0.0, 31.6}};
    const RemezResult deep = designRemez(256, Symmetry::Symmetric, lowPass, dense);
    expectEquiripple(deep, Symmetry::Symmetric, lowPass, 256, 0.005);
    EXPECT_LT(deep.deviation, 2e-7);

    const std::vector<Band> shifter = {{0.0, 0.004375, 0.0, 1.0}, {0.013125, 0.5, 1.0, 1.0}};
    const RemezResult narrow = designRemez(256, Symmetry::Antisymmetric, shifter, dense);
    expectEquiripple(narrow, Symmetry::Antisymmetric, shifter, 256, 0.002);
}

// Reference designs from the McClellan-Parks-Rabiner program (as distributed with SciPy 1.10,
// signal.remez, grid density 16): the first half of the taps; the rest follow by symmetry.
struct Reference {
    const char* name;
    int tapCount;
    Symmetry symmetry;
    std::vector<Band> bands;
    std::vector<double> firstHalf;
};

std::vector<Reference> references() {
    return {
        {"low-pass",
         32,
         Symmetry::Symmetric,
         {{0.0, 0.2, 1.0, 1.0}, {0.25, 0.5, 0.0, 10.0}},
         {0.007367258610711166, 0.002013223455578075, -0.015157422537648717, -0.025406050973735262,
          -0.008458136458270466, 0.017504893865099833, 0.011905386082904335, -0.022591978207289757,
          -0.028827457117387954, 0.018298062416287682, 0.05067359789838765, -0.004489074149968499,
          -0.08681453587458245, -0.038392963073987055, 0.1847080479540237, 0.40534398569741736}},
        {"90-degree phase shifter",
         32,
         Symmetry::Antisymmetric,
         {{0.05, 0.5, 1.0, 1.0}},
         {0.002224867880116476, 0.002533834035584479, 0.003916403364862009, 0.005754387275051166,
          0.008138491244359902, 0.011190245229236381, 0.015060725692476587, 0.019955284729607156,
          0.02618168469999828, 0.03421776520832094, 0.044886594239350264, 0.059750756660036014,
          0.08217148821568762, 0.12093071892564083, 0.20831973058359188, 0.6353158954094774}},
        {"band-pass",
         40,
         Symmetry::Symmetric,
         {{0.0, 0.1, 0.0, 2.0}, {0.15, 0.3, 1.0, 1.0}, {0.35, 0.5, 0.0, 2.0}},
         {0.005246335332294605,  -0.007223747085267296, -0.012195045202015874,
          0.0024143956863562155, 0.0021475709546502487, -0.0005389826769104703,
          0.0227312814899693,    0.011473289610472242,  -0.022843249720571515,
          -0.005464178201943159, -0.01333210709203942,  -0.044071208478263235,
          0.0278557732874512,    0.0643632152650749,    -0.002602187033060633,
          0.047199120312800796,  0.033555151067146294,  -0.2314032002144029,
          -0.17540189912123447,  0.294164582463611}},
        // These two take steps where the error has more extrema than the reference needs.
        {"band-stop",
         30,
         Symmetry::Symmetric,
         {{0.0, 0.1, 1.0, 1.0}, {0.15, 0.25, 0.0, 1.0}, {0.3, 0.45, 1.0, 1.0}},
         {-0.013051862893546066, 0.00982245394060399, -0.014817338126659838, -0.0028235398126368744,
          0.03449879966997725, 0.03835825214686508, -0.004378292674638469, -0.039952859858496184,
          0.025064137474906698, -0.07522208408629798, -0.03921321462223941, -0.020889584561924066,
          0.34583804164379994, -0.11897028945514343, 0.39342174450788103}},
        {"multi-band",
         40,
         Symmetry::Symmetric,
         {{0.0, 0.05, 0.0, 1.0},
          {0.1, 0.15, 1.0, 1.0},
          {0.2, 0.25, 0.0, 1.0},
          {0.3, 0.35, 1.0, 1.0},
          {0.4, 0.5, 0.0, 1.0}},
         {0.0016934625841655583, -0.002174143761025817,  -0.0010212027502380983,
          -0.003158835295480246, -0.03514232712289901,   -0.0023615223451437205,
          0.025694062230457934,  0.00018927219437426417, 0.01591749427378562,
          0.007423549534924696,  0.011037197966172042,   0.028168854895047914,
          0.0003450579564085038, 0.08859527279472862,    -0.015679711824873516,
          -0.24861930910755753,  -0.0423175591437194,    0.00015600560182854606,
          -0.11668598638304883,  0.2862860327139584}},
    };
}

TEST(Remez, MatchesReferenceDesigns) {
    for (const Reference& ref : references()) {
        SCOPED_TRACE(ref.name);
        const RemezResult result = designRemez(ref.tapCount, ref.symmetry, ref.bands);
        expectEquiripple(result, ref.symmetry, ref.bands, ref.tapCount, 0.02);
        for (std::size_t n = 0; n < ref.firstHalf.size(); ++n) {
            EXPECT_NEAR(result.taps[n], ref.firstHalf[n], 1e-12) << "tap " << n;
        }
    }
}

TEST(Remez, RejectsBadArguments) {
    const std::vector<Band> good = {{0.0, 0.2, 1.0, 1.0}, {0.25, 0.5, 0.0, 1.0}};
    EXPECT_THROW(designRemez(31, Symmetry::Symmetric, good), std::invalid_argument);
    EXPECT_THROW(designRemez(2, Symmetry::Symmetric, good), std::invalid_argument);
    EXPECT_THROW(designRemez(32, Symmetry::Symmetric, {}), std::invalid_argument);

    const std::vector<Band> overlapping = {{0.0, 0.3, 1.0, 1.0}, {0.25, 0.5, 0.0, 1.0}};
    const std::vector<Band> beyondNyquist = {{0.0, 0.2, 1.0, 1.0}, {0.25, 0.6, 0.0, 1.0}};
    const std::vector<Band> zeroWeight = {{0.0, 0.2, 1.0, 1.0}, {0.25, 0.5, 0.0, 0.0}};
    const std::vector<Band> empty = {{0.2, 0.2, 1.0, 1.0}};
    for (const auto& bands : {overlapping, beyondNyquist, zeroWeight, empty}) {
        EXPECT_THROW(designRemez(32, Symmetry::Symmetric, bands), std::invalid_argument);
    }
    // More taps than the grid can hold extremals for.
    const std::vector<Band> tiny = {{0.0, 0.001, 1.0, 1.0}};
    EXPECT_THROW(designRemez(64, Symmetry::Symmetric, tiny, {.gridDensity = 1}),
                 std::invalid_argument);
}

TEST(Response, AmplitudeAndMagnitudeOfShortFilters) {
    const double quarter = std::cos(std::numbers::pi / 4.0);
    const std::vector<double> average = {0.5, 0.5};
    EXPECT_NEAR(firdesign::amplitude(average, Symmetry::Symmetric, 0.25), quarter, 1e-15);
    EXPECT_NEAR(firdesign::magnitude(average, 0.25), quarter, 1e-15);
    EXPECT_NEAR(firdesign::amplitude(average, Symmetry::Symmetric, 0.5), 0.0, 1e-15);

    const std::vector<double> difference = {0.5, -0.5}; // A(f) = sin(pi f)
    EXPECT_NEAR(firdesign::amplitude(difference, Symmetry::Antisymmetric, 0.25), quarter, 1e-15);
    EXPECT_NEAR(firdesign::amplitude(difference, Symmetry::Antisymmetric, 0.5), 1.0, 1e-15);
    EXPECT_NEAR(firdesign::magnitudeDb(difference, 0.5), 0.0, 1e-12);
    EXPECT_NEAR(firdesign::magnitudeDb(difference, 1.0 / 6.0), 20.0 * std::log10(0.5), 1e-12);
}

} // namespace
