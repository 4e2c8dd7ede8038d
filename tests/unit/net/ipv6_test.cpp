// SPDX-License-Identifier: MIT
// IPv6 address text: parse and write tables, and agreement with the C
// library's inet_pton/inet_ntop on generated addresses and texts.
#include "pacelag/util.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>

namespace {
typedef std::pair<int, std::string> Parsed;
const std::string zeros(16, '\0');

// Bytes of a well-formed text, read by the C library: an independent oracle.
std::string bytes6(const char* text) {
    unsigned char a[16];
    EXPECT_EQ(inet_pton(AF_INET6, text, a), 1) << text;
    return std::string(reinterpret_cast<char*>(a), 16);
}

Parsed parsed(const char* text) {
    unsigned char a[16];
    std::memset(a, 0xAA, sizeof a);
    int rc = str2ipv6addr(text, a);
    return {rc, std::string(reinterpret_cast<char*>(a), 16)};
}

// Addresses whose groups are often zero, so runs of every length turn up.
void randomaddr(std::mt19937& rng, unsigned char* a) {
    int zeroodds = static_cast<int>(rng() % 4);
    for (int g = 0; g < 8; ++g) {
        unsigned v = (static_cast<int>(rng() % 4) < zeroodds) ? 0 : rng() & 0xFFFF;
        if (rng() % 5 == 0) v &= 0xFF;
        a[2 * g] = static_cast<unsigned char>(v >> 8);
        a[2 * g + 1] = static_cast<unsigned char>(v);
    }
}

bool mapped(const unsigned char* a) {
    static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(a, prefix, 12) == 0;
}
} // namespace

TEST(Ipv6Parse, AcceptedTexts) {
    // Forms the generated agreement below does not reach, each with the same
    // address as the C library writes it; in the second-last row "::" stands
    // for no group.
    const char* cases[][2] = {{"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
                              {"0001:00a:0:ffff:FFFF:abcd:0:0", "1:a:0:ffff:ffff:abcd::"},
                              {"::ffff:1.2.3.4", "::ffff:1.2.3.4"},
                              {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"},
                              {"::1.2.3", "::1.2.0.3"},
                              {"1:2:3:4:5:6::7", "1:2:3:4:5:6:0:7"},
                              {"1:2:3:4:5:6::1.2.3.4", "1:2:3:4:5:6:102:304"},
                              {"1::1.2.3.4", "1::102:304"}};
    for (const auto& c : cases) EXPECT_EQ(parsed(c[0]), Parsed(0, bytes6(c[1]))) << c[0];
}

// Every refused text leaves zeroes. The C library refuses them too, except
// the first two: eight colons with a "::" standing for one group.
TEST(Ipv6Parse, RefusedTextsLeaveZeroes) {
    const char* cases[] = {"::1:2:3:4:5:6:7", "1:2:3:4:5:6:7::", "", "1.2.3.4", "1:2:3:4:5:6:7:8:9",
                           "1::2::3", "1:::2", ":::", ":::1", "00001::", "::12345",
                           "::1234567890123456", "fe80::1%eth0", "[::1]", " ::1", "::g",
                           "1:2:3:4:5:6:7", "1:", ":", "1:2:3:4:5:6:7:8::", "::1:2:3:4:5:6:7:8",
                           "1:2:3:4:5:6:7:1.2.3.4", ":1:2:3:4:5:6:7", "::256.1.1.1", "::1.2.3.4:1",
                           "1.2.3.4::", "::ffff:1.2.3.4x",
                           // A single leading colon would otherwise read as the all-zero address.
                           ":1", ":1:2", ":1::",
                           // A short group going on with '.' is neither hex nor an IPv4 part.
                           "1:2:3:4:5:6:7:8.9", "::1.2", "::.1", "1.2::3"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(parsed(cases[i]), Parsed(-1, zeros)) << cases[i];
        unsigned char lib[16];
        EXPECT_TRUE(i < 2 || inet_pton(AF_INET6, cases[i], lib) == 0) << cases[i];
    }
}

// Upper case, the leftmost longest run of two or more zero groups, mapped
// addresses as a dotted quad; with a prefix, the prefix form. The generated
// agreement below covers the ordinary addresses at large.
TEST(Ipv6Write, CompressionCaseAndPrefix) {
    struct {
        const char* addr;
        int prefix; // -1: the plain address
        const char* text;
    } cases[] = {
        {"1:0:0:2:0:0:0:3", -1, "1:0:0:2::3"},
        {"0:0:1:0:0:1:0:0", -1, "::1:0:0:1:0:0"},
        {"1:0:2:3:4:5:6:7", -1, "1:0:2:3:4:5:6:7"},
        {"abcd:ef01:a:bc:def:0:0:0", -1, "ABCD:EF01:A:BC:DEF::"},
        {"::ffff:192.0.2.1", -1, "192.0.2.1"},
        {"::192.0.2.1", -1, "::C000:201"},
        {"0:0:0:0:ffff:0:0:0", -1, "::FFFF:0:0:0"},
        {"1:0:0:0:0:ffff:1:2", -1, "1::FFFF:1:2"},
        {"2001:db8::", 32, "2001:DB8::/32"},
        {"2001:db8::", 300, "2001:DB8::/44"},
        {"::", 0, "::/0"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 255,
         "FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF/255"},
        {"::ffff:10.0.0.1", 128, "10.0.0.1/128"},
    };
    for (const auto& c : cases) {
        std::string a = bytes6(c.addr);
        auto* raw = reinterpret_cast<const unsigned char*>(a.data());
        char buf[44];
        std::memset(buf, 'x', sizeof buf);
        int n = c.prefix < 0 ? ipv6addr2str(buf, raw)
                             : ipv6cidr2str(buf, static_cast<unsigned>(c.prefix), raw);
        EXPECT_STREQ(buf, c.text) << c.addr;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.text))) << c.addr;
    }
}

