// SPDX-License-Identifier: MIT
// Comparisons, counters, bit lengths and bit arrays.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

TEST(Bits, ComparisonsAndCounters) {
    EXPECT_TRUE(dblnear(1.0, 1.05, 0.1));
    EXPECT_FALSE(dblnear(1.0, 1.25, 0.25));
    EXPECT_FALSE(dblnear(NAN, NAN, 1e300));
    struct {
        int64_t a, b, tol;
        bool near;
    } longs[] = {{5, 2, 3, false}, {5, 3, 3, true},  {3, 5, 3, true},
                 {7, 7, 0, false}, {-1, 1, 3, true}, {INT64_MIN, INT64_MAX, INT64_MAX, false}};
    for (auto& c : longs) EXPECT_EQ(longnear(c.a, c.b, c.tol), c.near) << c.a << " " << c.b;
    struct {
        uint32_t now, then, tol, plain, withtol;
    } counters[] = {
        {10, 5, 0, 5, 5},          {2, 0xFFFFFFFE, 100, 3, 3}, {5, 10, 4, 0xFFFFFFFA, 0xFFFFFFFA},
        {5, 10, 5, 0xFFFFFFFA, 0}, {0, 0xFFFFFFFF, 0, 0, 0},   {7, 7, 0, 0, 0}};
    for (auto& c : counters) {
        EXPECT_EQ(elapsed32(c.now, c.then), c.plain) << c.now << " " << c.then;
        EXPECT_EQ(elapsed32tol(c.now, c.then, c.tol), c.withtol) << c.now << " " << c.then;
    }
    struct {
        int32_t min, max, value;
        bool in;
    } ranges[] = {{0, 0, INT32_MIN, true}, {5, 0, 4, false}, {0, 10, 11, false},
                  {5, 10, 10, true},       {5, 10, 5, true}, {-5, -1, 1000, true}};
    for (auto& c : ranges) {
        EXPECT_EQ(intinrange(c.min, c.max, c.value), c.in) << c.min << " " << c.value;
        EXPECT_EQ(longinrange(c.min, c.max, c.value), c.in) << c.min << " " << c.value;
    }
    EXPECT_FALSE(longinrange(0, INT64_C(5000000000), INT64_C(5000000001)));
}

TEST(Bits, LengthsAndCommonPrefix) {
    struct {
        uint64_t v;
        int len32, len64;
        bool pow2;
    } cases[] = {{0, 0, 0, false},           {1, 1, 1, true},
                 {255, 8, 8, false},         {256, 9, 9, true},
                 {0x80000000, 32, 32, true}, {0xFFFFFFFF, 32, 32, false},
                 {UINT64_MAX, 32, 64, false}};
    for (auto& c : cases) {
        EXPECT_EQ(bitlen32(uint32_t(c.v)), c.len32) << c.v;
        EXPECT_EQ(bitlen64(c.v), c.len64) << c.v;
        EXPECT_EQ(ispow2(uint32_t(c.v)), c.pow2) << c.v;
    }
    struct {
        uint8_t a[4], b[4];
        int count, bits;
    } prefixes[] = {{{0xC0, 0xA8, 1, 0}, {0xC0, 0xA8, 1, 0x80}, 4, 24},
                    {{1, 2, 3, 4}, {1, 2, 3, 4}, 4, 32},
                    {{1, 2, 3, 4}, {1, 2, 3, 5}, 3, 24},
                    {{0x80, 0, 0, 0}, {0, 0, 0, 0}, 4, 0},
                    {{0x01, 0, 0, 0}, {0, 0, 0, 0}, 4, 7},
                    {{1, 0, 0, 0}, {2, 0, 0, 0}, 0, 0},
                    {{1, 0, 0, 0}, {2, 0, 0, 0}, -3, 0}};
    for (auto& c : prefixes) EXPECT_EQ(commonbits(c.a, c.b, c.count), c.bits);
}

TEST(Bits, BitArrays) {
    uint8_t bits[4] = {0, 0, 0, 0};
    for (int n : {9, 31, 0, -1}) bitset(bits, n); // negative indexes touch nothing
    EXPECT_EQ(bits[1], 0x02);
    EXPECT_EQ(bittest(bits, 9), 0x02);
    EXPECT_EQ(bittest(bits, 31), 0x80);
    EXPECT_EQ(bittest(bits, 8) | bittest(bits, -1), 0);
    struct {
        int from, to, found;
    } finds[] = {{1, 15, 9},  {10, 15, -1}, {9, 9, 9},  {12, 3, -1},
                 {-20, 8, 0}, {10, 31, 31}, {0, 31, 0}, {1, 8, -1}};
    for (auto& c : finds) EXPECT_EQ(bitfind(bits, c.from, c.to), c.found) << c.from << " " << c.to;
    for (int n : {9, 10, -8}) bitclear(bits, n); // 10 is already clear
    EXPECT_EQ(bitfind(bits, 1, 30), -1);
    const uint8_t expect[4] = {0x01, 0, 0, 0x80};
    EXPECT_EQ(std::memcmp(bits, expect, 4), 0);
}

} // namespace
