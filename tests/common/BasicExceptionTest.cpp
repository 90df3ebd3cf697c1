#include "common/BasicException.h"

#include <gtest/gtest.h>

#include <stdexcept>

using Exceptions::BasicException;

TEST(BasicException, ReportListsOnlyTheFieldsThatAreSet) {
    const BasicException bare;
    EXPECT_STREQ(bare.description(), "Basic Exception Text, This function should be overridden.");
    EXPECT_EQ(bare.report(), "Basic Exception Text, This function should be overridden.");

    const BasicException full(42, "buffer too short", "dsp/Filter.cpp", 117);
    EXPECT_EQ(full.report(), "Error Number: 42\n"
                             "Basic Exception Text, This function should be overridden.\n"
                             "buffer too short\n"
                             "Source File: dsp/Filter.cpp\n"
                             "Line Number: 117");

    EXPECT_EQ(BasicException(0, "", "a.cpp", 0).report(),
              "Basic Exception Text, This function should be overridden.\nSource File: a.cpp");
    EXPECT_EQ(BasicException(-3, "", "", 9).report(),
              "Error Number: -3\nBasic Exception Text, This function should be overridden.\n"
              "Line Number: 9");

    // Caught as a standard exception, it still tells what it is.
    try {
        throw BasicException(1);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Basic Exception Text, This function should be overridden.");
    }
}