// The mapped-address value 0 is also what an unmapped address unmaps to; the
// writer must still tell them apart.
TEST(Ipv6Write, MappedFormsAtTheEdges) {
    const char* cases[][2] = {
        {"::ffff:0.0.0.0", "0.0.0.0"},
        {"::ffff:255.255.255.255", "255.255.255.255"},
        {"::", "::"},
        {"::fffe:0:0", "::FFFE:0:0"},
        {"0:0:0:0:1:ffff:0:0", "::1:FFFF:0:0"},
        {"::ffff:0:0:0", "::FFFF:0:0:0"},
    };
    for (const auto& c : cases) {
        unsigned char addr[16];
        ASSERT_EQ(str2ipv6addr(c[0], addr), 0) << c[0];
        char buf[40];
        int n = ipv6addr2str(buf, addr);
        EXPECT_STREQ(buf, c[1]) << c[0];
        EXPECT_EQ(n, static_cast<int>(std::strlen(c[1]))) << c[0];
    }
}

// Random addresses: the writer matches inet_ntop (upper-cased) wherever the C
// library does not pick an embedded IPv4 form, and both parsers read every
// text either writer produced identically.
TEST(Ipv6Agreement, GeneratedAddressesMatchCLibrary) {
    std::mt19937 rng(20261207);
    int compared = 0;
    for (int i = 0; i < 4000; ++i) {
        unsigned char a[16], lib[16];
        randomaddr(rng, a);
        if (mapped(a)) continue;
        char ours[40], theirs[INET6_ADDRSTRLEN];
        ipv6addr2str(ours, a);
        ASSERT_NE(inet_ntop(AF_INET6, a, theirs, sizeof theirs), nullptr);
        for (const char* text :
             {static_cast<const char*>(ours), static_cast<const char*>(theirs)}) {
            ASSERT_EQ(parsed(text), Parsed(0, std::string(reinterpret_cast<char*>(a), 16)));
            ASSERT_EQ(inet_pton(AF_INET6, text, lib), 1) << text;
        }
        if (std::strchr(theirs, '.') != nullptr) continue;
        std::string upper(theirs);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        ASSERT_EQ(std::string(ours), upper);
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}

// Texts the C library wrote, damaged at random. Outside the forms where this
// parser deliberately differs (an IPv4 part, read leniently; eight colons,
// always refused) both must give the same answer and the same bytes.
TEST(Ipv6Agreement, DamagedTextsAgreeWithCLibrary) {
    std::mt19937 rng(7);
    const char alphabet[] = "0123456789abcdefABCDEF:::::..g% ";
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        unsigned char a[16], lib[16];
        randomaddr(rng, a);
        char text[INET6_ADDRSTRLEN];
        std::string s(inet_ntop(AF_INET6, a, text, sizeof text));
        for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0; --edits) {
            size_t at = rng() % (s.size() + 1);
            char ch = alphabet[rng() % (sizeof alphabet - 1)];
            unsigned how = rng() % 3;
            if (how == 0) s.insert(at, 1, ch);
            if (how != 0 && at < s.size()) how == 1 ? (void)s.erase(at, 1) : (void)(s[at] = ch);
        }
        if (s.find('.') != std::string::npos || std::count(s.begin(), s.end(), ':') > 7) continue;
        bool libok = inet_pton(AF_INET6, s.c_str(), lib) == 1;
        ASSERT_EQ(parsed(s.c_str()), libok
                                         ? Parsed(0, std::string(reinterpret_cast<char*>(lib), 16))
                                         : Parsed(-1, zeros))
            << s;
        accepted += libok;
    }
    EXPECT_GT(accepted, 1000);
}

// Arbitrary byte soup (meant for the sanitizer build): never reads outside
// the text, fails with zeroes, and whatever it accepts survives a round trip.
TEST(Ipv6Safety, GeneratedTexts) {
    std::mt19937 rng(42);
    const char alphabet[] = "0123456789aF:::...%x \xff";
    for (int i = 0; i < 30000; ++i) {
        std::string s;
        for (int n = static_cast<int>(rng() % 60); n > 0; --n)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        Parsed p = parsed(s.c_str());
        auto* a = reinterpret_cast<const unsigned char*>(p.second.data());
        if (p.first != 0) {
            ASSERT_EQ(p, Parsed(-1, zeros)) << s;
        } else if (!mapped(a)) {
            char buf[40];
            ipv6addr2str(buf, a);
            ASSERT_EQ(parsed(buf), p) << s;
        }
    }
}
