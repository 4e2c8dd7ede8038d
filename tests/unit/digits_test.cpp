// Digit texts: hexadecimal decoding, positional alphabets, decimal parsing and
// the numeric and MAC address tests.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
// Positions in the 64-symbol alphabet, written out independently of the library.
const char kB64[] = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";

// The 128-symbol alphabet as hex rows of sixteen, in the published form.
const char* const kB128Rows[] = {"21 40 23 24 25 5E 26 2A 28 29 2D 5F 3D 2B 3C 3E",
                                 "61 41 62 42 63 43 64 44 65 45 66 46 67 47 68 48",
                                 "69 49 6A 4A 6B 4B 6C 4C 6D 4D 6E 4E 6F 4F 70 50",
                                 "71 51 72 52 73 53 74 54 75 55 76 56 77 57 78 58",
                                 "79 59 7A 5A 5B 7B 5D 7D 3B 27 7C 5C 09 C0 C1 C2",
                                 "C3 C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF D0 D1 D2",
                                 "D3 D4 D5 D6 D7 D8 D9 DA DB DC DD DF E0 E1 E2 E3",
                                 "30 31 32 33 34 35 36 37 38 39 7E 60 3F E4 E5 E6"};

std::vector<unsigned char> b128table() {
    std::vector<unsigned char> out;
    for (const char* row : kB128Rows) {
        char* end = const_cast<char*>(row);
        while (*end) out.push_back(static_cast<unsigned char>(std::strtoul(end, &end, 16)));
    }
    return out;
}

// Decodes a positional text with a given alphabet; independent of the library.
// Both alphabets hold '-' as a digit, so the caller says whether a sign leads.
int64_t decode(const std::string& text, const std::vector<unsigned char>& alphabet, bool negative) {
    size_t i = negative ? 1 : 0;
    if (negative) {
        EXPECT_EQ(text[0], '-');
    }
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        size_t pos = 0;
        while (pos < alphabet.size() && alphabet[pos] != static_cast<unsigned char>(text[i])) ++pos;
        EXPECT_LT(pos, alphabet.size()) << "byte not in alphabet";
        v = v * alphabet.size() + pos;
    }
    return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

