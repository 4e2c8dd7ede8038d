// SPDX-License-Identifier: MIT
// Decimal rounding of amounts and the split of an amount that includes a
// proportional surcharge into base and surcharge.
#include "pacelag/util.h"

#include "check.h"

#include <cmath>
#include <cstdint>

double rounddec(int places, double x) {
    double scale = std::pow(10.0, static_cast<double>(places));
    // Places so negative that the power underflows: nothing is left but zero
    // (dividing by the zero power below would give NaN).
    if (scale == 0) return 0.0;
    double a = x * scale;
    bool negative = a < 0;
    if (negative) a = -a;
    // NaN, infinity and magnitudes past 2^63 cannot be truncated to a 64-bit
    // integer; at such sizes the value holds no fraction worth rounding anyway.
    if (!(a < 9223372036854775808.0)) return x;
    int64_t i = static_cast<int64_t>(a);
    // Products like 1.005 * 100 land just below the half; they count as a half.
    if (a - static_cast<double>(i) > 0.499999999) ++i;
    double r = static_cast<double>(i) / std::pow(10.0, static_cast<double>(places));
    return negative ? -r : r;
}

void ratesplit(double* base, double* surcharge, double amount, double rate) {
    UTIL_CHECK(base != nullptr);
    UTIL_CHECK(surcharge != nullptr);
    if (!(rate <= 0)) { // a NaN rate goes this way too
        double q = amount / (rate + 1.0);
        *base = rounddec(2, q);
        *surcharge = rounddec(2, rate * q);
        if (amount - 0.001 > *base + *surcharge) *surcharge += 0.01;
    } else {
        *base = amount;
        *surcharge = 0;
    }
}
