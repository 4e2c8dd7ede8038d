// Decimal rounding of amounts and the split of an amount with a surcharge.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Rounding, RoundsHalfAwayFromZero) {
    const struct {
        int places;
        double x;
        double want;
    } cases[] = {
        {2, 1.005, 1.01}, // 100.49999999999999 counts as a half
        {2, 2.675, 2.68},     {0, 2.5, 3},
        {0, -2.5, -3},        {0, 0.4999999995, 1},
        {0, 0.4999999985, 0}, {-1, 15, 20},
        {-2, -149, -100},     {3, 1.23449, 1.234},
        {2, -1.005, -1.01},   {0, 0, 0},
        {2, 1e15, 1e15},      {2, 1e300, 1e300}, // too large for a 64-bit product: unchanged
        {400, 1.5, 1.5},                         // the power overflows to infinity
        {-400, 12345, 0},                        // the power underflows to zero
    };
    for (auto& c : cases) {
        EXPECT_DOUBLE_EQ(rounddec(c.places, c.x), c.want) << c.places << " " << c.x;
    }
    EXPECT_TRUE(std::isnan(rounddec(2, std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(rounddec(1, std::numeric_limits<double>::infinity()),
              std::numeric_limits<double>::infinity());
}

TEST(Rounding, SplitsAmountIntoBaseAndSurcharge) {
    const struct {
        double amount, rate, base, surcharge;
    } cases[] = {
        {119.00, 0.19, 100.00, 19.00},
        {100.00, 0.07, 93.46, 6.54},
        {0.01, 0.19, 0.01, 0.00},
        {50.00, 0, 50.00, 0},
        {50.00, -0.2, 50.00, 0},
        {10.00, 0.19, 8.40, 1.60},
        {1.00, 1.0, 0.50, 0.50},
        {-119.00, 0.19, -100.00, -19.00},
        // 0.05 / 1.5 = 0.0333..: base 0.03 and surcharge 0.02 (0.0166.. rounds
        // to 0.02) already add up; nothing is made up.
        {0.05, 0.5, 0.03, 0.02},
        // 0.07 / 2 = 0.035 -> 0.04 and 0.04: the sum exceeds and stays.
        {0.07, 1.0, 0.04, 0.04},
        // 1.03 / 3 -> 0.34 and 0.69 (2 * 0.3433..): sum 1.03.
        {1.03, 2.0, 0.34, 0.69},
        // The surcharge comes from the unrounded base: 0.0252.. * 0.19 =
        // 0.0047.., where the rounded base 0.03 would give 0.0057 and a cent.
        {0.03, 0.19, 0.03, 0.00},
        // Rounding away from zero overshoots a negative amount: a cent is
        // given back on the surcharge.
        {-0.07, 1.0, -0.04, -0.03},
        // Amounts finer than a cent: the sum 1.00 falls short of 1.004.
        {1.004, 1.0, 0.50, 0.51},
        // 0.10 / 3 -> 0.03 and 0.07 (0.0666..): sum 0.10.
        {0.10, 2.0, 0.03, 0.07},
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
