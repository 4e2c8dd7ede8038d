// Numeric, bit and calendar routines: tolerances, counters, ranges, bit
// arrays, checksums, NUL-free encoding, 128-bit ranges, mapped addresses and
// calendar day numbers.
#include "pacelag/util.h"

#include "check.h"

#include <cmath>
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

int nulescape(const void* data, int datalen, char* out, int outsize) {
    if (outsize < 1) return 0;
    UTIL_CHECK(out != nullptr);
    UTIL_CHECK(datalen <= 0 || data != nullptr);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    int pos = 0;
    for (int i = 0; i < datalen && pos + 3 <= outsize; ++i) {
        uint8_t b = in[i];
        if (b >= 0xFE) {
            out[pos++] = 0x01;
            out[pos++] = char(b - 0xFD);
        } else {
            out[pos++] = char(b + 2);
        }
    }
    out[pos] = '\0';
    return pos;
}

int nulunescape(const char* src, void* out, int maxlen) {
    UTIL_CHECK(src != nullptr);
    if (maxlen <= 0) return 0;
    UTIL_CHECK(out != nullptr);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(src);
    uint8_t* o = static_cast<uint8_t*>(out);
    int n = 0, i = 0;
    while (i < maxlen && s[i] != 0) {
        if (s[i] == 0x01) {
            // An escape pair must lie wholly within the limit.
            if (i + 1 >= maxlen) break;
            uint8_t next = s[i + 1];
            if (next == 0x01 || next == 0x02) {
                o[n++] = uint8_t(0xFD + next);
                i += 2;
            } else {
                ++i; // stray escape byte: drop it, decode what follows
            }
            continue;
        }
        o[n++] = uint8_t(s[i] - 2);
        ++i;
    }
    return n;
}

// ---- 128-bit values and mapped addresses ----

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
