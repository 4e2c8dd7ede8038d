// SPDX-License-Identifier: MIT
// Size, rate and duration texts, hexadecimal dumps and number trimming.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Quantity {
    double value;
    const char* suffix;
    const char* want;
};

void checktext(int (*fn)(char*, const char*, double), const Quantity& c) {
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(fn(buf, c.suffix, c.value), static_cast<int>(std::strlen(c.want)));
    EXPECT_STREQ(buf, c.want) << c.value;
}

// Rounding comes after the unit is chosen (999.6, 999999.9); no unit past PB or Mbit.
TEST(Numformat, SizeAndBitrateTexts) {
    const Quantity sizes[] = {
        {0, nullptr, "0 bytes"},         {999.6, nullptr, "1000 bytes"},
        {1000, nullptr, "1.000 KB"},     {999999.9, nullptr, "1000.000 KB"},
        {1e6, nullptr, "1.000 MB"},      {2.5e9, nullptr, "2.500 GB"},
        {1e12, nullptr, "1.000 TB"},     {1e15, nullptr, "1.000 PB"},
        {1e18, nullptr, "1000.000 PB"},  {1500, "/s", "1.500 KB/s"},
        {-5000, nullptr, "-5000 bytes"}, {NAN, nullptr, "nan PB"},
    };
    const Quantity rates[] = {
        {999, nullptr, "999 bit/s"},    {1000, nullptr, "1.000 kbit/s"},
        {1e6, nullptr, "1.000 Mbit/s"}, {5e9, nullptr, "5000.000 Mbit/s"},
        {1000, "", "1.000 kbit"},       {999999.9, nullptr, "1000.000 kbit/s"},
        {12.4, " avg", "12 bit avg"},   {NAN, nullptr, "nan Mbit/s"},
    };
    for (const Quantity& c : sizes) checktext(size2str, c);
    for (const Quantity& c : rates) checktext(bitrate2str, c);
}

TEST(Numformat, DurationTexts) {
    const struct {
        int secs;
        const char* want;
    } cases[] = {
        {0, "0 secs"},
        {59, "59 secs"},
        {60, "1 mins, 0 secs"},
        {3599, "59 mins, 59 secs"},
        {3600, "1 hrs, 0 mins, 0 secs"},
        {-2147483647 - 1, "-2147483648 secs"},
        {2147483647, "596523 hrs, 14 mins, 7 secs"},
        {2147482799, "596522 hrs, 59 mins, 59 secs"}, // one of the longest
    };
    for (auto& c : cases) {
        char buf[32];
        EXPECT_EQ(secs2str(buf, c.secs), static_cast<int>(std::strlen(c.want)));
        EXPECT_STREQ(buf, c.want);
    }
}