int nibble(char c) {
    const char* digits = "0123456789abcdef";
    const char* p = std::strchr(digits, c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return p && c ? static_cast<int>(p - digits) : -1;
}

// Plain decoder: every hex digit in order, pairs to bytes, a last odd one dropped.
std::string plaindecode(const std::string& text) {
    std::string out;
    int high = -1;
    for (char c : text) {
        int v = nibble(c);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
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
    } cases[] = {{"4a4B", 0, "\x4A\x4B"},
                 {"abc", -1, ""},
                 {"", 0, ""},
                 {"zz", 0, std::string(1, '\0')},
                 {"00ff", 0, std::string("\x00\xFF", 2)},
                 {"f", -1, ""}};
    for (const auto& c : cases) {
        char out[8];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(hex2str(c.src, out), c.rc) << c.src;
        EXPECT_EQ(std::string(out, c.bytes.size()), c.bytes) << c.src;
        // Nothing past the decoded bytes: no NUL, no write at all on failure.
        EXPECT_EQ(out[c.bytes.size()], '#') << c.src;
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
                 {"0x1234", -1, false, 0, 2, "\x12\x34"},
                 {"0X1234", -1, false, 0, 2, "\x12\x34"},
                 {"de:ad-be ef", -1, false, 0, 4, "\xDE\xAD\xBE\xEF"},
                 {"0x0A:FF", -1, false, 0, 2, "\x0A\xFF"},
                 {"0a ff", -1, false, 0, 2, "\x0A\xFF"},
                 {"\t0a\r\nff", -1, false, 0, 2, "\x0A\xFF"},
                 {"", -1, false, 0, 0, ""},
                 {"12zz", -1, false, -1, 0, "12zz"},
                 {"12zz", -1, true, 0, 4, "12zz"},
                 // Only the first len bytes are validated; decoding runs to the NUL
                 // and skips what is not a digit.
                 {"12zz", 2, false, 0, 1, "\x12"},
                 {"12zz34", 2, false, 0, 2, "\x12\x34"},
                 // A len past the terminator is held to the text.
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
    std::string t = "0xABcd";
    int outlen = 0;
    EXPECT_EQ(hex2binstr(&t[0], false, outlen), 0);
    EXPECT_EQ(std::string(t.c_str(), outlen), "\xAB\xCD");
}

TEST(Digits, PositionalTexts) {
    struct Case {
        int (*render)(char*, int64_t);
        int64_t value;
        std::string want;
    };
    auto hex = [](char* b, int64_t v) { return uint2hex(b, static_cast<uint32_t>(v)); };
    auto b64 = [](char* b, int64_t v) { return int2b64(b, static_cast<int32_t>(v)); };
    auto l64 = [](char* b, int64_t v) { return long2b64(b, v); };
    auto b128 = [](char* b, int64_t v) { return int2b128(b, static_cast<int32_t>(v)); };
    const Case cases[] = {{hex, 0, "0"},
                          {hex, 255, "FF"},
                          {hex, 0xFFFFFFFF, "FFFFFFFF"},
                          {hex, 0x1000, "1000"},
                          {b64, 0, "0"},
                          {b64, 63, "_"},
                          {b64, 64, "10"},
                          {b64, -1, "-1"},
                          {b64, 10, "a"},
                          {b64, 11, "A"},
                          {b64, INT32_MAX, "1_____"},
                          {b64, INT32_MIN, "-200000"},
                          {l64, INT64_MAX, "7__________"},
                          {l64, INT64_MIN, "-80000000000"},
                          {l64, -64, "-10"},
                          {b128, 0, "!"},
                          {b128, 128, "\x40\x21"},
                          {b128, 76, "\t"},
                          {b128, 127, "\xE6"},
                          {b128, -129, "-@@"},
                          {b128, INT32_MIN, "-(!!!!"}};
    for (const auto& c : cases) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        int n = c.render(buf, c.value);
        EXPECT_EQ(std::string(buf, n), c.want) << c.value;
        EXPECT_EQ(buf[n], '\0') << c.value;
        EXPECT_EQ(buf[n + 1], '#') << c.value;
    }
}

TEST(Digits, AlphabetsMatchTheirTables) {
    std::vector<unsigned char> b128 = b128table();
    ASSERT_EQ(b128.size(), 128u);
    for (int v = 0; v < 128; ++v) {
        char buf[8];
        ASSERT_EQ(int2b128(buf, v), 1);
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), b128[v]) << v;
        ASSERT_EQ(int2b64(buf, v % 64), 1);
        EXPECT_EQ(buf[0], kB64[v % 64]) << v;
    }
}

TEST(Digits, PositionalAgreesWithIndependentCodecs) {
    std::mt19937_64 rng(42);
    std::vector<unsigned char> b64(kB64, kB64 + 64);
    std::vector<unsigned char> b128 = b128table();
    for (int i = 0; i < 20000; ++i) {
        uint64_t r = rng() >> (rng() % 64);
        char buf[32], want[32];
        int n = uint2hex(buf, static_cast<uint32_t>(r));
        std::snprintf(want, sizeof want, "%X", static_cast<unsigned>(static_cast<uint32_t>(r)));
        ASSERT_STREQ(buf, want);
        ASSERT_EQ(n, static_cast<int>(std::strlen(want)));

        int64_t l = static_cast<int64_t>(r) * (rng() % 2 ? 1 : -1);
        n = long2b64(buf, l);
        ASSERT_LE(n, 12);
        ASSERT_EQ(decode(std::string(buf, n), b64, l < 0), l) << buf;

        int32_t s = static_cast<int32_t>(l);
        n = int2b64(buf, s);
        ASSERT_LE(n, 7);
        ASSERT_EQ(decode(std::string(buf, n), b64, s < 0), s) << buf;
        n = int2b128(buf, s);
        ASSERT_LE(n, 6);
        ASSERT_EQ(buf[n], '\0');
        ASSERT_EQ(decode(std::string(buf, n), b128, s < 0), s);
    }
}

