// SPDX-License-Identifier: MIT
// What pacelag prints, as others read it: age lines written by the server's
// own format and read back, the error and bind-failure reports, the cadence.
#include "output.h"

#include <climits>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {
TEST(Output, AgeLinesReadBackWhatTheServerPrints) {
    // Every age the server can print reads back as itself: the small ones a
    // run shows, both signs, and the saturated extremes.
    std::vector<long long> printed;
    for (long long a = 0; a <= 19; ++a) printed.push_back(a);
    for (long long a : {-1LL, -19LL, 99LL, 1234567890123456789LL, LLONG_MAX, LLONG_MIN})
        printed.push_back(a);
    for (long long a : printed) {
        char line[32];
        snprintf(line, sizeof line, PACELAG_AGE_FORMAT, a);
        line[strlen(line) - 1] = '\0'; // the reader gets lines without their end
        long long back = 12345;
        EXPECT_TRUE(read_age_line(line, back)) << line;
        EXPECT_EQ(back, a) << line;
    }
    // Nothing else is an age.
    for (const char* other :
         {"", "-", "+3", " 3", "3 ", "03", "-0", "1e3", "3.0", "9223372036854775808",
          "-9223372036854775809", "99999999999999999999", PACELAG_READY_LINE, "#", "."}) {
        long long back = 12345;
        EXPECT_FALSE(read_age_line(other, back)) << other;
        EXPECT_EQ(back, 12345) << other;
    }
}

TEST(Output, ReportsAndCadence) {
    char bind[96];
    snprintf(bind, sizeof bind, PACELAG_BIND_FAILED ": Address already in use", 5000);
    EXPECT_STREQ(bind, "[ERROR] Bind failed to port 5000: Address already in use");
    EXPECT_TRUE(is_error_line(bind));
    EXPECT_TRUE(is_bind_failure(bind));
    EXPECT_TRUE(is_error_line("[ERROR] Could not listen on port 5000: x"));
    EXPECT_FALSE(is_bind_failure("[ERROR] Could not listen on port 5000: x"));
    EXPECT_FALSE(is_error_line("[WARNING] Receive failure: x"));
    EXPECT_FALSE(is_error_line(PACELAG_READY_LINE));

    const struct {
        int rate, cadence;
    } cadences[] = {{1, 1}, {23, 1}, {24, 1}, {47, 1}, {48, 2}, {71, 2}, {72, 3}, {100000, 4166}};
    for (const auto& c : cadences) EXPECT_EQ(print_cadence(c.rate), c.cadence) << c.rate;
}
} // namespace
