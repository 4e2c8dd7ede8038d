// Pacing rules of the pacelag tool: interval, back-off and print cadence from
// a rate.
#include "pacing.h"

#include <gtest/gtest.h>

namespace {
TEST(Pacing, IntervalAndCadenceFromRate) {
    struct Case {
        int rate;
        int64_t interval;
        int cadence;
    };
    const Case cases[] = {
        {1, 1000000000, 1},   {3, 333333333, 1},     {7, 142857142, 1}, {23, 43478260, 1},
        {24, 41666666, 1},    {47, 21276595, 1},     {48, 20833333, 2}, {100, 10000000, 4},
        {99999, 10000, 4166}, {100000, 10000, 4166},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        int64_t interval = -1;
        int cadence = -1;
        compute_pacing(c.rate, interval, cadence);
        EXPECT_EQ(interval, c.interval);
        EXPECT_EQ(cadence, c.cadence);
    }
}

TEST(PacingDeathTest, RateBelowOneIsAProgrammingError) {
    int64_t interval = 0;
    int cadence = 0;
    EXPECT_DEATH(compute_pacing(0, interval, cadence), "rate >= 1");
}
} // namespace
