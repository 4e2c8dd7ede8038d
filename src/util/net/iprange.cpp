// SPDX-License-Identifier: MIT
// Address patterns: a single address, address/prefix, first-last, IPv4
// wildcards and "everything", turned into inclusive ranges and matched.
#include "pacelag/util.h"

#include "check.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
// Copies pattern without blanks and tabs. False when more than size - 1
// bytes remain: no valid pattern is that long, and reading a cut-off prefix of
// it ('10.0.0.0/8' read as '10.0') would give a range nobody asked for.
bool cleancopy(const char* pattern, char* buf, int size) {
    int n = 0;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p == ' ' || *p == '\t') continue;
        if (n == size - 1) return false;
        buf[n++] = *p;
    }
    buf[n] = '\0';
    return true;
}

// Dotted IPv4 text in the lenient forms of inet_addr ('10.1' is 10.0.0.1),
// as a host-order value. Unlike inet_addr it can tell 255.255.255.255 from
// a failure. Whitespace is refused: inet_aton would ignore what follows it.
bool ipv4value(const char* text, uint32_t& value) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (std::isspace(static_cast<unsigned char>(*p))) return false;
    }
    in_addr a;
    if (inet_aton(text, &a) == 0) return false;
    value = ntohl(a.s_addr);
    return true;
}

bool range4(const char* pattern, uint32_t& low, uint32_t& high) {
    if (pattern == nullptr) return false;
    char buf[64];
    if (!cleancopy(pattern, buf, sizeof buf) || strblank(buf)) return false;
    if (std::strcmp(buf, "*") == 0 || std::strcmp(buf, "*.*.*.*") == 0 ||
        std::strcmp(buf, "0.0.0.0/0") == 0) {
        low = 0;
        high = 0xFFFFFFFF;
        return true;
    }
    if (char* slash = std::strchr(buf, '/')) {
        *slash = '\0';
        uint32_t addr;
        if (!ipv4value(buf, addr)) return false;
        long n = std::strtol(slash + 1, nullptr, 10);
        if (n < 0 || n > 32) return false;
        uint32_t hostmask = static_cast<uint32_t>((uint64_t{1} << (32 - n)) - 1);
        low = addr & ~hostmask;
        high = low | hostmask;
        if (addr != low) return false;
    } else if (char* dash = std::strchr(buf, '-')) {
        *dash = '\0';
        if (!ipv4value(buf, low) || !ipv4value(dash + 1, high)) return false;
    } else if (std::strchr(buf, '*') != nullptr) {
        static const struct {
            const char* wild;
            const char* zero;
            uint32_t hostmask;
        } forms[] = {{".*.*.*", ".0.0.0", 0xFFFFFF}, {".*.*", ".0.0", 0xFFFF}, {".*", ".0", 0xFF}};
        bool found = false;
        for (const auto& f : forms) {
            char* at = std::strstr(buf, f.wild);
            if (at == nullptr) continue;
            // Whatever follows the first wildcard group is dropped.
            std::strcpy(at, f.zero);
            if (!ipv4value(buf, low)) return false;
            high = low | f.hostmask;
            found = true;
            break;
        }
        if (!found) return false;
    } else {
        if (!ipv4value(buf, low)) return false;
        high = low;
    }
    if (high < low) {
        uint32_t t = low;
        low = high;
        high = t;
    }
    return true;
}

