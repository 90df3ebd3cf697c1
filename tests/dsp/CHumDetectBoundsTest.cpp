// The hum detector's search bounds around its nominal frequency.
#include "dsp/CHumDetect.h"

#include <gtest/gtest.h>

namespace {

void setFrequency(CHumDetect& detector, float hz) {
    detector.frequency = hz;
    detector.setLowerSpan(detector.lowerSpan);
    detector.setUpperSpan(detector.upperSpan);
}

TEST(CHumDetectBounds, FollowTheNominalFrequencyWithinTheOverallRange) {
    CHumDetect detector;
    EXPECT_EQ(detector.frequency, 60.0f);
    EXPECT_FLOAT_EQ(detector.minFrequency, 54.0f);
    EXPECT_FLOAT_EQ(detector.maxFrequency, 66.0f);

    setFrequency(detector, 50.0f);
    EXPECT_FLOAT_EQ(detector.minFrequency, 45.0f);
    EXPECT_FLOAT_EQ(detector.maxFrequency, 55.0f);

    setFrequency(detector, 68.18f);
    EXPECT_FLOAT_EQ(detector.minFrequency, 61.362f);
    EXPECT_EQ(detector.maxFrequency, 68.18f);

    setFrequency(detector, 44.45f);
    EXPECT_EQ(detector.minFrequency, 44.45f);
    EXPECT_FLOAT_EQ(detector.maxFrequency, 48.895f);
}

TEST(CHumDetectBounds, NegativeSpansOpenTheWholeRange) {
    CHumDetect detector;
    detector.setLowerSpan(-1.0f);
    detector.setUpperSpan(-0.5f);
    EXPECT_EQ(detector.minFrequency, 44.45f);
    EXPECT_EQ(detector.maxFrequency, 68.18f);
    EXPECT_EQ(detector.lowerSpan, -1.0f);
    // A frequency above the range searches from the range's top.
    detector.setLowerSpan(0.1f);
    detector.frequency = 80.0f;
    detector.setLowerSpan(0.1f);
    detector.setUpperSpan(0.1f);
    EXPECT_FLOAT_EQ(detector.minFrequency, 61.362f);
    EXPECT_EQ(detector.maxFrequency, 68.18f);
}

} // namespace
