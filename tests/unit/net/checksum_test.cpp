// SPDX-License-Identifier: MIT
// The Internet checksum against a plain one's-complement sum.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// Straightforward one's-complement sum with the carry folded in at each step.
uint16_t plainchecksum(const uint8_t* p, size_t len) {
    uint32_t sum = 0;
    for (size_t i = 0; i < len; i += 2) {
        uint8_t pair[2] = {p[i], i + 1 < len ? p[i + 1] : uint8_t(0)};
        uint16_t w;
        std::memcpy(&w, pair, 2);
        sum += w;
        if (sum > 0xFFFF) sum -= 0xFFFF;
    }
    return uint16_t(~sum);
}

TEST(Bits, InetChecksum) {
    const uint8_t one[2] = {0x00, 0x01};
    EXPECT_EQ(inetchecksum(one, 0), 0xFFFF);
    EXPECT_EQ(inetchecksum(nullptr, 0), 0xFFFF);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    EXPECT_EQ(inetchecksum(one, 2), 0xFEFF);
#endif
    std::mt19937 rng(46);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> data(rng() % 300);
        for (auto& b : data) b = uint8_t(rng());
        EXPECT_EQ(inetchecksum(data.data(), int(data.size())),
                  plainchecksum(data.data(), data.size()))
            << data.size();
    }
    // Far more words than a 32-bit accumulator can take without losing carries.
    std::vector<uint8_t> big(1 << 20, 0xFF);
    big[12345] = 0x12;
    EXPECT_EQ(inetchecksum(big.data(), int(big.size()) - 1),
              plainchecksum(big.data(), big.size() - 1));
}

} // namespace
