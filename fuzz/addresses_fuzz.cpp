// SPDX-License-Identifier: MIT
// Fuzz target: IPv6 and IPv4 address texts, prefixes, ranges and matches.
// Properties: failures zero their outputs, written addresses parse back to the
// same bytes, parsing agrees with inet_pton where both rules allow, a range
// holds its ends and nothing just outside them, the combined entry point agrees
// with the per-family ones, and inputs are left as they were.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

namespace {

bool allzero(const unsigned char* b, int n) {
    for (int i = 0; i < n; ++i)
        if (b[i] != 0) return false;
    return true;
}

bool ismapped(const unsigned char* a) {
    static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(a, prefix, 12) == 0;
}

// Adds delta (+1 or -1) to a 128-bit big-endian value; false when it wraps.
bool step128(unsigned char* a, int delta) {
    for (int i = 15; i >= 0; --i) {
        unsigned v = a[i] + delta;
        a[i] = static_cast<unsigned char>(v);
        if (v <= 0xFF) return true;
    }
    return false;
}

void checkaddress(const std::string& text) {
    HeapText t(text);
    unsigned char addr[16];
    int r = str2ipv6addr(t.p, addr);
    FUZZ_CHECK(r == 0 || r == -1);
    FUZZ_CHECK(t.same(text));
    if (r != 0) {
        FUZZ_CHECK(allzero(addr, 16));
    } else {
        HeapBuf out(40);
        int n = ipv6addr2str(out.p, addr);
        FUZZ_CHECK(n >= 2 && n <= 39 && static_cast<int>(std::strlen(out.p)) == n);
        if (ismapped(addr)) {
            unsigned char v4[4];
            FUZZ_CHECK(inet_pton(AF_INET, out.p, v4) == 1 && std::memcmp(v4, addr + 12, 4) == 0);
        } else {
            unsigned char again[16];
            FUZZ_CHECK(str2ipv6addr(out.p, again) == 0 && std::memcmp(again, addr, 16) == 0);
        }
        // The C library writes the same text in lower case, except for the
        // dotted forms it uses when the first 96 bits are zero.
        static const unsigned char zero96[12] = {};
        char theirs[INET6_ADDRSTRLEN];
        if (!ismapped(addr) && std::memcmp(addr, zero96, 12) != 0) {
            FUZZ_CHECK(inet_ntop(AF_INET6, addr, theirs, sizeof theirs) != nullptr);
            FUZZ_CHECK(strcasecmp(theirs, out.p) == 0);
        }
        HeapBuf cidr(44);
        unsigned prefix = text.empty() ? 0 : static_cast<unsigned char>(text[0]) * 3u;
        int m = ipv6cidr2str(cidr.p, prefix, addr);
        FUZZ_CHECK(m <= 43 && static_cast<int>(std::strlen(cidr.p)) == m);
        FUZZ_CHECK(std::strncmp(cidr.p, out.p, n) == 0 && cidr.p[n] == '/');
        FUZZ_CHECK(std::strtoul(cidr.p + n + 1, nullptr, 10) == (prefix & 0xFF));
    }
    // The platform parser is stricter (no ':1', no short dotted parts, no
    // 8.9 tails) but takes 255.255.255.255, which inet_addr cannot, and a "::"
    // that makes an eighth colon, which the library refuses; where it accepts
    // anything else, the library must read the same bytes.
    unsigned char theirs[16];
    if (inet_pton(AF_INET6, t.p, theirs) == 1 &&
        text.find("255.255.255.255") == std::string::npos &&
        std::count(text.begin(), text.end(), ':') < 8) {
        FUZZ_CHECK(r == 0 && std::memcmp(addr, theirs, 16) == 0);
    }
}

// The pattern as the parsers see it: without spaces and tabs, and refused
// (empty) when longer than maxlen, as no valid pattern is.
std::string cleaned(const std::string& text, size_t maxlen) {
    std::string s = ctext(text);
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; }),
            s.end());
    return s.size() <= maxlen ? s : "";
}

// The lenient dotted forms ("10.1" is 10.0.0.1), 255.255.255.255 included,
// and nothing after a blank.
bool v4value(const std::string& text, uint32_t& value) {
    in_addr a;
    for (char c : text)
        if (std::isspace(static_cast<unsigned char>(c))) return false;
    if (inet_aton(text.c_str(), &a) == 0) return false;
    value = ntohl(a.s_addr);
    return true;
}

