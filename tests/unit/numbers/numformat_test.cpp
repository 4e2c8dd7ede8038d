// Size, rate and duration texts, hexadecimal dumps and number trimming.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

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
        {2147483647, "596523 hrs, 14 mins, 7 secs"}, // the longest text
    };
    for (auto& c : cases) {
        char buf[32];
        EXPECT_EQ(secs2str(buf, c.secs), static_cast<int>(std::strlen(c.want)));
        EXPECT_STREQ(buf, c.want);
    }
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
