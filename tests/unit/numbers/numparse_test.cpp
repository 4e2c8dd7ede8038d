// Checked decimal conversions, count ranges and truth words.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

using std::to_string;

TEST(NumParse, CheckedConversions) {
    // '+' and tab are not among the accepted bytes.
    struct {
        const char* text;
        const char* want; // str2int, str2uint, str2long
    } cases[] = {{"+5", "0 0 0"},
                 {"\t7", "0 0 0"},
                 {"12.7", "12 12 12"},
                 {"-5", "-5 4294967291 -5"},
                 {"", "0 0 0"},
                 {"4294967295", "-1 4294967295 4294967295"},
                 {"9000000000", "410065408 410065408 9000000000"},
                 {"99999999999999999999", "-1 4294967295 9223372036854775807"},
                 {"-99999999999999999999", "0 4294967295 -9223372036854775808"}};
    for (auto& c : cases)
        EXPECT_EQ(to_string(str2int(c.text)) + " " + to_string(str2uint(c.text)) + " " +
                      to_string(str2long(c.text)),
                  c.want)
            << c.text;
}

TEST(NumParse, AgreesWithStrtolOnAcceptedTexts) {
    std::mt19937 rng(92);
    const char alphabet[] = "0123456789 -._";
    for (int round = 0; round < 5000; ++round) {
        std::string text(rng() % 24, ' ');
        for (auto& ch : text) ch = alphabet[rng() % 10 < 7 ? rng() % 10 : 10 + rng() % 4];
        const char* t = text.c_str();
        ASSERT_TRUE(alldigits(t));
        ASSERT_EQ(str2int(t), int32_t(uint32_t(std::strtol(t, nullptr, 10)))) << text;
        ASSERT_EQ(str2long(t), int64_t(std::strtoll(t, nullptr, 10))) << text;
    }
}

TEST(NumParse, Ranges) {
    struct {
        const char* text;
        int result;
        int64_t low, high;
    } cases[] = {{"100-200", 0, 100, 200}, {" 200 -\t100 ", 0, 100, 200},
                 {"7", 0, 7, 7},           {"0", -1, 0, 0},
                 {"", -1, 0, 0},           {"-5", 0, 0, 5},
                 {"5-", 0, 0, 5},          {"0-0", 0, 0, 0},
                 {"1--5", -1, 0, 0},       {"1-2-3", 0, 1, 2},
                 {nullptr, -1, 0, 0},      {"9000000000-1", 0, 1, INT64_C(9000000000)}};
    for (auto& c : cases) {
        int64_t low = 99, high = 99;
        EXPECT_EQ(str2range(c.text, &low, &high), c.result) << (c.text ? c.text : "(null)");
        EXPECT_TRUE(low == c.low && high == c.high) << low << "-" << high;
    }
    // Padding longer than the scratch buffer must not cut off the second end.
    int64_t low, high;
    EXPECT_EQ(str2range(("10-" + std::string(200, ' ') + "20").c_str(), &low, &high), 0);
    EXPECT_EQ(high, 20);
}

TEST(NumParse, TruthWords) {
    struct {
        const char* text;
        bool yes;
    } cases[] = {{"TRUE", true},   {"Yes", true},        {"on", true},   {"1", true},
                 {" 1abc", true},  {"4294967297", true}, {"off", false}, {"0", false},
                 {"", false},      {nullptr, false},     {"y", false},   {"2", false},
                 {"true ", false}, {"yess", false},      {"o", false},   {"-1", false}};
    for (auto& c : cases) EXPECT_EQ(istrueword(c.text), c.yes) << (c.text ? c.text : "(null)");
}

TEST(NumParseDeathTest, NullTextIsAProgrammingError) {
    EXPECT_DEATH(str2int(nullptr), "str2int");
    EXPECT_DEATH(str2long(nullptr), "str2long");
}
