// SPDX-License-Identifier: MIT
// Digit texts: hexadecimal decoding, positional alphabets and decimal texts
// against printf.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
// The two alphabets, written out independently of the library; the 128-symbol
// one holds raw bytes, a tab and bytes above 0x7F among them.
const std::string kB64 = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";
const std::string kB128 = "!@#$%^&*()-_=+<>aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxX"
                          "yYzZ[{]};'|\\\t\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC"
                          "\xCD\xCE\xCF\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xDD"
                          "\xDF\xE0\xE1\xE2\xE3"
                          "0123456789~`?\xE4\xE5\xE6";

// Decodes a positional text with a given alphabet. Both alphabets hold '-' as
// a digit, so the caller says whether a sign leads.
int64_t decode(const std::string& text, const std::string& alphabet, bool negative) {
    if (negative && text[0] != '-') return 0;
    uint64_t v = 0;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        size_t pos = alphabet.find(text[i]);
        EXPECT_NE(pos, std::string::npos) << "byte not in alphabet";
        v = v * alphabet.size() + pos;
    }
    return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

// Plain decoder: every hex digit in order, pairs to bytes, a last odd one dropped.
std::string plaindecode(const std::string& text) {
    std::string digits, out;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}
} // namespace

TEST(Digits, HexDigitValues) {
    struct Case {
        char ch;
        int want;
    } cases[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
                 {'g', 0}, {'G', 0}, {' ', 0},  {'/', 0},  {':', 0},  {'\xFF', 0}};
    for (const auto& c : cases) EXPECT_EQ(hexval(c.ch), c.want) << c.ch;
}

TEST(Digits, HexPairsToBytes) {
    struct Case {
        const char* src;
        int rc;
        std::string bytes;
    } cases[] = {{"abc", -1, ""}, {"", 0, ""}, {"zz", 0, std::string(1, '\0')}};
    for (const auto& c : cases) {
        char out[8];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(hex2str(c.src, out), c.rc) << c.src;
        // Nothing past the decoded bytes: no NUL, no write at all on failure.
        EXPECT_EQ(std::string(out, c.bytes.size() + 1), c.bytes + '#') << c.src;
    }
}

TEST(Digits, HexToBinaryInPlace) {
    struct Case {
        const char* text;
        int len; // -1: the whole text
        bool lenient;
        int rc;
        int outlen;
        std::string bytes; // expected decoded bytes, or the expected unchanged text
    } cases[] = {{"12 3", -1, false, -1, 0, "12 3"},
                 {"12 3", -1, true, 0, 4, "12 3"},
                 {"", -1, false, 0, 0, ""},
                 {"12zz", -1, false, -1, 0, "12zz"},
                 // Only the first len bytes are validated; decoding runs to the NUL
                 // and skips what is not a digit. A len past the terminator is held to
                 // the text.
                 {"12zz34", 2, false, 0, 2, "\x12\x34"},
                 {"12zz", 100, true, 0, 4, "12zz"},
                 {"0x", -1, false, 0, 0, ""},
                 // A prefix is taken once, and only before the first digit: a later
                 // "0x" must not pass the check and then decode as a digit.
                 {"0x0x12", -1, false, -1, 0, "0x0x12"},
                 {"120x34", -1, false, -1, 0, "120x34"},
                 {"ab:0x12", -1, false, -1, 0, "ab:0x12"},
                 {" 0x12", -1, false, 0, 1, "\x12"},
                 // len 0 skips validation: the digits are decoded, the odd one dropped.
                 {"123", 0, false, 0, 1, "\x12"},
                 {"00x12", 0, false, 0, 2, std::string("\x00\x12", 2)}};
    for (const auto& c : cases) {
        std::string text = c.text;
        int len = c.len < 0 ? static_cast<int>(text.size()) : c.len;
        int outlen = -7;
        EXPECT_EQ(hex2bin(&text[0], len, c.lenient, outlen), c.rc) << c.text;
        EXPECT_EQ(outlen, c.outlen) << c.text;
        if (c.rc == 0 && c.outlen == static_cast<int>(c.bytes.size()) && c.bytes != c.text) {
            EXPECT_EQ(std::string(text.c_str(), c.outlen), c.bytes) << c.text;
            EXPECT_EQ(text[c.outlen], '\0') << c.text;
        } else {
            EXPECT_EQ(std::string(text.c_str()), c.bytes) << c.text;
        }
    }
}

TEST(Digits, AlphabetsMatchTheirTables) {
    ASSERT_EQ(kB128.size(), 128u);
    for (int v = 0; v < 128; ++v) {
        char buf[8];
        ASSERT_EQ(int2b128(buf, v), 1);
        EXPECT_EQ(buf[0], kB128[v]) << v;
        ASSERT_EQ(int2b64(buf, v % 64), 1);
        EXPECT_EQ(buf[0], kB64[v % 64]) << v;
    }
}

