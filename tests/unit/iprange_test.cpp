// Address patterns: IPv4 and IPv6 range tables, matching against directly
// computed masks and 128-bit comparisons, and generated-input safety.
#include "pacelag/util.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/socket.h>

namespace {
std::string bytes6(const char* text) {
    unsigned char a[16];
    EXPECT_EQ(inet_pton(AF_INET6, text, a), 1) << text;
    return std::string(reinterpret_cast<char*>(a), 16);
}

std::string str16(const unsigned char* a) {
    return std::string(reinterpret_cast<const char*>(a), 16);
}

unsigned __int128 num128(const unsigned char* a) {
    unsigned __int128 v = 0;
    for (int i = 0; i < 16; ++i) v = (v << 8) | a[i];
    return v;
}

void put128(unsigned char* a, unsigned __int128 v) {
    for (int i = 15; i >= 0; --i, v >>= 8) a[i] = static_cast<unsigned char>(v);
}
} // namespace

TEST(Ipv4Range, Patterns) {
    struct {
        const char* pattern;
        int rc;
        uint32_t low, high;
    } cases[] = {
        {" 10.0.0.0 / 8 ", 0, 0x0A000000, 0x0AFFFFFF},
        {"10.0.0.0\t/8", 0, 0x0A000000, 0x0AFFFFFF},
        {"192.168.1.0/24", 0, 0xC0A80100, 0xC0A801FF},
        {"10.0.0.1/8", -1, 0, 0},
        {"10.0.0.0/33", -1, 0, 0},
        {"10.0.0.0/-1", -1, 0, 0},
        {"0.0.0.0/0", 0, 0, 0xFFFFFFFF},
        {"0.0.0.0/", 0, 0, 0xFFFFFFFF},
        {"*", 0, 0, 0xFFFFFFFF},
        {"*.*.*.*", 0, 0, 0xFFFFFFFF},
        {"1.2.3.4/32", 0, 0x01020304, 0x01020304},
        {"128.0.0.0/1", 0, 0x80000000, 0xFFFFFFFF},
        {"x/8", -1, 0, 0},
        {"10.1.2.*", 0, 0x0A010200, 0x0A0102FF},
        {"10.1.*.*", 0, 0x0A010000, 0x0A01FFFF},
        {"10.*.*.*", 0, 0x0A000000, 0x0AFFFFFF},
        {"10.1.*.9", 0, 0x0A010000, 0x0A0100FF}, // what follows the wildcard is dropped
        {"*.1.2.3", -1, 0, 0},
        {"10.1.2*", -1, 0, 0},
        {"10.0.0.9-10.0.0.1", 0, 0x0A000001, 0x0A000009},
        {"10.0.0.1-10.0.0.9", 0, 0x0A000001, 0x0A000009},
        {"10.0.0.1-x", -1, 0, 0},
        {"-10.0.0.1", -1, 0, 0},
        {"10.0.0.1", 0, 0x0A000001, 0x0A000001},
        {"10.1", 0, 0x0A000001, 0x0A000001}, // the short forms of inet_addr
        {"255.255.255.255", 0, 0xFFFFFFFF, 0xFFFFFFFF},
        {"0.0.0.0-255.255.255.255", 0, 0, 0xFFFFFFFF},
        {"10.0.0.1\n", -1, 0, 0},
        {"10.0.0.1\nx", -1, 0, 0},
        {"256.0.0.1", -1, 0, 0},
        {"", -1, 0, 0},
        {"   ", -1, 0, 0},
        {" \t\n", -1, 0, 0},
        {nullptr, -1, 0, 0},
        // Blanks go before the length limit applies, so the prefix is not cut off;
        // a pattern too long even then is refused rather than read cut short.
        {"                                                       10.0.0.0/8", 0, 0x0A000000,
         0x0AFFFFFF},
        {"1000000000000000000000000000000000000000000000000000000000000000.0.0.0/8", -1, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t low = 7, high = 7;
        const char* shown = c.pattern ? c.pattern : "(null)";
        EXPECT_EQ(str2ipv4range(c.pattern, &low, &high), c.rc) << shown;
        EXPECT_EQ(low, c.low) << shown;
        EXPECT_EQ(high, c.high) << shown;
    }
}

TEST(Ipv4Range, MatchAgainstDirectMasks) {
    EXPECT_TRUE(ipv4match("10.0.0.0/8", 0x0A000005));
    EXPECT_FALSE(ipv4match("10.0.0.0/8", 0x0B000000));
    EXPECT_FALSE(ipv4match("10.0.0.1/8", 0x0A000001));
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
    const std::string none(16, '\0');
    struct {
        const char* pattern;
        int rc;
        const char* low;
        const char* high;
    } cases[] = {
        {"2001:db8::/32", 0, "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8:1:2::/64", 0, "2001:db8:1:2::", "2001:db8:1:2:ffff:ffff:ffff:ffff"},
        {" 2001:db8::\t/ 33", 0, "2001:db8::", "2001:db8:7fff:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8::1/64", -1, nullptr, nullptr},
        {"::/0", 0, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"::", 0, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"::/128", 0, "::", "::"},
        {"::1", 0, "::1", "::1"},
        {"8000::/1", 0, "8000::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8::/129", -1, nullptr, nullptr},
        {"2001:db8::/-1", -1, nullptr, nullptr},
        {"2001:db8::/4294967328", -1, nullptr, nullptr},
        {"ff02::1-::1", 0, "::1", "ff02::1"},
        {"fe80::1-fe80::8000:0:0:1", 0, "fe80::1", "fe80::8000:0:0:1"},
        {"::1-x", -1, nullptr, nullptr},
        {"::1-::2/64", -1, nullptr, nullptr},
        {"bogus", -1, nullptr, nullptr},
        {"", -1, nullptr, nullptr},
        {" \t", -1, nullptr, nullptr},
        {nullptr, -1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        unsigned char low[16], high[16];
        std::memset(low, 0xAA, 16);
        std::memset(high, 0xAA, 16);
        const char* shown = c.pattern ? c.pattern : "(null)";
        EXPECT_EQ(str2ipv6range(c.pattern, low, high), c.rc) << shown;
        EXPECT_EQ(str16(low), c.low ? bytes6(c.low) : none) << shown;
        EXPECT_EQ(str16(high), c.high ? bytes6(c.high) : none) << shown;
    }
}

TEST(Ipv6Range, PrefixTextIsRestored) {
    struct {
        const char* text;
        int rc;
        unsigned prefix;
        const char* addr;
    } cases[] = {
        {"2001:db8::/32", 0, 32, "2001:db8::"},
        {"2001:db8::1", 0, 128, "2001:db8::1"},
        {"::/0", 0, 0, "::"},
        {"::/abc", 0, 0, "::"},
        {"::1/129", -1, 128, "::"},
        {"::1/-1", -1, 128, "::"},
        {"x/64", -1, 128, "::"},
    };
    for (const auto& c : cases) {
        char text[32];
        std::strcpy(text, c.text);
        unsigned char prefix = 7, addr[16];
        EXPECT_EQ(str2ipv6prefix(text, &prefix, addr), c.rc) << c.text;
        EXPECT_EQ(prefix, c.prefix) << c.text;
        EXPECT_EQ(str16(addr), bytes6(c.addr)) << c.text;
        EXPECT_STREQ(text, c.text);
    }
}

// Random networks and addresses against plain 128-bit arithmetic.
TEST(Ipv6Range, MatchAgainstDirectComparison) {
    EXPECT_TRUE(ipv6match("2001:db8::/32", reinterpret_cast<const unsigned char*>(
                                               bytes6("2001:db8:ffff:ffff:ffff::").data())));
    EXPECT_TRUE(
        ipv6match("::1-ff02::1", reinterpret_cast<const unsigned char*>(bytes6("8000::").data())));
    std::mt19937_64 rng(11);
    auto random128 = [&]() { return (static_cast<unsigned __int128>(rng()) << 64) | rng(); };
    for (int i = 0; i < 4000; ++i) {
        int bits = static_cast<int>(rng() % 129);
        unsigned __int128 mask = bits == 0 ? 0 : ~static_cast<unsigned __int128>(0) << (128 - bits);
        unsigned __int128 net = random128() & mask;
        unsigned __int128 addr = (rng() % 2)
                                     ? (net ^ (static_cast<unsigned __int128>(1) << (rng() % 128)))
                                     : random128();
        unsigned char netb[16], addrb[16], low[16], high[16];
        put128(netb, net);
        put128(addrb, addr);
        char pattern[48];
        ipv6cidr2str(pattern, static_cast<unsigned>(bits), netb);
        if (std::strchr(pattern, ':') == nullptr) continue; // mapped: written as IPv4
        ASSERT_EQ(str2ipv6range(pattern, low, high), 0) << pattern;
        ASSERT_TRUE(num128(low) == net && num128(high) == (net | ~mask)) << pattern;
        ASSERT_EQ(ipv6match(pattern, addrb), (addr & mask) == net) << pattern;

        // The same pair as an explicit range, in either order.
        unsigned __int128 other = random128();
        unsigned char otherb[16];
        put128(otherb, other);
        char a[40], b[40];
        ipv6addr2str(a, addrb);
        ipv6addr2str(b, otherb);
        std::string range = std::string(a) + "-" + b;
        if (range.find(':') == std::string::npos || std::strchr(a, ':') == nullptr ||
            std::strchr(b, ':') == nullptr) {
            continue;
        }
        ASSERT_EQ(str2ipv6range(range.c_str(), low, high), 0) << range;
        ASSERT_EQ(num128(low), addr < other ? addr : other) << range;
        ASSERT_EQ(num128(high), addr < other ? other : addr) << range;
        unsigned __int128 probe = random128();
        unsigned char probeb[16];
        put128(probeb, probe);
        ASSERT_EQ(ipv6match(range.c_str(), probeb), num128(low) <= probe && probe <= num128(high));
    }
}

TEST(IpRange, EitherFamily) {
    struct {
        const char* pattern;
        int rc, family;
        uint32_t low4, high4;
        const char* low6;
        const char* high6;
    } cases[] = {
        {"10.0.0.0/8", 0, AF_INET, 0x0A000000, 0x0AFFFFFF, nullptr, nullptr},
        {"2001:db8::/32", 0, AF_INET6, 0, 0,
         "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"bogus", -1, -1, 0, 0, nullptr, nullptr},
        {"bo:gus", -1, -1, 0, 0, nullptr, nullptr},
        {"", -1, -1, 0, 0, nullptr, nullptr},
    };
    const unsigned char zeros[16] = {};
    for (const auto& c : cases) {
        ipvn low, high;
        std::memset(&low, 0xAA, sizeof low);
        std::memset(&high, 0xAA, sizeof high);
        int family = 0;
        EXPECT_EQ(str2iprange(c.pattern, &low, &high, &family), c.rc) << c.pattern;
        EXPECT_EQ(family, c.family) << c.pattern;
        if (c.low6 != nullptr) {
            EXPECT_EQ(str16(low.v6), bytes6(c.low6));
            EXPECT_EQ(str16(high.v6), bytes6(c.high6));
        } else {
            EXPECT_EQ(low.v4, c.low4) << c.pattern;
            EXPECT_EQ(high.v4, c.high4) << c.pattern;
            EXPECT_EQ(std::memcmp(low.v6 + 4, zeros, 12), 0) << c.pattern;
            EXPECT_EQ(std::memcmp(high.v6 + 4, zeros, 12), 0) << c.pattern;
        }
    }
}

// Random texts (meant for the sanitizer build): no out-of-bounds access, a
// failure always leaves zeroed ends, a success always an ordered range.
TEST(IpRangeSafety, GeneratedPatterns) {
    std::mt19937 rng(3);
    const char alphabet[] = "0123456789abcdef.:/-* \t*..::";
    for (int i = 0; i < 30000; ++i) {
        std::string s;
        for (int n = static_cast<int>(rng() % 140); n > 0; --n) {
            s += alphabet[rng() % (sizeof alphabet - 1)];
        }
        uint32_t low4, high4;
        int rc = str2ipv4range(s.c_str(), &low4, &high4);
        ASSERT_TRUE(rc == 0 ? low4 <= high4 : (rc == -1 && low4 == 0 && high4 == 0)) << s;
        unsigned char low6[16], high6[16];
        rc = str2ipv6range(s.c_str(), low6, high6);
        if (rc == 0) {
            ASSERT_LE(std::memcmp(low6, high6, 16), 0) << s;
        } else {
            ASSERT_EQ(rc, -1);
            ASSERT_EQ(num128(low6), 0u);
            ASSERT_EQ(num128(high6), 0u);
        }
    }
}
