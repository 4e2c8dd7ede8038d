// Numeric, bit and calendar routines: tolerances, counters, ranges, bit
// arrays, checksums, NUL-free encoding, 128-bit ranges, mapped addresses and
// calendar day numbers.
#include "pacelag/util.h"

#include "check.h"

namespace {
uint64_t bigendian64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

int compare128(const uint8_t* a, const uint8_t* b) {
    uint64_t ah = bigendian64(a), bh = bigendian64(b);
    if (ah != bh) return ah < bh ? -1 : 1;
    uint64_t al = bigendian64(a + 8), bl = bigendian64(b + 8);
    if (al != bl) return al < bl ? -1 : 1;
    return 0;
}
} // namespace

bool ip6rangehas(const uint8_t* low, const uint8_t* high, const uint8_t* value) {
    UTIL_CHECK(low != nullptr && high != nullptr && value != nullptr);
    return compare128(low, value) <= 0 && compare128(value, high) <= 0;
}

int monthdays(const struct tm* date) {
    UTIL_CHECK(date != nullptr);
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = date->tm_mon;
    if (month < 0 || month > 11) return -1;
    if (month != 1) return days[month];
    long year = static_cast<long>(date->tm_year) + 1900;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
}

int daynumber(int year, int month, int day) {
    int y = year, m = month;
    if (m == 1 || m == 2) {
        y -= 1;
        m += 12;
    }
    return day + (153 * m - 457) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 306;
}