// Every number text at its worst input, in a buffer of exactly its stated size
// followed by guard bytes: the text must be the expected one and the guard intact.
TEST(Numformat, WorstCasesFitTheirStatedBuffers) {
    unsigned char v6max[16];
    std::memset(v6max, 0xFF, sizeof v6max);
    const struct {
        const char* want;
        int size; // stated buffer size, terminator included
        int (*render)(char*, const unsigned char*);
    } cases[] = {
        {"596522 hrs, 59 mins, 59 secs", NUMTEXT_SIZE,
         [](char* b, const unsigned char*) { return secs2str(b, 2147482799); }},
        {"-2147483648 secs", NUMTEXT_SIZE,
         [](char* b, const unsigned char*) { return secs2str(b, -2147483647 - 1); }},
        {"1000.000 PB", NUMTEXT_SIZE,
         [](char* b, const unsigned char*) { return size2str(b, nullptr, 1e18); }},
        {"1000.000 KB/s", NUMTEXT_SIZE + 2,
         [](char* b, const unsigned char*) { return size2str(b, "/s", 999999.9); }},
        {"1000000000000.000 Mbit/s", NUMTEXT_SIZE,
         [](char* b, const unsigned char*) { return bitrate2str(b, nullptr, 1e18); }},
        {"1000000000000.000 Mbit", NUMTEXT_SIZE,
         [](char* b, const unsigned char*) { return bitrate2str(b, "", 1e18); }},
        {"-2147483648", 12,
         [](char* b, const unsigned char*) { return int2str(b, -2147483647 - 1); }},
        {"4294967295", 11, [](char* b, const unsigned char*) { return uint2str(b, 4294967295u); }},
        {"-9223372036854775808", 21,
         [](char* b, const unsigned char*) { return long2str(b, INT64_MIN); }},
        {"18446744073709551615", 21,
         [](char* b, const unsigned char*) { return ulong2str(b, UINT64_MAX); }},
        {"255.255.255.255", 16,
         [](char* b, const unsigned char*) { return ipv4num2str(b, 0xFFFFFFFF); }},
        {"FFFFFFFF", 9, [](char* b, const unsigned char*) { return uint2hex(b, 0xFFFFFFFF); }},
        {"-200000", 8, [](char* b, const unsigned char*) { return int2b64(b, INT32_MIN); }},
        {"-80000000000", 13, [](char* b, const unsigned char*) { return long2b64(b, INT64_MIN); }},
        {"-(!!!!", 7, [](char* b, const unsigned char*) { return int2b128(b, INT32_MIN); }},
        {"FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF", 40,
         [](char* b, const unsigned char* a) { return ipv6addr2str(b, a); }},
        {"FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF/255", 44,
         [](char* b, const unsigned char* a) { return ipv6cidr2str(b, 255, a); }},
    };
    for (auto& c : cases) {
        std::string buf(c.size + 8, '~');
        EXPECT_EQ(c.render(&buf[0], v6max), static_cast<int>(std::strlen(c.want))) << c.want;
        EXPECT_STREQ(buf.c_str(), c.want);
        EXPECT_EQ(buf.substr(c.size), std::string(8, '~')) << c.want;
    }
}

// The longest duration texts lie among the largest hour counts; none may pass 28.
TEST(Numformat, NoDurationTextPassesItsMaximum) {
    char buf[64];
    size_t longest = 0;
    for (int s = 2147483647; s >= 2147483647 - 200000; --s)
        longest = std::max(longest, static_cast<size_t>(secs2str(buf, s)));
    for (int s = -2147483647 - 1; s < 400000000; s += 3593)
        longest = std::max(longest, static_cast<size_t>(secs2str(buf, s)));
    EXPECT_EQ(longest, static_cast<size_t>(NUMTEXT_SIZE - 1));
}

TEST(Numformat, HexDumps) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0xFF, 0x10};
    const struct {
        const unsigned char* data;
        int count;
        const char* want; // null: no text
    } cases[] = {{bytes, 5, "00ab7fff10"}, {bytes, 3, "00ab7f"}, {bytes, 0, ""},
                 {nullptr, 0, ""},         {bytes, -1, nullptr}, {bytes, 1 << 30, nullptr}};
    for (auto& c : cases) {
        char* hex = bin2hex(c.data, c.count);
        EXPECT_STREQ(hex, c.want) << c.count;
        std::free(hex);
    }
    util_failalloc(0);
    EXPECT_EQ(bin2hex(bytes, 3), nullptr);
    util_failalloc(-1);
}

TEST(Numformat, TrimmedNumbers) {
    const char* cases[][2] = {{"1.500", "1.5"}, {"2.000", "2"},     {"+3.10", "3.1"},
                              {"-0.000", "0"},  {"-.0", "0"},       {".", "0"},
                              {".50", ".5"},    {"100", "100"},     {"-0", "-0"},
                              {"+5", "+5"},     {"1.0e5", "1.0e5"}, {"1.0.0", "1.0.0"},
                              {"", ""},         {"+", "+"},         {"-", "-"},
                              {"+.0", "0"},     {"-1.", "-1"},      {"100.0010", "100.001"},
                              {"1.5+", "1.5+"}, {" 1.50", " 1.50"}, {"+-1.0", "+-1.0"},
                              {"+0.0", "0"}};
    for (auto& c : cases) {
        char buf[32];
        std::strcpy(buf, c[0]);
        numtrim(buf);
        EXPECT_STREQ(buf, c[1]) << "input: '" << c[0] << "'";
    }
}

} // namespace