// IPv4 pattern rules, in order: the whole space, a network with its prefix
// (no host bits), a range of two addresses, one wildcard group, one address.
bool v4rules(const std::string& text, uint32_t& low, uint32_t& high) {
    std::string s = cleaned(text, 63);
    low = high = 0;
    if (strblank(s.c_str())) return false;
    if (s == "*" || s == "*.*.*.*" || s == "0.0.0.0/0") {
        high = 0xFFFFFFFF;
        return true;
    }
    size_t slash = s.find('/'), dash = s.find('-'), star = s.find('*');
    if (slash != std::string::npos) {
        uint32_t a;
        long n = std::strtol(s.c_str() + slash + 1, nullptr, 10);
        if (!v4value(s.substr(0, slash), a) || n < 0 || n > 32) return false;
        uint32_t hostbits = n == 0 ? 0xFFFFFFFF : (1u << (32 - n)) - 1;
        if (n == 32) hostbits = 0;
        if (a & hostbits) return false;
        low = a;
        high = a | hostbits;
    } else if (dash != std::string::npos) {
        if (!v4value(s.substr(0, dash), low) || !v4value(s.substr(dash + 1), high)) {
            low = high = 0;
            return false;
        }
    } else if (star != std::string::npos) {
        const char* groups[] = {".*.*.*", ".*.*", ".*"};
        const char* zeros[] = {".0.0.0", ".0.0", ".0"};
        const uint32_t hostbits[] = {0xFFFFFF, 0xFFFF, 0xFF};
        int g = 0;
        while (g < 3 && s.find(groups[g]) == std::string::npos) ++g;
        if (g == 3) return false;
        std::string base = s.substr(0, s.find(groups[g])) + zeros[g];
        if (!v4value(base, low)) return false;
        high = low | hostbits[g];
    } else {
        if (!v4value(s, low)) return false;
        high = low;
    }
    if (high < low) std::swap(low, high);
    return true;
}

bool wantv4range(const std::string& text, uint32_t& low, uint32_t& high) {
    if (v4rules(text, low, high)) return true;
    low = high = 0;
    return false;
}

// IPv6 pattern rules, in order: "::" for everything, an address with an
// optional prefix (no bits past it), a range of two addresses.
bool wantv6range(const std::string& text, unsigned char* low, unsigned char* high) {
    std::string s = cleaned(text, 127);
    std::memset(low, 0, 16);
    std::memset(high, 0, 16);
    if (strblank(s.c_str())) return false;
    if (s == "::") {
        std::memset(high, 0xFF, 16);
        return true;
    }
    size_t slash = s.find('/');
    unsigned long n = 128;
    if (slash != std::string::npos) n = std::strtol(s.c_str() + slash + 1, nullptr, 10);
    unsigned char a[16];
    if (n <= 128 && str2ipv6addr(s.substr(0, slash).c_str(), a) == 0) {
        for (int bit = 0; bit < 128; ++bit) {
            bool set = a[bit / 8] & (0x80 >> bit % 8);
            if (bit >= static_cast<int>(n) && set) {
                std::memset(high, 0, 16);
                return false;
            }
            if (bit < static_cast<int>(n) ? set : true) high[bit / 8] |= 0x80 >> bit % 8;
        }
        std::memcpy(low, a, 16);
        return true;
    }
    size_t dash = s.find('-');
    if (dash == std::string::npos) return false;
    if (str2ipv6addr(s.substr(0, dash).c_str(), low) != 0 ||
        str2ipv6addr(s.substr(dash + 1).c_str(), high) != 0) {
        std::memset(low, 0, 16);
        std::memset(high, 0, 16);
        return false;
    }
    if (std::memcmp(high, low, 16) < 0) {
        unsigned char t[16];
        std::memcpy(t, low, 16);
        std::memcpy(low, high, 16);
        std::memcpy(high, t, 16);
    }
    return true;
}

void checkv4range(const std::string& text) {
    HeapText t(text);
    uint32_t low = 1, high = 1;
    int r = str2ipv4range(t.p, &low, &high);
    FUZZ_CHECK(t.same(text));
    struct in_addr single;
    if (inet_pton(AF_INET, t.p, &single) == 1 && single.s_addr != INADDR_NONE) {
        FUZZ_CHECK(r == 0 && low == ntohl(single.s_addr) && high == low);
    }
    uint32_t wantlow, wanthigh;
    bool ok = wantv4range(text, wantlow, wanthigh);
    FUZZ_CHECK(ok == (r == 0) && low == wantlow && high == wanthigh);
    if (r != 0) {
        FUZZ_CHECK(r == -1 && low == 0 && high == 0);
        FUZZ_CHECK(!ipv4match(t.p, 0) && !ipv4match(t.p, 0x0A000001));
        return;
    }
    FUZZ_CHECK(low <= high);
    FUZZ_CHECK(ipv4match(t.p, low) && ipv4match(t.p, high));
    if (low > 0) FUZZ_CHECK(!ipv4match(t.p, low - 1));
    if (high < 0xFFFFFFFF) FUZZ_CHECK(!ipv4match(t.p, high + 1));
}

