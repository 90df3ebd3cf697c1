#include "common/PortableMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Distance in units of the last place of `reference`.
double ulps(double value, double reference) {
    if (value == reference) {
        return 0.0;
    }
    const double step =
        std::nextafter(std::fabs(reference), std::numeric_limits<double>::infinity()) -
        std::fabs(reference);
    return std::fabs(value - reference) / step;
}

TEST(PortableMath, AgreesWithTheCLibraryToAUnitInTheLastPlace) {
    double worst[5] = {};
    for (int i = -200000; i <= 200000; ++i) {
        const double x = i * 1.2345e-4; // -24.7 ... 24.7
        const double positive = std::fabs(x) * 3.0 + 1e-300;
        const double seen[5][2] = {
            {portable::sin(x), std::sin(x)},
            {portable::cos(x), std::cos(x)},
            {portable::exp(x * 28.0), std::exp(x * 28.0)},
            {portable::exp10(x * 12.0), std::pow(10.0, x * 12.0)},
            {portable::log10(positive), std::log10(positive)},
        };
        for (int f = 0; f < 5; ++f) {
            worst[f] = std::max(worst[f], ulps(seen[f][0], seen[f][1]));
        }
    }
    EXPECT_LE(worst[0], 1.0) << "sin";
    EXPECT_LE(worst[1], 1.0) << "cos";
    EXPECT_LE(worst[2], 1.0) << "exp";
    EXPECT_LE(worst[3], 2.0) << "exp10";
    EXPECT_LE(worst[4], 2.0) << "log10";
}

TEST(PortableMath, RoundsToTheNearestSingleWhereACosfDoesNot) {
    // Arguments of the random-noise stage's window whose cosine lies close to a midpoint
    // between two floats: a single-precision cosf may round them either way.
    struct Case {
        float x;
        float cosine;
    };
    const Case cases[] = {{0x1.ec49fep-1f, 0x1.25030ep-1f},
                          {0x1.00acbep+0f, 0x1.137f8cp-1f},
                          {0x1.15bc38p+0f, 0x1.de34ccp-2f},
                          {0x1.427d22p+0f, 0x1.396d7ap-2f}};
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<float>(portable::cos(static_cast<double>(c.x))), c.cosine) << c.x;
        EXPECT_EQ(static_cast<float>(cosl(static_cast<long double>(c.x))), c.cosine) << c.x;
    }
}

TEST(PortableMath, SpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(portable::log10(0.0), -inf);
    EXPECT_TRUE(std::isnan(portable::log10(-1.0)));
    EXPECT_EQ(portable::log10(inf), inf);
    EXPECT_EQ(portable::log10(1.0), 0.0);
    EXPECT_NEAR(portable::log10(4.9e-324), -323.3062153431158, 1e-12);
    EXPECT_EQ(portable::exp(0.0), 1.0);
    EXPECT_EQ(portable::exp(710.0), inf);
    EXPECT_EQ(portable::exp(-746.0), 0.0);
    EXPECT_EQ(portable::exp10(400.5), inf);
    EXPECT_EQ(portable::exp10(-400.5), 0.0);
    for (double (*f)(double) :
         {portable::sin, portable::cos, portable::exp, portable::exp10, portable::log10}) {
        EXPECT_TRUE(std::isnan(f(nan)));
    }
    EXPECT_TRUE(std::isnan(portable::sin(inf)));
    EXPECT_TRUE(std::isnan(portable::cos(1e7)));
}

} // namespace
