// SPDX-License-Identifier: MIT
// IPv6 and IPv4 address text: parsing the colon-hexadecimal forms (one "::", a
// dotted IPv4 last part) into 16 network-order bytes, writing the compressed,
// upper-case form back, and the dotted quad of a host-order IPv4 value.
#include "pacelag/util.h"

#include "check.h"
#include "positional.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace {
// Byte classes for the one scan over the text: 0..15 hexadecimal digit value,
// DOT, COLON, or BAD for anything that cannot appear in an address text.
enum : unsigned char { DOT = 16, COLON = 17, BAD = 0xFF };

struct ClassTable {
    unsigned char cls[256];
    constexpr ClassTable() : cls() {
        for (int i = 0; i < 256; ++i) cls[i] = BAD;
        for (int i = 0; i < 10; ++i) cls['0' + i] = static_cast<unsigned char>(i);
        for (int i = 0; i < 6; ++i) {
            cls['a' + i] = static_cast<unsigned char>(10 + i);
            cls['A' + i] = static_cast<unsigned char>(10 + i);
        }
        cls[static_cast<unsigned char>('.')] = DOT;
        cls[static_cast<unsigned char>(':')] = COLON;
    }
};
constexpr ClassTable classes;

const char hexdigits[] = "0123456789ABCDEF";

// The parse proper; out is only meaningful when it returns true.
bool parse6(const char* text, unsigned char* out) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    if (t[0] == '\0') return false;
    // A single leading colon followed by groups (":1") would otherwise read as
    // the all-zero address; it is a typing error, not an address.
    if (t[0] == ':' && t[1] != ':') return false;

    int start[8], length[8];
    int colons = 0;
    bool dotted = false;
    start[0] = 0;
    int i = 0;
    for (;; ++i) {
        unsigned char c = t[i];
        if (c == '\0') break;
        unsigned char k = classes.cls[c];
        if (k < 16) continue;
        if (k == COLON) {
            length[colons] = i - start[colons];
            if (++colons == 8) return false;
            start[colons] = i + 1;
        } else if (k == DOT) {
            dotted = true;
        } else {
            return false;
        }
    }
    length[colons] = i - start[colons];
    if (colons == 0) return false;

    const int firstempty = length[0] == 0 ? 1 : 0;
    const int lastempty = length[colons] == 0 ? 1 : 0;
    const int extra = firstempty + lastempty - (dotted ? 1 : 0);
    int filled = 0;
    bool gapseen = false;
    for (int g = 0; g <= colons; ++g) {
        const unsigned char* s = t + start[g];
        int n = length[g];
        if (n > 4) {
            // Only the last group may be a dotted IPv4 part.
            if (g != colons || !dotted || n > 15 || filled > 12) return false;
            char quad[16];
            std::memcpy(quad, s, static_cast<size_t>(n));
            quad[n] = '\0';
            in_addr v4;
            if (inet_aton(quad, &v4) == 0) return false;
            std::memcpy(out + filled, &v4.s_addr, 4);
            filled += 4;
        } else if (n > 0) {
            if (filled > 14) return false;
            unsigned value = 0;
            for (int j = 0; j < n; ++j) {
                unsigned char k = classes.cls[s[j]];
                // A '.' inside a short group ('::1.2', '7:8.9') is neither hex
                // nor an IPv4 part.
                if (k >= 16) return false;
                value = (value << 4) | k;
            }
            out[filled++] = static_cast<unsigned char>(value >> 8);
            out[filled++] = static_cast<unsigned char>(value);
        } else if (!gapseen) {
            gapseen = true;
            int zeros = 2 * (8 - colons + extra);
            if (filled + zeros > 16) return false;
            std::memset(out + filled, 0, static_cast<size_t>(zeros));
            filled += zeros;
            // The gap runs to the end of the text: nothing more to read.
            if (colons == g + extra) return filled == 16;
        } else if (g != 1) {
            // Only the second half of a leading "::" may follow the gap.
            return false;
        }
    }
    return filled == 16;
}

int writehex(char* p, unsigned value) {
    if (value >= 0x1000) {
        p[0] = hexdigits[value >> 12];
        p[1] = hexdigits[(value >> 8) & 0xF];
        p[2] = hexdigits[(value >> 4) & 0xF];
        p[3] = hexdigits[value & 0xF];
        return 4;
    }
    if (value >= 0x100) {
        p[0] = hexdigits[value >> 8];
        p[1] = hexdigits[(value >> 4) & 0xF];
        p[2] = hexdigits[value & 0xF];
        return 3;
    }
    if (value >= 0x10) {
        p[0] = hexdigits[value >> 4];
        p[1] = hexdigits[value & 0xF];
        return 2;
    }
    p[0] = hexdigits[value];
    return 1;
}

} // namespace

int str2ipv6addr(const char* text, unsigned char addr[16]) {
    UTIL_CHECK(text != nullptr && addr != nullptr);
    unsigned char out[16];
    if (parse6(text, out)) {
        std::memcpy(addr, out, 16);
        return 0;
    }
    std::memset(addr, 0, 16);
    return -1;
}

int ipv6addr2str(char* buf, const unsigned char addr[16]) {
    UTIL_CHECK(buf != nullptr && addr != nullptr);
    // ip4unmap gives 0 both for ::ffff:0.0.0.0 and for an unmapped address;
    // mapping its value back tells the two apart.
    uint32_t stored = ip4unmap(addr);
    unsigned char remapped[16];
    ip4mapped(stored, remapped);
    if (std::memcmp(remapped, addr, 16) == 0) return ipv4num2str(buf, ntohl(stored));
    unsigned groups[8];
    for (int g = 0; g < 8; ++g) groups[g] = (unsigned{addr[2 * g]} << 8) | addr[2 * g + 1];

    // Leftmost longest run of at least two zero groups.
    int best = -1, bestlen = 1;
    for (int g = 0; g < 8;) {
        if (groups[g] != 0) {
            ++g;
            continue;
        }
        int end = g;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - g > bestlen) {
            best = g;
            bestlen = end - g;
        }
        g = end;
    }

    char* p = buf;
    for (int g = 0; g < 8;) {
        if (g == best) {
            if (g == 0) *p++ = ':';
            *p++ = ':';
            g += bestlen;
            continue;
        }
        p += writehex(p, groups[g]);
        if (++g < 8) *p++ = ':';
    }
    *p = '\0';
    return static_cast<int>(p - buf);
}

int ipv6cidr2str(char* buf, unsigned prefix, const unsigned char addr[16]) {
    UTIL_CHECK(buf != nullptr && addr != nullptr);
    int n = ipv6addr2str(buf, addr);
    buf[n++] = '/';
    return n + int2str(buf + n, static_cast<int32_t>(prefix & 0xFF));
}

int ipv4num2str(char* buf, uint32_t value) {
    UTIL_CHECK(buf != nullptr);
    int n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        n += positional(buf + n, (value >> shift) & 0xFF, false, decimaldigits, 10);
        if (shift > 0) buf[n++] = '.';
    }
    buf[n] = '\0';
    return n;
}
