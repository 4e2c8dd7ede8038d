// SPDX-License-Identifier: MIT
// Checked decimal conversions, decimal fractions, count ranges, truth words
// and the numeric tests.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cmath>
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

TEST(Digits, DecimalToDouble) {
    struct Case {
        const char* text;
        int rc;
        double want;
    } cases[] = {{"\t -12.5 \n", 0, -12.5},
                 {"", -1, 0.0},
                 {nullptr, -1, 0.0},
                 {"+", -1, 0.0},
                 {"1e5", -1, 0.0},
                 {"1.5.7", 0, 1.5},
                 {"12 .x", 0, 12.0},
                 {".", 0, 0.0},
                 // Long fractions: the divisor must not overflow, and every digit that
                 // the result can hold is taken.
                 {"3.141592653589793", 0, 3.141592653589793},
                 {"0.0000000000000000000001", 0, 1e-22},
                 {"1234567890123456.5", 0, 1234567890123456.5}};
    for (const auto& c : cases) {
        double out = 99.0;
        EXPECT_EQ(str2double(c.text, out), c.rc) << c.text;
        EXPECT_EQ(out, c.want) << c.text;
        EXPECT_EQ(str2doubleval(c.text), c.want) << c.text;
    }
    double out = 1.0;
    EXPECT_EQ(str2double("- ", out), 0);
    EXPECT_TRUE(out == 0.0 && std::signbit(out));
    // Absurdly long digit runs stay finite.
    std::string longfrac = "1." + std::string(400, '5');
    EXPECT_EQ(str2double(longfrac.c_str(), out), 0);
    EXPECT_NEAR(out, 1.5555555555555556, 1e-15);
    std::string tiny = "0." + std::string(400, '0') + "1";
    EXPECT_EQ(str2double(tiny.c_str(), out), 0);
    EXPECT_FALSE(std::isnan(out));
}

TEST(Digits, DecimalAgreesWithStrtod) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        int total = 1 + static_cast<int>(rng() % 15);
        int fraction = static_cast<int>(rng() % (total + 1));
        std::string text = rng() % 2 ? "-" : (rng() % 4 ? "" : "+");
        for (int d = 0; d < total; ++d) {
            if (d == total - fraction) text += '.';
            text += static_cast<char>('0' + rng() % 10);
        }
        if (fraction == total && rng() % 2) text.insert(text.size() - total - 1, "0");
        double got = -1.0;
        ASSERT_EQ(str2double(text.c_str(), got), 0) << text;
        ASSERT_EQ(got, std::strtod(text.c_str(), nullptr)) << text;
    }
}

TEST(Digits, NumberTests) {
    for (const char* t : {"", "0123"}) EXPECT_TRUE(isnumeric(t) && onlydigits(t)) << t;
    for (const char* t : {"-5", "5-5", "- 5", "1.2.3", "  ", "\t9", "-.-1"})
        EXPECT_TRUE(isnumeric(t) && !onlydigits(t)) << t;
    for (const char* t : {"-", "5-", "--5", "1,5", "+1", "12a", "- -"})
        EXPECT_TRUE(!isnumeric(t) && !onlydigits(t)) << t;
}
