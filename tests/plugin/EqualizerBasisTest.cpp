// Measures the equalizer basis filters against their contract: half amplitude at the band edges,
// transition widths, pass-band ripple, stop-band depth, symmetry, and the sum of a set being a
// pure delay. Responses are computed in double from the float taps.

#include "plugin/EqualizerBasis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

using eqbasis::kEqBandEdgeCount;
using eqbasis::kEqBandEdges;
using eqbasis::kEqBands;
using eqbasis::kEqBasisCentre;
using eqbasis::kEqBasisRate;
using eqbasis::kEqBasisSets;
using eqbasis::kEqBasisTaps;
using eqbasis::kEqualizerBasis;

// Scan step for pass and stop bands, Hz; the stop-band lobes are about 30 Hz wide.
constexpr double kScanStep = 0.5;
// Step when walking out of an edge to a level, before refining by bisection, Hz.
constexpr double kWalkStep = 0.1;

// |H(f)| of a 512-tap filter at f Hz (Goertzel, in double).
double magnitude(const float* taps, double frequency, double rate) {
    const double c = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (int n = 0; n < kEqBasisTaps; ++n) {
        const double s = static_cast<double>(taps[n]) + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2));
}

double decibels(double gain) {
    return 20.0 * std::log10(std::max(gain, 1e-30));
}

// Where the gain falls through `level` between a (gain above level) and b (below), by bisection.
double crossing(const float* taps, double rate, double level, double a, double b) {
    for (int i = 0; i < 60; ++i) {
        const double middle = 0.5 * (a + b);
        (magnitude(taps, middle, rate) >= level ? a : b) = middle;
    }
    return 0.5 * (a + b);
}

// Walks from `from` in steps of `step` (signed) until the gain passes `level` in the direction
// given by `rising`, then refines; returns NaN when the level is not reached within `limit` Hz.
double walkTo(const float* taps, double rate, double level, double from, double step, bool rising,
              double limit) {
    double previous = from;
    for (double offset = std::fabs(step); offset <= limit; offset += std::fabs(step)) {
        const double f = from + (step > 0 ? offset : -offset);
        const double gain = magnitude(taps, f, rate);
        if (rising ? gain >= level : gain <= level) {
            return rising ? crossing(taps, rate, level, f, previous)
                          : crossing(taps, rate, level, previous, f);
        }
        previous = f;
    }
    return std::nan("");
}

const float* basis(int set, int band) {
    return kEqualizerBasis[set][band];
}

// Pass band of a band filter in Hz; band 0 starts at 0 Hz, the last band ends at half the rate.
double lowEdge(int band) {
    return band > 0 ? kEqBandEdges[band - 1] : 0.0;
}
double highEdge(int set, int band) {
    return band < kEqBandEdgeCount ? kEqBandEdges[band] : kEqBasisRate[set] / 2.0;
}
bool hasLowEdge(int band) {
    return band > 0;
}
bool hasHighEdge(int band) {
    return band < kEqBandEdgeCount;
}

std::string where(int set, int band, double frequency) {
    return "set " + std::to_string(set) + " band " + std::to_string(band) + " at " +
           std::to_string(frequency) + " Hz";
}

// Measured figures go into the test report (--gtest_output=xml) as properties.
void recordFigure(int set, const char* name, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    ::testing::Test::RecordProperty("set" + std::to_string(set) + "_" + name, text);
}

// One set's filters summed at gain 1 exactly as the equalizer builds its taps: in float, in
// ascending band order.
std::vector<float> unitGainSum(int set) {
    std::vector<float> sum(kEqBasisTaps, 0.0f);
    for (int k = 0; k < kEqBasisTaps; ++k) {
        for (int band = 0; band < kEqBands; ++band) {
            sum[k] += 1.0f * kEqualizerBasis[set][band][k];
        }
    }
    return sum;
}

TEST(EqualizerBasis, FiltersAreSymmetricAboutTheCentreWithTheLastTapZero) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        for (int band = 0; band < kEqBands; ++band) {
            const float* taps = basis(set, band);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(taps[kEqBasisTaps - 1]), 0u)
                << "set " << set << " band " << band << " last tap";
            for (int k = 0; k < kEqBasisCentre; ++k) {
                ASSERT_EQ(std::bit_cast<std::uint32_t>(taps[k]),
                          std::bit_cast<std::uint32_t>(taps[2 * kEqBasisCentre - k]))
                    << "set " << set << " band " << band << " tap " << k;
            }
        }
    }
}

TEST(EqualizerBasis, CentreTapIsTwiceTheBandwidthOverTheRate) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        const double rate = kEqBasisRate[set];
        for (int band = 0; band < kEqBands; ++band) {
            const double width = highEdge(set, band) - lowEdge(band);
            EXPECT_NEAR(basis(set, band)[kEqBasisCentre], 2.0 * width / rate, 5e-4)
                << "set " << set << " band " << band;
        }
    }
}