void checkv6range(const std::string& text) {
    HeapText t(text);
    unsigned char low[16], high[16];
    std::memset(low, 1, 16);
    std::memset(high, 1, 16);
    int r = str2ipv6range(t.p, low, high);
    FUZZ_CHECK(t.same(text));
    unsigned char wantlow[16], wanthigh[16];
    bool ok = wantv6range(text, wantlow, wanthigh);
    FUZZ_CHECK(ok == (r == 0) && std::memcmp(low, wantlow, 16) == 0 &&
               std::memcmp(high, wanthigh, 16) == 0);
    if (r != 0) {
        FUZZ_CHECK(r == -1 && allzero(low, 16) && allzero(high, 16));
        FUZZ_CHECK(!ipv6match(t.p, low));
        return;
    }
    FUZZ_CHECK(std::memcmp(low, high, 16) <= 0);
    FUZZ_CHECK(ipv6match(t.p, low) && ipv6match(t.p, high));
    unsigned char outside[16];
    std::memcpy(outside, low, 16);
    if (step128(outside, -1)) FUZZ_CHECK(!ipv6match(t.p, outside));
    std::memcpy(outside, high, 16);
    if (step128(outside, +1)) FUZZ_CHECK(!ipv6match(t.p, outside));
}

void checkprefix(const std::string& text) {
    HeapText t(text);
    unsigned char prefixlen = 7, addr[16];
    std::memset(addr, 1, 16);
    int r = str2ipv6prefix(t.p, &prefixlen, addr);
    FUZZ_CHECK(t.same(text)); // the '/' it cuts at is put back
    if (r != 0) {
        FUZZ_CHECK(r == -1 && prefixlen == 128 && allzero(addr, 16));
    } else {
        FUZZ_CHECK(prefixlen <= 128);
    }
}

void checkcombined(const std::string& text) {
    HeapText t(text);
    ipvn low, high;
    std::memset(&low, 1, sizeof low);
    std::memset(&high, 1, sizeof high);
    int family = 0;
    int r = str2iprange(t.p, &low, &high, &family);
    FUZZ_CHECK(t.same(text));
    if (r != 0) {
        FUZZ_CHECK(r == -1 && family == -1);
        FUZZ_CHECK(allzero(low.v6, 16) && allzero(high.v6, 16));
        return;
    }
    if (std::strchr(t.p, ':') != nullptr) {
        unsigned char l6[16], h6[16];
        FUZZ_CHECK(family == AF_INET6 && str2ipv6range(t.p, l6, h6) == 0);
        FUZZ_CHECK(std::memcmp(l6, low.v6, 16) == 0 && std::memcmp(h6, high.v6, 16) == 0);
    } else {
        uint32_t l4, h4;
        FUZZ_CHECK(family == AF_INET && str2ipv4range(t.p, &l4, &h4) == 0);
        FUZZ_CHECK(low.v4 == l4 && high.v4 == h4);
        FUZZ_CHECK(allzero(low.v6 + 4, 12) && allzero(high.v6 + 4, 12));
    }
}

void checkhosttext(const std::string& text) {
    HeapText t(text);
    hostunmap(t.p);
    std::string before = ctext(text);
    std::string after = t.p;
    FUZZ_CHECK(after.size() <= before.size() && after.find('%') == std::string::npos);
    FUZZ_CHECK(before.find(after) != std::string::npos);
}

// Sixteen raw bytes as an address record of each family.
void checkrecord(const uint8_t* data, size_t size) {
    if (size < 16) return;
    ipvn rec;
    std::memcpy(rec.v6, data, 16);
    HeapBuf v6(40), v4(40);
    int n = ipvn2str(v6.p, &rec, AF_INET6);
    FUZZ_CHECK(n <= 39 && static_cast<int>(std::strlen(v6.p)) == n);
    int m = ipvn2str(v4.p, &rec, AF_INET);
    FUZZ_CHECK(m <= 15 && static_cast<int>(std::strlen(v4.p)) == m);
    struct in_addr in;
    FUZZ_CHECK(inet_pton(AF_INET, v4.p, &in) == 1 && ntohl(in.s_addr) == rec.v4);

    struct sockaddr_in6 sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, data, 16);
    HeapBuf host(INET6_ADDRSTRLEN);
    if (sockaddr2host(reinterpret_cast<sockaddr*>(&sa), host.p, host.size) == 0) {
        FUZZ_CHECK(host.terminated() && std::strchr(host.p, '%') == nullptr);
        unsigned char back[16];
        if (ismapped(data)) {
            FUZZ_CHECK(inet_pton(AF_INET, host.p, back) == 1 &&
                       std::memcmp(back, data + 12, 4) == 0);
        } else {
            FUZZ_CHECK(inet_pton(AF_INET6, host.p, back) == 1 && std::memcmp(back, data, 16) == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkaddress(text);
    checkv4range(text);
    checkv6range(text);
    checkprefix(text);
    checkcombined(text);
    checkhosttext(text);
    checkrecord(data, size);
    return 0;
}
