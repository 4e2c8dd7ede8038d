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

namespace {
// Bytes of a well-formed text, read by the C library: an independent oracle.
std::string bytes6(const char* text) {
    unsigned char a[16];
    EXPECT_EQ(inet_pton(AF_INET6, text, a), 1) << text;
    return std::string(reinterpret_cast<char*>(a), 16);
}

std::string parsed(const char* text, int& rc) {
    unsigned char a[16];
    std::memset(a, 0xAA, sizeof a);
    rc = str2ipv6addr(text, a);
    return std::string(reinterpret_cast<char*>(a), 16);
}

const std::string zeros(16, '\0');

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
    struct {
        const char* text;
        const char* same; // the same address as the C library writes it
    } cases[] = {
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"1::2", "1::2"},
        {"2001:db8::1", "2001:db8::1"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
        {"0001:00a:0:ffff:FFFF:abcd:0:0", "1:a:0:ffff:ffff:abcd::"},
        {"::ffff:1.2.3.4", "::ffff:1.2.3.4"},
        {"::1.2.3.4", "::1.2.3.4"},
        {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"},
        {"::0.0.0.0", "::"},
        {"::1.2.3", "::1.2.0.3"},
        {"::ffff:255.255.255.255", "::ffff:255.255.255.255"},
        {"1:2:3:4:5:6::7", "1:2:3:4:5:6:0:7"},
        {"1:2:3:4:5:6::", "1:2:3:4:5:6::"},
        {"::1:2:3:4:5:6", "::1:2:3:4:5:6"},
        {"1:2:3:4:5:6::1.2.3.4", "1:2:3:4:5:6:102:304"}, // "::" standing for no group
        {"1::1.2.3.4", "1::102:304"},
    };
    for (const auto& c : cases) {
        int rc;
        std::string got = parsed(c.text, rc);
        EXPECT_EQ(rc, 0) << c.text;
        EXPECT_EQ(got, bytes6(c.same)) << c.text;
    }
}

// Every refused text leaves zeroes. The C library refuses them too, except
// for eight colons with a "::" standing for one group, which is always refused
// here.
TEST(Ipv6Parse, RefusedTextsLeaveZeroes) {
    const char* cases[] = {
        "",
        "1.2.3.4",
        "1:2:3:4:5:6:7:8:9",
        "1::2::3",
        "1:::2",
        ":::",
        ":::1",
        "00001::",
        "::12345",
        "fe80::1%eth0",
        "fe80::1%1",
        "[::1]",
        " ::1",
        "::1 ",
        "+::1",
        "::-1",
        "::g",
        "1:2:3",
        "1:2:3:4:5:6:7",
        "1:",
        ":",
        "1:2:",
        "1:2:3:4:5:6:7:8::",
        "::1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7:1.2.3.4",
        ":1:2:3:4:5:6:7",
        "::1.2.3.x",
        "::ffff:1.2.3.4.5",
        "::256.1.1.1",
        "::1.2.3.4:1",
        "::1.2.3.4.",
        "::.1.2.3",
        "1.2.3.4::",
        "::1234567890123456",
        "::ffff:1.2.3.4x",
        // A single leading colon would otherwise read as the all-zero address.
        ":1",
        ":1:2",
        ":1::",
        // A short group going on with '.' is neither hex nor an IPv4 part.
        "1:2:3:4:5:6:7:8.9",
        "::1.2",
        "::.1",
        "1.2::3",
    };
    for (const char* text : cases) {
        int rc;
        unsigned char lib[16];
        EXPECT_EQ(parsed(text, rc), zeros) << text;
        EXPECT_EQ(rc, -1) << text;
        EXPECT_EQ(inet_pton(AF_INET6, text, lib), 0) << text;
    }
    for (const char* text : {"::1:2:3:4:5:6:7", "1:2:3:4:5:6:7::"}) {
        int rc;
        EXPECT_EQ(parsed(text, rc), zeros) << text;
        EXPECT_EQ(rc, -1) << text;
    }
}

TEST(Ipv6Write, CompressionAndCase) {
    struct {
        const char* addr;
        const char* text;
    } cases[] = {
        {"2001:db8:0:0:0:0:0:1", "2001:DB8::1"},
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
        {"0:0:1:0:0:1:0:0", "::1:0:0:1:0:0"},
        {"1:0:0:1:0:0:1:1", "1::1:0:0:1:1"},
        {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},
        {"abcd:ef01:a:bc:def:0:0:0", "ABCD:EF01:A:BC:DEF::"},
        {"::ffff:192.0.2.1", "192.0.2.1"},
        {"::ffff:0.0.0.0", "0.0.0.0"},
        {"::192.0.2.1", "::C000:201"},
        {"0:0:0:0:ffff:0:0:0", "::FFFF:0:0:0"},
        {"1:0:0:0:0:ffff:1:2", "1::FFFF:1:2"},
    };
    for (const auto& c : cases) {
        std::string a = bytes6(c.addr);
        char buf[40];
        std::memset(buf, 'x', sizeof buf);
        int n = ipv6addr2str(buf, reinterpret_cast<const unsigned char*>(a.data()));
        EXPECT_STREQ(buf, c.text) << c.addr;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.text))) << c.addr;
    }
}

