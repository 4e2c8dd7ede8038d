// SPDX-License-Identifier: MIT
// Address patterns: IPv4 and IPv6 range tables, matching against directly
// computed masks and 128-bit comparisons, and generated-input safety.
#include "pacelag/util.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/socket.h>

namespace {
unsigned __int128 num128(const unsigned char* a) {
    unsigned __int128 v = 0;
    for (int i = 0; i < 16; ++i) v = (v << 8) | a[i];
    return v;
}

void put128(unsigned char* a, unsigned __int128 v) {
    for (int i = 15; i >= 0; --i, v >>= 8) a[i] = static_cast<unsigned char>(v);
}

// The text of a parse result: "low-high", or the failure with both ends zero.
std::string rangetext(int rc, const unsigned char* low, const unsigned char* high) {
    char a[40], b[40];
    ipv6addr2str(a, low);
    ipv6addr2str(b, high);
    return (rc == 0 ? "" : std::to_string(rc) + " ") + a + "-" + b;
}
} // namespace

// After the wildcard, what follows is dropped; "10.1" is a short form of
// inet_addr. Blanks go before the length limit applies, so the prefix is not
// cut off; a pattern too long even then is refused rather than read cut short.
TEST(Ipv4Range, Patterns) {
    // Each pattern and "low-high", or the failure with both ends zero.
    const char* cases[][2] = {
        {" 10.0.0.0\t/ 8 ", "0A000000-0AFFFFFF"},
        {"10.0.0.1/8", "-1 0 0"},
        {"10.0.0.0/33", "-1 0 0"},
        {"10.0.0.0/-1", "-1 0 0"},
        {"0.0.0.0/0", "00000000-FFFFFFFF"},
        {"0.0.0.0/", "00000000-FFFFFFFF"},
        {"*", "00000000-FFFFFFFF"},
        {"*.*.*.*", "00000000-FFFFFFFF"},
        {"1.2.3.4/32", "01020304-01020304"},
        {"128.0.0.0/1", "80000000-FFFFFFFF"},
        {"x/8", "-1 0 0"},
        {"10.1.2.*", "0A010200-0A0102FF"},
        {"10.*.*.*", "0A000000-0AFFFFFF"},
        {"10.1.*.9", "0A010000-0A0100FF"},
        {"*.1.2.3", "-1 0 0"},
        {"10.1.2*", "-1 0 0"},
        {"10.0.0.9-10.0.0.1", "0A000001-0A000009"},
        {"10.0.0.1-10.0.0.9", "0A000001-0A000009"},
        {"10.0.0.1-x", "-1 0 0"},
        {"-10.0.0.1", "-1 0 0"},
        {"10.0.0.1", "0A000001-0A000001"},
        {"10.1", "0A000001-0A000001"},
        {"255.255.255.255", "FFFFFFFF-FFFFFFFF"},
        {"0.0.0.0-255.255.255.255", "00000000-FFFFFFFF"},
        {"10.0.0.1\n", "-1 0 0"},
        {"256.0.0.1", "-1 0 0"},
        {"", "-1 0 0"},
        {" \t\n", "-1 0 0"},
        {nullptr, "-1 0 0"},
        {"                                                       10.0.0.0/8", "0A000000-0AFFFFFF"},
        {"1000000000000000000000000000000000000000000000000000000000000000.0.0.0/8", "-1 0 0"}};
    for (const auto& c : cases) {
        uint32_t low = 7, high = 7;
        int rc = str2ipv4range(c[0], &low, &high);
        char got[32];
        if (rc == 0) std::snprintf(got, sizeof got, "%08X-%08X", low, high);
        if (rc != 0) std::snprintf(got, sizeof got, "%d %X %X", rc, low, high);
        EXPECT_STREQ(got, c[1]) << (c[0] ? c[0] : "(null)");
    }
}

