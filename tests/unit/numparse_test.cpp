// Checked decimal conversions, count ranges and truth words.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>

namespace {

TEST(NumParse, CheckedConversions) {
    struct {
        const char* text;
        int32_t i;
        uint32_t u;
        int64_t l;
    } cases[] = {{"42", 42, 42, 42},
                 {"4 2", 4, 4, 4},
                 {"x1", 0, 0, 0},
                 {"1e3", 0, 0, 0},
                 {"+5", 0, 0, 0},
                 {"12.7", 12, 12, 12},
                 {"1_000", 1, 1, 1},
                 {"1-2", 1, 1, 1},
                 {"-5", -5, 0xFFFFFFFBu, -5},
                 {"", 0, 0, 0},
                 {"  7", 7, 7, 7},
                 {"\t7", 0, 0, 0}, // tab is not among the accepted bytes
                 {"4294967295", -1, 4294967295u, INT64_C(4294967295)},
                 {"4294967296", 0, 0, INT64_C(4294967296)},
                 {"9000000000", int32_t(0x18711A00), 0x18711A00u, INT64_C(9000000000)},
                 {"99999999999999999999", -1, 0xFFFFFFFFu, INT64_MAX},
                 {"-99999999999999999999", 0, 0xFFFFFFFFu, INT64_MIN}};
    for (auto& c : cases) {
        EXPECT_EQ(str2int(c.text), c.i) << c.text;
        EXPECT_EQ(str2uint(c.text), c.u) << c.text;
        EXPECT_EQ(str2long(c.text), c.l) << c.text;
    }
}

TEST(NumParse, AgreesWithStrtolOnAcceptedTexts) {
    std::mt19937 rng(92);
    const char alphabet[] = "0123456789 -._";
    for (int round = 0; round < 5000; ++round) {
        std::string text(rng() % 24, ' ');
        for (auto& ch : text) ch = alphabet[rng() % 10 < 7 ? rng() % 10 : 10 + rng() % 4];
        ASSERT_TRUE(alldigits(text.c_str()));
        long l = std::strtol(text.c_str(), nullptr, 10);
        long long ll = std::strtoll(text.c_str(), nullptr, 10);
        ASSERT_EQ(str2int(text.c_str()), int32_t(uint32_t(l))) << text;
        ASSERT_EQ(str2long(text.c_str()), int64_t(ll)) << text;
    }
}

TEST(NumParse, Ranges) {
    struct {
        const char* text;
        int result;
        int64_t low, high;
    } cases[] = {{"100-200", 0, 100, 200}, {" 200 - 100 ", 0, 100, 200},
                 {"7", 0, 7, 7},           {"\t7\t", 0, 7, 7},
                 {"0", -1, 0, 0},          {"abc", -1, 0, 0},
                 {"", -1, 0, 0},           {"5-x", 0, 0, 5},
                 {"-5", 0, 0, 5},          {"5-", 0, 0, 5},
                 {"0-0", 0, 0, 0},         {"1--5", -1, 0, 0},
                 {"1-2-3", 0, 1, 2},       {"9000000000-1", 0, 1, INT64_C(9000000000)},
                 {nullptr, -1, 0, 0}};
    for (auto& c : cases) {
        int64_t low = 99, high = 99;
        EXPECT_EQ(str2range(c.text, &low, &high), c.result) << (c.text ? c.text : "(null)");
        EXPECT_EQ(low, c.low) << (c.text ? c.text : "(null)");
        EXPECT_EQ(high, c.high) << (c.text ? c.text : "(null)");
    }
    // Padding longer than the scratch buffer does not cut off the second end.
    std::string padded = "10-" + std::string(200, ' ') + "20";
    int64_t low, high;
    EXPECT_EQ(str2range(padded.c_str(), &low, &high), 0);
    EXPECT_EQ(high, 20);
}

TEST(NumParse, TruthWords) {
    struct {
        const char* text;
        bool yes;
    } cases[] = {{"TRUE", true},   {"Yes", true},   {"on", true},   {"1", true},
                 {"01", true},     {" 1", true},    {"1abc", true}, {"4294967297", true},
                 {"off", false},   {"no", false},   {"0", false},   {"", false},
                 {nullptr, false}, {"y", false},    {"2", false},   {"maybe", false},
                 {"true ", false}, {"yess", false}, {"o", false},   {"-1", false}};
    for (auto& c : cases) EXPECT_EQ(istrueword(c.text), c.yes) << (c.text ? c.text : "(null)");
}

TEST(NumParseDeathTest, NullTextIsAProgrammingError) {
    EXPECT_DEATH(str2int(nullptr), "str2int");
    EXPECT_DEATH(str2long(nullptr), "str2long");
}

} // namespace
