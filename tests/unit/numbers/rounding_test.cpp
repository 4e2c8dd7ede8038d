// SPDX-License-Identifier: MIT
// Decimal rounding of amounts and the split of an amount with a surcharge.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Rounding, RoundsHalfAwayFromZero) {
    // 1.005 * 100 is 100.49999999999999 and counts as a half; 1e300 * 100 is too
    // large for a 64-bit product and stays; 10^400 overflows to infinity and
    // 10^-400 underflows to zero.
    const double cases[][3] = {
        {2, 1.005, 1.01},     {2, -1.005, -1.01}, {0, 2.5, 3},      {0, 0.4999999995, 1},
        {0, 0.4999999985, 0}, {-1, 15, 20},       {-2, -149, -100}, {3, 1.23449, 1.234},
        {2, 1e15, 1e15},      {2, 1e300, 1e300},  {400, 1.5, 1.5},  {-400, 12345, 0},
    };
    for (auto& c : cases) {
        EXPECT_DOUBLE_EQ(rounddec(static_cast<int>(c[0]), c[1]), c[2]) << c[0] << " " << c[1];
    }
    EXPECT_TRUE(std::isnan(rounddec(2, std::numeric_limits<double>::quiet_NaN())));
}

// 0.05 at 0.5: 0.0333.. and 0.0166.. round to 0.03 and 0.02, which add up.
// 0.07 at 1: 0.04 twice exceeds the amount and stays. 1.03 at 2: 0.34 + 0.69.
// 0.03 at 0.19: the surcharge comes from the unrounded base (0.0047..; the
// rounded base would give 0.0057 and a cent). -0.07 at 1: rounding away from
// zero overshoots a negative amount and a cent is given back. 1.004 at 1: the
// sum 1.00 falls short of an amount finer than a cent and a cent is made up.
TEST(Rounding, SplitsAmountIntoBaseAndSurcharge) {
    const struct {
        double amount, rate, base, surcharge;
    } cases[] = {
        {119.00, 0.19, 100.00, 19.00}, {-119.00, 0.19, -100.00, -19.00}, {0.01, 0.19, 0.01, 0.00},
        {50.00, 0, 50.00, 0},          {50.00, -0.2, 50.00, 0},          {0.05, 0.5, 0.03, 0.02},
        {0.07, 1.0, 0.04, 0.04},       {1.03, 2.0, 0.34, 0.69},          {0.03, 0.19, 0.03, 0.00},
        {-0.07, 1.0, -0.04, -0.03},    {1.004, 1.0, 0.50, 0.51},
    };
    for (auto& c : cases) {
        double base = -1, surcharge = -1;
        ratesplit(&base, &surcharge, c.amount, c.rate);
        EXPECT_NEAR(base, c.base, 1e-9) << c.amount << " at " << c.rate;
        EXPECT_NEAR(surcharge, c.surcharge, 1e-9) << c.amount << " at " << c.rate;
    }
    double base = 0, surcharge = 0;
    ratesplit(&base, &surcharge, 10, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(base));
}

} // namespace
