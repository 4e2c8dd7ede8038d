// SPDX-License-Identifier: MIT
// Comparisons, counters and bits: tolerances, wrapping counters, optional
// bounds, bit lengths, common prefixes and bit arrays.
#include "pacelag/util.h"

#include "check.h"

#include <cmath>
#include <cstring>

namespace {} // namespace

// ---- comparisons and counters ----

bool dblnear(double a, double b, double tolerance) {
    return std::fabs(a - b) < tolerance; // any NaN makes the comparison false
}

bool longnear(int64_t a, int64_t b, int64_t tolerance) {
    // The difference of two extreme values does not fit int64_t; unsigned
    // arithmetic keeps it exact.
    uint64_t diff = a >= b ? uint64_t(a) - uint64_t(b) : uint64_t(b) - uint64_t(a);
    return tolerance > 0 && diff < uint64_t(tolerance);
}

uint32_t elapsed32(uint32_t now, uint32_t then) {
    if (now >= then) return now - then;
    return now + (0xFFFFFFFFu - then);
}

uint32_t elapsed32tol(uint32_t now, uint32_t then, uint32_t tolerance) {
    if (now < then && then - now <= tolerance) return 0;
    return elapsed32(now, then);
}

bool longinrange(int64_t min, int64_t max, int64_t value) {
    if (min > 0 && value < min) return false;
    if (max > 0 && value > max) return false;
    return true;
}

bool intinrange(int32_t min, int32_t max, int32_t value) {
    return longinrange(min, max, value);
}

// ---- bits ----

bool ispow2(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

int bitlen32(uint32_t value) {
    return value == 0 ? 0 : 32 - __builtin_clz(value);
}

int bitlen64(uint64_t value) {
    return value == 0 ? 0 : 64 - __builtin_clzll(value);
}

int commonbits(const uint8_t* a, const uint8_t* b, int count) {
    UTIL_CHECK(count <= 0 || (a != nullptr && b != nullptr));
    for (int i = 0; i < count; ++i) {
        unsigned diff = a[i] ^ b[i];
        if (diff != 0) return i * 8 + (__builtin_clz(diff) - 24);
    }
    return count > 0 ? count * 8 : 0;
}

void bitset(uint8_t* bits, int n) {
    UTIL_CHECK(bits != nullptr);
    if (n >= 0) bits[n / 8] |= uint8_t(1u << (n % 8));
}

void bitclear(uint8_t* bits, int n) {
    UTIL_CHECK(bits != nullptr);
    if (n >= 0) bits[n / 8] &= uint8_t(~(1u << (n % 8)));
}

int bittest(const uint8_t* bits, int n) {
    UTIL_CHECK(bits != nullptr);
    return n >= 0 ? bits[n / 8] & (1u << (n % 8)) : 0;
}

int bitfind(const uint8_t* bits, int from, int to) {
    UTIL_CHECK(bits != nullptr);
    if (from < 0) from = 0; // negative bits are never set
    // 64-bit index so that a range ending at INT32_MAX cannot overflow.
    for (int64_t i = from; i <= to;) {
        uint8_t byte = bits[i / 8];
        if (i % 8 == 0 && byte == 0) {
            i += 8;
            continue;
        }
        if (byte & (1u << (i % 8))) return int(i);
        ++i;
    }
    return -1;
}

// ---- encodings ----