TEST(Ipv4Range, MatchAgainstDirectMasks) {
    EXPECT_FALSE(ipv4match("10.0.0.1/8", 0x0A000001)); // host bits: refused
    EXPECT_FALSE(ipv4match(nullptr, 0));
    std::mt19937 rng(5);
    for (int i = 0; i < 5000; ++i) {
        int bits = static_cast<int>(rng() % 33);
        uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
        uint32_t net = rng() & mask;
        if (net == 0xFFFFFFFF) continue;
        // Half the time an address close to the network, so both answers occur.
        uint32_t addr = (rng() % 2) ? (net ^ (uint32_t{1} << (rng() % 32))) : rng();
        char pattern[40];
        int n = ipv4num2str(pattern, net);
        std::snprintf(pattern + n, sizeof pattern - n, "/%d", bits);
        ASSERT_EQ(ipv4match(pattern, addr), (addr & mask) == net) << pattern << " " << addr;
    }
}

TEST(Ipv6Range, Patterns) {
    const char* cases[][2] = {
        {"2001:db8::/32", "2001:DB8::-2001:DB8:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {" 2001:db8::\t/ 33", "2001:DB8::-2001:DB8:7FFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {"2001:db8::1/64", "-1 ::-::"},
        {"::/0", "::-FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {"::", "::-FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {"::/128", "::-::"},
        {"::1", "::1-::1"},
        {"8000::/1", "8000::-FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {"2001:db8::/129", "-1 ::-::"},
        {"2001:db8::/-1", "-1 ::-::"},
        {"2001:db8::/4294967328", "-1 ::-::"},
        {"ff02::1-::1", "::1-FF02::1"},
        {"fe80::1-fe80::8000:0:0:1", "FE80::1-FE80::8000:0:0:1"},
        {"::1-x", "-1 ::-::"},
        {"::1-::2/64", "-1 ::-::"},
        {"bogus", "-1 ::-::"},
        {" \t", "-1 ::-::"},
        {nullptr, "-1 ::-::"},
    };
    for (const auto& c : cases) {
        unsigned char low[16], high[16];
        std::memset(low, 0xAA, 16);
        std::memset(high, 0xAA, 16);
        int rc = str2ipv6range(c[0], low, high);
        EXPECT_EQ(rangetext(rc, low, high), c[1]) << (c[0] ? c[0] : "(null)");
    }
}

// The text is cut at '/' while it is read and restored afterwards.
TEST(Ipv6Range, PrefixTextIsRestored) {
    struct {
        const char* text;
        int rc;
        unsigned prefix;
        const char* addr;
    } cases[] = {
        {"2001:db8::/32", 0, 32, "2001:DB8::"},
        {"2001:db8::1", 0, 128, "2001:DB8::1"},
        {"::/0", 0, 0, "::"},
        {"::/abc", 0, 0, "::"},
        {"::1/129", -1, 128, "::"},
        {"::1/-1", -1, 128, "::"},
        {"x/64", -1, 128, "::"},
    };
    for (const auto& c : cases) {
        char text[32], addrtext[40];
        std::strcpy(text, c.text);
        unsigned char prefix = 7, addr[16];
        EXPECT_EQ(str2ipv6prefix(text, &prefix, addr), c.rc) << c.text;
        ipv6addr2str(addrtext, addr);
        EXPECT_EQ(prefix, c.prefix) << c.text;
        EXPECT_STREQ(addrtext, c.addr) << c.text;
        EXPECT_STREQ(text, c.text);
    }
}

// Random networks and addresses against plain 128-bit arithmetic, as a prefix
// and as an explicit range in either order.
TEST(Ipv6Range, MatchAgainstDirectComparison) {
    std::mt19937_64 rng(11);
    auto random128 = [&]() { return (static_cast<unsigned __int128>(rng()) << 64) | rng(); };
    const unsigned __int128 one = 1;
    for (int i = 0; i < 4000; ++i) {
        int bits = static_cast<int>(rng() % 129);
        unsigned __int128 mask = bits == 0 ? 0 : ~(one - 1) << (128 - bits);
        unsigned __int128 net = random128() & mask, other = random128(), probe = random128();
        unsigned __int128 addr = (rng() % 2) ? (net ^ (one << (rng() % 128))) : random128();
        unsigned char netb[16], addrb[16], otherb[16], probeb[16], low[16], high[16];
        put128(netb, net);
        put128(addrb, addr);
        put128(otherb, other);
        put128(probeb, probe);
        char pattern[48], a[40], b[40];
        ipv6cidr2str(pattern, static_cast<unsigned>(bits), netb);
        ipv6addr2str(a, addrb);
        ipv6addr2str(b, otherb);
        // Mapped addresses are written as IPv4 and are no IPv6 patterns.
        if (!std::strchr(pattern, ':') || !std::strchr(a, ':') || !std::strchr(b, ':')) continue;
        ASSERT_EQ(str2ipv6range(pattern, low, high), 0) << pattern;
        ASSERT_TRUE(num128(low) == net && num128(high) == (net | ~mask)) << pattern;
        ASSERT_EQ(ipv6match(pattern, addrb), (addr & mask) == net) << pattern;

        std::string range = std::string(a) + "-" + b;
        ASSERT_EQ(str2ipv6range(range.c_str(), low, high), 0) << range;
        ASSERT_EQ(num128(low), std::min(addr, other)) << range;
        ASSERT_EQ(num128(high), std::max(addr, other)) << range;
        ASSERT_EQ(ipv6match(range.c_str(), probeb),
                  std::min(addr, other) <= probe && probe <= std::max(addr, other));
    }
}

// The family found and both ends; a failure leaves both records all zero.
TEST(IpRange, EitherFamily) {
    const unsigned char zeros[12] = {};
    struct {
        const char* pattern;
        int rc, family;
        const char* range;
    } cases[] = {
        {"10.0.0.0/8", 0, AF_INET, "0A000000-0AFFFFFF"},
        {"2001:db8::/32", 0, AF_INET6, "2001:DB8::-2001:DB8:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"},
        {"bogus", -1, -1, "::-::"},
        {"bo:gus", -1, -1, "::-::"},
        {"", -1, -1, "::-::"},
    };
    for (const auto& c : cases) {
        ipvn low, high;
        std::memset(&low, 0xAA, sizeof low);
        std::memset(&high, 0xAA, sizeof high);
        int family = 0;
        EXPECT_EQ(str2iprange(c.pattern, &low, &high, &family), c.rc) << c.pattern;
        EXPECT_EQ(family, c.family) << c.pattern;
        char v4[20];
        std::snprintf(v4, sizeof v4, "%08X-%08X", low.v4, high.v4);
        EXPECT_EQ(c.family == AF_INET ? v4 : rangetext(0, low.v6, high.v6), c.range) << c.pattern;
        EXPECT_TRUE(c.family != AF_INET || (std::memcmp(low.v6 + 4, zeros, 12) == 0 &&
                                            std::memcmp(high.v6 + 4, zeros, 12) == 0));
    }
}

// Random texts (meant for the sanitizer build): no out-of-bounds access, a
// failure always leaves zeroed ends, a success always an ordered range.
TEST(IpRangeSafety, GeneratedPatterns) {
    std::mt19937 rng(3);
    const char alphabet[] = "0123456789abcdef.:/-* \t*..::";
    for (int i = 0; i < 30000; ++i) {
        std::string s;
        for (int n = static_cast<int>(rng() % 140); n > 0; --n)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        uint32_t low4, high4;
        int rc = str2ipv4range(s.c_str(), &low4, &high4);
        ASSERT_TRUE(rc == 0 ? low4 <= high4 : (rc == -1 && low4 == 0 && high4 == 0)) << s;
        unsigned char low6[16], high6[16];
        rc = str2ipv6range(s.c_str(), low6, high6);
        ASSERT_TRUE(rc == 0 ? num128(low6) <= num128(high6)
                            : (rc == -1 && num128(low6) == 0 && num128(high6) == 0))
            << s;
    }
}