bool range6(const char* pattern, unsigned char* low, unsigned char* high) {
    if (pattern == nullptr) return false;
    char buf[128];
    if (!cleancopy(pattern, buf, sizeof buf) || strblank(buf)) return false;
    if (std::strcmp(buf, "::") == 0) {
        std::memset(low, 0, 16);
        std::memset(high, 0xFF, 16);
        return true;
    }
    unsigned char prefix;
    unsigned char addr[16];
    if (str2ipv6prefix(buf, &prefix, addr) == 0) {
        for (int i = 0; i < 16; ++i) {
            int bits = prefix - 8 * i;
            if (bits < 0) bits = 0;
            if (bits > 8) bits = 8;
            unsigned char netmask = static_cast<unsigned char>(0xFF00 >> bits);
            low[i] = addr[i] & netmask;
            high[i] = static_cast<unsigned char>(low[i] | ~netmask);
            if (low[i] != addr[i]) return false;
        }
        return true;
    }
    char* dash = std::strchr(buf, '-');
    if (dash == nullptr) return false;
    *dash = '\0';
    if (str2ipv6addr(buf, low) != 0 || str2ipv6addr(dash + 1, high) != 0) return false;
    if (std::memcmp(high, low, 16) < 0) {
        unsigned char t[16];
        std::memcpy(t, low, 16);
        std::memcpy(low, high, 16);
        std::memcpy(high, t, 16);
    }
    return true;
}
} // namespace

int str2ipv4range(const char* pattern, uint32_t* low, uint32_t* high) {
    UTIL_CHECK(low != nullptr && high != nullptr);
    uint32_t lo, hi;
    if (!range4(pattern, lo, hi)) {
        *low = 0;
        *high = 0;
        return -1;
    }
    *low = lo;
    *high = hi;
    return 0;
}

bool ipv4match(const char* pattern, uint32_t addr) {
    uint32_t lo, hi;
    return range4(pattern, lo, hi) && lo <= addr && addr <= hi;
}

int str2ipv6prefix(char* text, unsigned char* prefixlen, unsigned char addr[16]) {
    UTIL_CHECK(text != nullptr && prefixlen != nullptr && addr != nullptr);
    const char* slash = std::strchr(text, '/');
    unsigned long length = 128;
    int rc = -1;
    if (slash == nullptr) {
        rc = str2ipv6addr(text, addr);
    } else {
        // Any address text is far shorter than this; the caller's text is
        // read, never cut.
        char head[64];
        size_t n = static_cast<size_t>(slash - text);
        length = static_cast<unsigned long>(std::strtol(slash + 1, nullptr, 10));
        if (length <= 128 && n < sizeof head) {
            std::memcpy(head, text, n);
            head[n] = '\0';
            rc = str2ipv6addr(head, addr);
        }
    }
    if (rc != 0) {
        *prefixlen = 128;
        std::memset(addr, 0, 16);
        return -1;
    }
    *prefixlen = static_cast<unsigned char>(length);
    return 0;
}

int str2ipv6range(const char* pattern, unsigned char low[16], unsigned char high[16]) {
    UTIL_CHECK(low != nullptr && high != nullptr);
    unsigned char lo[16], hi[16];
    if (!range6(pattern, lo, hi)) {
        std::memset(low, 0, 16);
        std::memset(high, 0, 16);
        return -1;
    }
    std::memcpy(low, lo, 16);
    std::memcpy(high, hi, 16);
    return 0;
}

bool ipv6match(const char* pattern, const unsigned char addr[16]) {
    UTIL_CHECK(addr != nullptr);
    unsigned char lo[16], hi[16];
    return range6(pattern, lo, hi) && ip6rangehas(lo, hi, addr);
}

int str2iprange(const char* pattern, ipvn* low, ipvn* high, int* family) {
    UTIL_CHECK(pattern != nullptr && low != nullptr && high != nullptr && family != nullptr);
    int rc;
    if (std::strchr(pattern, ':') != nullptr) {
        rc = str2ipv6range(pattern, low->v6, high->v6);
        *family = AF_INET6;
    } else {
        std::memset(low, 0, sizeof *low);
        std::memset(high, 0, sizeof *high);
        rc = str2ipv4range(pattern, &low->v4, &high->v4);
        *family = AF_INET;
    }
    if (rc != 0) {
        std::memset(low, 0, sizeof *low);
        std::memset(high, 0, sizeof *high);
        *family = -1;
    }
    return rc;
}