TEST(Ipv6Write, LongestTextAndCidr) {
    struct {
        const char* addr;
        unsigned prefix;
        const char* text;
    } cases[] = {
        {"2001:db8::", 32, "2001:DB8::/32"},
        {"2001:db8::", 300, "2001:DB8::/44"},
        {"::", 0, "::/0"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 255,
         "FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF/255"},
        {"::ffff:10.0.0.1", 128, "10.0.0.1/128"},
    };
    for (const auto& c : cases) {
        std::string a = bytes6(c.addr);
        char buf[44];
        int n = ipv6cidr2str(buf, c.prefix, reinterpret_cast<const unsigned char*>(a.data()));
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.text)));
    }
}

// Random addresses: the writer matches inet_ntop (upper-cased) wherever the C
// library does not pick an embedded IPv4 form, and both parsers read every
// text either writer produced identically.
TEST(Ipv6Agreement, GeneratedAddressesMatchCLibrary) {
    std::mt19937 rng(20261207);
    int compared = 0;
    for (int i = 0; i < 4000; ++i) {
        unsigned char a[16];
        randomaddr(rng, a);
        if (mapped(a)) continue;
        char ours[40], theirs[INET6_ADDRSTRLEN];
        ipv6addr2str(ours, a);
        ASSERT_NE(inet_ntop(AF_INET6, a, theirs, sizeof theirs), nullptr);
        for (const char* text :
             {static_cast<const char*>(ours), static_cast<const char*>(theirs)}) {
            unsigned char back[16], lib[16];
            ASSERT_EQ(str2ipv6addr(text, back), 0) << text;
            ASSERT_EQ(std::memcmp(back, a, 16), 0) << text;
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
        unsigned char a[16];
        randomaddr(rng, a);
        char text[INET6_ADDRSTRLEN + 8];
        inet_ntop(AF_INET6, a, text, INET6_ADDRSTRLEN);
        std::string s(text);
        for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0; --edits) {
            size_t at = rng() % (s.size() + 1);
            char ch = alphabet[rng() % (sizeof alphabet - 1)];
            switch (rng() % 3) {
            case 0: s.insert(at, 1, ch); break;
            case 1:
                if (at < s.size()) s.erase(at, 1);
                break;
            default:
                if (at < s.size()) s[at] = ch;
            }
        }
        if (s.find('.') != std::string::npos || std::count(s.begin(), s.end(), ':') > 7) continue;
        unsigned char ours[16], lib[16];
        int rc = str2ipv6addr(s.c_str(), ours);
        int librc = inet_pton(AF_INET6, s.c_str(), lib);
        ASSERT_EQ(rc == 0, librc == 1) << s;
        if (rc == 0) {
            ASSERT_EQ(std::memcmp(ours, lib, 16), 0) << s;
            ++accepted;
        } else {
            ASSERT_EQ(std::memcmp(ours, zeros.data(), 16), 0) << s;
        }
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
        for (int n = static_cast<int>(rng() % 60); n > 0; --n) {
            s += alphabet[rng() % (sizeof alphabet - 1)];
        }
        unsigned char a[16];
        int rc = str2ipv6addr(s.c_str(), a);
        ASSERT_TRUE(rc == 0 || rc == -1);
        if (rc == -1) {
            ASSERT_EQ(std::memcmp(a, zeros.data(), 16), 0) << s;
        } else if (!mapped(a)) {
            char buf[40];
            unsigned char back[16];
            ipv6addr2str(buf, a);
            ASSERT_EQ(str2ipv6addr(buf, back), 0) << s;
            ASSERT_EQ(std::memcmp(a, back, 16), 0) << s;
        }
    }
}