TEST(Digits, PositionalAgreesWithIndependentCodecs) {
    // Renders into a marked buffer and checks the text: within maxlen, terminated
    // with nothing written past it, no leading zero digit, and decoding back exactly.
    auto check = [](auto render, const std::string& alphabet, int64_t v, int maxlen) {
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        int n = render(buf);
        ASSERT_LE(n, maxlen) << v;
        ASSERT_EQ(std::string(buf + n, 2), std::string("\0#", 2)) << v;
        ASSERT_TRUE(v == 0 ? n == 1 : buf[v < 0] != alphabet[0]) << buf;
        ASSERT_EQ(decode(std::string(buf, n), alphabet, v < 0), v) << buf;
    };
    // The extremes first, then random values of every length and both signs.
    const int64_t extremes[] = {0, INT64_MIN, INT64_MAX, INT32_MIN, INT32_MAX, 0xFFFFFFFF, -129};
    std::mt19937_64 rng(42);
    for (int i = 0; i < 20000 && !HasFatalFailure(); ++i) {
        uint64_t r = rng() >> (rng() % 64);
        int64_t l = i < 7 ? extremes[i] : static_cast<int64_t>(r) * (rng() % 2 ? 1 : -1);
        uint32_t u = static_cast<uint32_t>(l);
        char buf[16], want[16];
        std::snprintf(want, sizeof want, "%X", static_cast<unsigned>(u));
        ASSERT_EQ(uint2hex(buf, u), static_cast<int>(std::strlen(want)));
        ASSERT_STREQ(buf, want);

        int32_t s = static_cast<int32_t>(l);
        check([&](char* b) { return long2b64(b, l); }, kB64, l, 12);
        check([&](char* b) { return int2b64(b, s); }, kB64, s, 7);
        check([&](char* b) { return int2b128(b, s); }, kB128, s, 6);
    }
}

TEST(Digits, HexDecodersAgreeWithPlainDecoder) {
    std::mt19937 rng(2024);
    const char seps[] = " \t\r\n:-";
    for (int i = 0; i < 5000; ++i) {
        std::string bytes;
        int n = static_cast<int>(rng() % 40);
        for (int k = 0; k < n; ++k) bytes.push_back(static_cast<char>(rng() % 256));
        std::string hex, pretty = rng() % 3 == 0 ? (rng() % 2 ? "0x" : "0X") : "";
        for (char b : bytes) {
            char pair[3];
            std::snprintf(pair, sizeof pair, rng() % 2 ? "%02x" : "%02X",
                          static_cast<unsigned char>(b));
            hex += pair;
            pretty += pair;
            if (rng() % 3 == 0) pretty += seps[rng() % 6];
        }
        std::vector<char> out(bytes.size() + 1, '#');
        ASSERT_EQ(hex2str(hex.c_str(), out.data()), 0);
        ASSERT_EQ(std::string(out.data(), bytes.size()), plaindecode(hex));
        ASSERT_EQ(std::string(out.data(), bytes.size() + 1), bytes + '#'); // nothing past them

        int outlen = -1;
        std::string work = pretty;
        ASSERT_EQ(hex2binstr(&work[0], false, outlen), 0) << pretty;
        ASSERT_EQ(std::string(work.data(), outlen), bytes) << pretty;
    }
}

// Random mixes of digits, separators, prefixes and junk in a buffer of exactly
// the text's size, so that the sanitizer build catches any overrun.
TEST(Digits, HexToBinarySafetyOnGeneratedText) {
    std::mt19937 rng(99);
    const char pool[] = "0123456789abcdefABCDEFxX0x :-\t\r\nzZ!\xE2\x80";
    for (int i = 0; i < 20000; ++i) {
        int n = static_cast<int>(rng() % 24);
        std::string text;
        for (int k = 0; k < n; ++k) text.push_back(pool[rng() % (sizeof pool - 1)]);
        bool lenient = rng() % 2;
        int len = static_cast<int>(rng() % (n + 2));
        char* buf = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(buf, text.c_str(), text.size() + 1);
        int outlen = -1;
        int rc = hex2bin(buf, len, lenient, outlen);
        if (rc < 0) {
            EXPECT_EQ(outlen, 0);
            EXPECT_EQ(std::string(buf), text);
        } else if (std::string(buf) == text && outlen == std::min(len, n)) {
            // lenient refusal, or a text without digits
        } else {
            ASSERT_GE(outlen, 0);
            ASSERT_LE(outlen, n / 2);
            EXPECT_EQ(buf[outlen], '\0');
        }
        std::free(buf);
    }
}

TEST(DigitsDeathTest, NullHexSource) {
    char out[4];
    EXPECT_DEATH(hex2str(nullptr, out), "hex2str");
}

TEST(Strings, DecimalTextsAgreeWithPrintf) {
    // Digit-count edges and the most negative values, which keep their exact
    // text, then random values of every magnitude.
    std::vector<int64_t> values = {0,         1,         -1,           9,           10,
                                   -10,       99,        100,          INT32_MAX,   INT32_MIN,
                                   INT64_MAX, INT64_MIN, 4294967295LL, 2147483648LL};
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 2000; ++i) values.push_back(static_cast<int64_t>(rng()) >> (rng() % 64));
    char buf[32], expect[32];
    for (int64_t v : values) {
        SCOPED_TRACE(v);
        auto same = [&](int got, int want) {
            EXPECT_EQ(got, want);
            EXPECT_STREQ(buf, expect);
        };
        int32_t i32 = static_cast<int32_t>(v);
        uint32_t u32 = static_cast<uint32_t>(v);
        uint64_t u64 = static_cast<uint64_t>(v);
        same(int2str(buf, i32), std::snprintf(expect, sizeof expect, "%" PRId32, i32));
        same(uint2str(buf, u32), std::snprintf(expect, sizeof expect, "%" PRIu32, u32));
        same(long2str(buf, v), std::snprintf(expect, sizeof expect, "%" PRId64, v));
        same(ulong2str(buf, u64), std::snprintf(expect, sizeof expect, "%" PRIu64, u64));
        same(ipv4num2str(buf, u32), std::snprintf(expect, sizeof expect, "%u.%u.%u.%u", u32 >> 24,
                                                  (u32 >> 16) & 255, (u32 >> 8) & 255, u32 & 255));
    }
}