TEST(Digits, DecimalToDouble) {
    struct Case {
        const char* text;
        int rc;
        double want;
    } cases[] = {{"  -12.5  ", 0, -12.5},
                 {"3", 0, 3.0},
                 {"", -1, 0.0},
                 {"+", -1, 0.0},
                 {"1e5", -1, 0.0},
                 {"abc", -1, 0.0},
                 {"1.5.7", 0, 1.5},
                 {"12 .x", 0, 12.0},
                 {".", 0, 0.0},
                 {"+7.25", 0, 7.25},
                 {"1,5", -1, 0.0},
                 {"   ", -1, 0.0},
                 {"\t42\n", 0, 42.0},
                 {"12x", -1, 0.0},
                 {"0.1", 0, 0.1},
                 {"-.5", 0, -0.5},
                 // Long fractions: the divisor must not overflow.
                 {"0.1234567890123", 0, 0.1234567890123},
                 {"3.14159265358979323846", 0, 3.14159265358979323846},
                 {"0.0000000000000000000001", 0, 1e-22}};
    for (const auto& c : cases) {
        double out = 99.0;
        EXPECT_EQ(str2double(c.text, out), c.rc) << c.text;
        EXPECT_DOUBLE_EQ(out, c.want) << c.text;
        EXPECT_DOUBLE_EQ(str2doubleval(c.text), c.want) << c.text;
    }
    double out = 1.0;
    EXPECT_EQ(str2double("- ", out), 0);
    EXPECT_TRUE(out == 0.0 && std::signbit(out));
    EXPECT_EQ(str2double(nullptr, out), -1);
    EXPECT_EQ(out, 0.0);
    // Absurdly long digit runs stay finite.
    std::string longfrac = "1." + std::string(400, '5');
    EXPECT_EQ(str2double(longfrac.c_str(), out), 0);
    EXPECT_NEAR(out, 1.5555555555555556, 1e-15);
    EXPECT_EQ(str2double("1234567890123456.5", out), 0);
    EXPECT_EQ(out, 1234567890123456.5);
    EXPECT_EQ(str2double(("2." + std::string(30, '0') + "1").c_str(), out), 0);
    EXPECT_EQ(out, 2.0);
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
    struct Case {
        const char* text;
        bool numeric;
        bool digits;
    } cases[] = {{"", true, true},      {"-5", true, false},    {"5-5", true, false},
                 {"- 5", true, false},  {"1.2.3", true, false}, {"  ", true, false},
                 {"-", false, false},   {"5-", false, false},   {"--5", false, false},
                 {"1,5", false, false}, {"+1", false, false},   {"0123", true, true},
                 {"\t9", true, false},  {"12a", false, false},  {"-.-1", true, false},
                 {"- -", false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(isnumeric(c.text), c.numeric) << c.text;
        EXPECT_EQ(onlydigits(c.text), c.digits) << c.text;
    }
}

TEST(Digits, MacAddresses) {
    struct Case {
        const char* text;
        bool mac;
    } forms[] = {
        {"00:1a:2B-3c:4d:5e", true},   {"001a.2b3c.4d5e", true},     {"001A2B3C4D5E", true},
        {"00:1a:2B-3c:4d:5e0", false}, {"00:1a:2B-3c:4d:5", false},  {"001a.2b3c.4d5e0", false},
        {"001a.2b3c.4d5", false},      {"001A2B3C4D5E0", false},     {"001A2B3C4D5", false},
        {"00.1a:2B:3c:4d:5e", false},  {"001a:2b3c:4d5e", false},    {"001a.2b3c.4g5e", false},
        {"00:1a:2B:3c:4d:5g", false},  {"00:1a:2B::c:4d:5e", false}, {"", false}};
    for (const auto& c : forms) EXPECT_EQ(ismacaddr(c.text), c.mac) << c.text;
    EXPECT_FALSE(ismacaddr(nullptr));

    struct Pair {
        const char* a;
        const char* b;
        bool equal;
    } pairs[] = {
        {"00:1A:2B:3C:4D:5E", "001a.2b3c.4d5e", true},  {"001a2b3c4d5e", "00-1A-2B-3C-4D-5E", true},
        {"00:1A:2B:3C:4D:5E", "001a.2b3c.4d5f", false}, {"00:1A:2B:3C:4D:5", "001a2b3c4d5e", false},
        {"001a2b3c4d5", "001a2b3c4d5", false},          {"001a2b3c4d5e77", "001a2b3c4d5e77", false},
        {"001a2b3c4d5e", "001a2b3c4d5eXYZ", true},      {"", "", false},
        {"zz1a2b3c4d5e", "zz1a2b3c4d5e", false}};
    for (const auto& p : pairs) EXPECT_EQ(macequal(p.a, p.b), p.equal) << p.a << " " << p.b;
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
        ASSERT_EQ(std::string(out.data(), bytes.size()), bytes);

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
            EXPECT_LE(std::strlen(buf), static_cast<size_t>(outlen));
        }
        std::free(buf);
    }
}

TEST(DigitsDeathTest, NullHexSource) {
    char out[4];
    EXPECT_DEATH(hex2str(nullptr, out), "hex2str");
}