TEST(EqualizerBasis, EdgesAreAtHalfAmplitudeWithTransitionsOf40To65Hz) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        const double rate = kEqBasisRate[set];
        double worstEdgeError = 0.0;
        double narrowest = 1e9;
        double widest = 0.0;
        for (int band = 0; band < kEqBands; ++band) {
            const float* taps = basis(set, band);
            for (int side = 0; side < 2; ++side) {
                if (side == 0 ? !hasLowEdge(band) : !hasHighEdge(band)) {
                    continue;
                }
                const double edge = side == 0 ? lowEdge(band) : highEdge(set, band);
                const double inward = side == 0 ? 1.0 : -1.0;
                const std::string at = where(set, band, edge);

                // -6 dB: half amplitude, where a windowed-sinc edge crosses.
                const double inside = edge + 5.0 * inward;
                const double outside = edge - 5.0 * inward;
                ASSERT_GT(magnitude(taps, inside, rate), 0.5) << at;
                ASSERT_LT(magnitude(taps, outside, rate), 0.5) << at;
                const double half = crossing(taps, rate, 0.5, inside, outside);
                EXPECT_NEAR(half, edge, 0.5) << at;
                worstEdgeError = std::max(worstEdgeError, std::fabs(half - edge));

                // From -0.5 dB inside the edge to -25 dB outside it.
                const double pass = walkTo(taps, rate, std::pow(10.0, -0.5 / 20.0), edge,
                                           kWalkStep * inward, true, 100.0);
                const double stop = walkTo(taps, rate, std::pow(10.0, -25.0 / 20.0), edge,
                                           -kWalkStep * inward, false, 100.0);
                ASSERT_FALSE(std::isnan(pass) || std::isnan(stop)) << at;
                const double width = std::fabs(pass - stop);
                EXPECT_GE(width, 40.0) << at;
                EXPECT_LE(width, 65.0) << at;
                narrowest = std::min(narrowest, width);
                widest = std::max(widest, width);
            }
        }
        recordFigure(set, "worst_edge_error_hz", worstEdgeError);
        recordFigure(set, "narrowest_transition_hz", narrowest);
        recordFigure(set, "widest_transition_hz", widest);
    }
}

// The largest value seen and where (a frequency or a tap index).
struct Worst {
    double value = -1e9;
    double at = 0.0;
    void take(double v, double where) {
        if (v > value) {
            value = v;
            at = where;
        }
    }
};

TEST(EqualizerBasis, PassBandsAreFlatAndStopBandsDeep) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        const double rate = kEqBasisRate[set];
        double worstRipple = 0.0;
        double worstStop60 = -1e9;
        double worstStop300 = -1e9;
        for (int band = 0; band < kEqBands; ++band) {
            const float* taps = basis(set, band);
            const double low = lowEdge(band);
            const double high = highEdge(set, band);
            Worst ripple;  // |dB| from 60 Hz inside the edges
            Worst stop60;  // dB from 60 Hz outside the edges
            Worst stop300; // dB from 300 Hz outside the edges
            for (double f = 0.0; f <= rate / 2.0; f += kScanStep) {
                const double level = decibels(magnitude(taps, f, rate));
                const bool above = hasLowEdge(band) && f <= low;
                const bool below = hasHighEdge(band) && f >= high;
                if (!above && !below) {
                    const double distance = std::min(hasLowEdge(band) ? f - low : 1e9,
                                                     hasHighEdge(band) ? high - f : 1e9);
                    if (distance >= 60.0) {
                        ripple.take(std::fabs(level), f);
                    }
                } else {
                    const double distance = above ? low - f : f - high;
                    if (distance >= 60.0) {
                        stop60.take(level, f);
                    }
                    if (distance >= 300.0) {
                        stop300.take(level, f);
                    }
                }
            }
            EXPECT_LE(ripple.value, 0.1) << where(set, band, ripple.at);
            EXPECT_LE(stop60.value, -44.0) << where(set, band, stop60.at);
            EXPECT_LE(stop300.value, -50.0) << where(set, band, stop300.at);
            worstRipple = std::max(worstRipple, ripple.value);
            worstStop60 = std::max(worstStop60, stop60.value);
            worstStop300 = std::max(worstStop300, stop300.value);
        }
        recordFigure(set, "worst_ripple_db", worstRipple);
        recordFigure(set, "worst_stop_60hz_db", worstStop60);
        recordFigure(set, "worst_stop_300hz_db", worstStop300);
    }
}

TEST(EqualizerBasis, EachSetSumsToAUnitImpulseAtTheCentre) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        const std::vector<float> sum = unitGainSum(set);
        EXPECT_NEAR(sum[kEqBasisCentre], 1.0f, 0.0011f) << "set " << set;
        Worst other;
        for (int k = 0; k < kEqBasisTaps; ++k) {
            if (k != kEqBasisCentre) {
                other.take(std::fabs(sum[k]), k);
            }
        }
        EXPECT_LE(other.value, 0.00084) << "set " << set << " tap " << other.at;
        recordFigure(set, "centre_sum_error", std::fabs(sum[kEqBasisCentre] - 1.0));
        recordFigure(set, "worst_other_sum", other.value);
    }
}

TEST(EqualizerBasis, AllBandsAtUnitGainAreFlatToHalfTheRate) {
    for (int set = 0; set < kEqBasisSets; ++set) {
        const double rate = kEqBasisRate[set];
        const std::vector<float> sum = unitGainSum(set);
        Worst deviation;
        for (double f = 0.0; f <= rate / 2.0; f += kScanStep) {
            deviation.take(std::fabs(decibels(magnitude(sum.data(), f, rate))), f);
        }
        EXPECT_LE(deviation.value, 0.05) << "set " << set << " at " << deviation.at << " Hz";
        recordFigure(set, "unit_gain_flatness_db", deviation.value);
    }
}

} // namespace
