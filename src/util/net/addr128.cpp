// SPDX-License-Identifier: MIT
// 16-byte address values: range tests over network-order addresses and over
// pairs of host-order words, the byte-order swap between the two, and the
// IPv4-mapped IPv6 form.
#include "pacelag/util.h"

#include "check.h"

#include <cstring>

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

int compareu128(const uint64_t* a, const uint64_t* b) {
    if (a[0] != b[0]) return a[0] < b[0] ? -1 : 1;
    if (a[1] != b[1]) return a[1] < b[1] ? -1 : 1;
    return 0;
}

} // namespace

bool u128inrange(const uint64_t* low, const uint64_t* high, const uint64_t* value) {
    UTIL_CHECK(low != nullptr && high != nullptr && value != nullptr);
    return compareu128(low, value) <= 0 && compareu128(value, high) <= 0;
}

bool ip6rangehas(const uint8_t* low, const uint8_t* high, const uint8_t* value) {
    UTIL_CHECK(low != nullptr && high != nullptr && value != nullptr);
    return compare128(low, value) <= 0 && compare128(value, high) <= 0;
}

void swap128(void* value) {
    UTIL_CHECK(value != nullptr);
    uint8_t* p = static_cast<uint8_t*>(value);
    for (int half = 0; half < 16; half += 8)
        for (int i = 0; i < 4; ++i) {
            uint8_t t = p[half + i];
            p[half + i] = p[half + 7 - i];
            p[half + 7 - i] = t;
        }
}

void ip4mapped(uint32_t ipv4, uint8_t* out) {
    UTIL_CHECK(out != nullptr);
    std::memset(out, 0, 10);
    out[10] = 0xFF;
    out[11] = 0xFF;
    std::memcpy(out + 12, &ipv4, 4);
}

uint32_t ip4unmap(const uint8_t* address) {
    UTIL_CHECK(address != nullptr);
    for (int i = 0; i < 10; ++i)
        if (address[i] != 0) return 0;
    if (address[10] != 0xFF || address[11] != 0xFF) return 0;
    uint32_t v;
    std::memcpy(&v, address + 12, 4);
    return v;
}
