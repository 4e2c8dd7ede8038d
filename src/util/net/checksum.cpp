// SPDX-License-Identifier: MIT
// The Internet checksum (RFC 1071) of a run of bytes.
#include "pacelag/util.h"

#include "check.h"

#include <cstring>

uint16_t inetchecksum(const void* data, int len) {
    UTIL_CHECK(len <= 0 || data != nullptr);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    // 64 bits hold the sum of any int-sized run without losing a carry.
    uint64_t sum = 0;
    int i = 0;
    for (; i + 1 < len; i += 2) {
        uint16_t word;
        std::memcpy(&word, p + i, 2);
        sum += word;
    }
    if (i < len) sum += p[i];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}
