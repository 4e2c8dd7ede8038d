// SPDX-License-Identifier: MIT
// 128-bit range tests against each other and the IPv4-mapped form.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

TEST(Bits, Ranges128AndMappedAddresses) {
    uint8_t low[16] = {0x20, 0x01, 0x0d, 0xb8}, high[16] = {0x20, 0x01, 0x0d, 0xb8};
    high[14] = high[15] = 0xFF;
    uint8_t in[16] = {0x20, 0x01, 0x0d, 0xb8}, out[16] = {0x20, 0x01, 0x0d, 0xb9};
    in[15] = 1;
    EXPECT_TRUE(ip6rangehas(low, high, in));
    EXPECT_FALSE(ip6rangehas(low, high, out));
    // Random values: the network-order test agrees with the host-word test
    // after swap128 (on this little-endian host).
    std::mt19937 rng(128);
    for (int round = 0; round < 2000; ++round) {
        uint8_t v[3][16];
        for (auto& a : v)
            for (auto& b : a) b = uint8_t(rng() % 3 == 0 ? rng() : rng() % 2);
        bool want = ip6rangehas(v[0], v[1], v[2]);
        uint64_t w[3][2];
        for (int i = 0; i < 3; ++i) {
            swap128(v[i]);
            std::memcpy(w[i], v[i], 16);
        }
        ASSERT_EQ(u128inrange(w[0], w[1], w[2]), want);
    }

    const uint8_t want[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 1};
    uint32_t ipv4;
    std::memcpy(&ipv4, want + 12, 4);
    uint8_t mapped[16];
    ip4mapped(ipv4, mapped);
    EXPECT_EQ(std::memcmp(mapped, want, 16), 0);
    EXPECT_EQ(ip4unmap(mapped), ipv4);
    // Not mapped: a nonzero leading byte, or no 0xFFFF before the IPv4 part.
    for (int i : {0, 10, 11}) {
        std::memcpy(mapped, want, 16);
        mapped[i] ^= 1;
        EXPECT_EQ(ip4unmap(mapped), 0u) << i;
    }
}

} // namespace
