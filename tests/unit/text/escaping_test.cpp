// SPDX-License-Identifier: MIT
// Quoting and escaping: quote removal, quote doubling into buffers, in place
// and into new texts, in-place escaping and the NUL-free encoding, with
// generated texts in blocks of exactly their size.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Runs an editor on text in a heap block of exactly `size` bytes, so that the
// sanitizer build reports any write past it; returns what the block then holds.
template <typename Edit> std::string inblock(const std::string& text, size_t size, Edit edit) {
    char* buf = static_cast<char*>(std::malloc(size));
    std::memcpy(buf, text.c_str(), text.size() + 1);
    edit(buf);
    std::string out = buf;
    std::free(buf);
    return out;
}

} // namespace

TEST(CharClass, StripQuote) {
    struct Case {
        const char* text;
        char quote;
        int offset; // where the result points, -1 for text itself, left unchanged
        const char* result;
    } cases[] = {{" \"abc\"  ", '"', 2, "abc"},
                 {"\"abc", '"', -1, "\"abc"},
                 {"abc\"", '"', -1, "abc\""},
                 {"\"", '"', 1, ""},
                 {"\"   ", '"', 1, "   "},
                 {"   ", '"', 3, ""},
                 {"", '"', 0, ""},
                 {"\"\"", '"', 1, ""},
                 {"'a b'\r\n", '\'', 1, "a b"},
                 {"'a\"", '\'', -1, "'a\""},
                 {"\t\"x\" y\"", '"', 2, "x\" y"}};
    for (const auto& c : cases) {
        std::string t = c.text;
        char* r = stripquote(&t[0], c.quote);
        EXPECT_EQ(r - t.data(), c.offset < 0 ? 0 : c.offset) << c.text;
        EXPECT_STREQ(r, c.result) << c.text;
        EXPECT_TRUE(c.offset >= 0 || t == c.text) << c.text;
    }
}

TEST(CharClass, QuoteDoublingIntoBuffer) {
    struct Case {
        const char* src;
        int count; // -1: quotedup
        int size;
        const char* want;
    } cases[] = {{"it's", -1, 10, "it''s"}, {"it's", -1, 4, "it"},     {"it's", -1, 5, "it''"},
                 {"''", -1, 5, "''''"},     {"''", -1, 4, "''"},       {"abc", -1, 1, ""},
                 {"abc", -1, 0, "unused"},  {"abc", -1, -3, "unused"}, {"it's", 3, 10, "it''"},
                 {"it's", 0, 10, ""},       {"", 5, 10, ""},           {"ab", 99, 10, "ab"}};
    for (const auto& c : cases) {
        char dst[12] = "unused"; // a size below 1 leaves the buffer alone
        int n = c.count < 0 ? quotedup(c.src, dst, c.size) : quotedupn(c.src, c.count, dst, c.size);
        EXPECT_EQ(n, c.size < 1 ? 0 : static_cast<int>(std::strlen(c.want))) << c.src << c.size;
        EXPECT_STREQ(dst, c.want) << c.src << " " << c.size;
    }
}

TEST(CharClass, InPlaceEscaping) {
    struct Case {
        bool escape; // escapeinplace, else quotedupin
        const char* text;
        int size;
        const char* want;
    } cases[] = {{false, "a'b", 5, "a''b"},
                 {false, "a'b", 4, "a b"},
                 {false, "''", 4, "'' "},
                 {false, "'x'", 6, "''x''"},
                 {false, "a'b", 0, "a'b"},
                 {true, "a<b", 6, "a b"},
                 {true, "a<b", 7, "a&lt;b"},
                 {true, "a\\b", 10, "a\\\\b"},
                 {true, "it's", 6, "it\\'s"},
                 {true, "it's", 5, "it s"},
                 {true, "<>", 10, "&lt;&gt;"},
                 {true, "<>", 6, "&lt; "},
                 {true, "a<b", -1, "a<b"},
                 // A text already longer than its size keeps no unescaped character.
                 {true, "a<'b", 2, "a  b"}};
    for (const auto& c : cases) {
        char buf[16] = {};
        std::strcpy(buf, c.text);
        EXPECT_EQ(c.escape ? escapeinplace(buf, c.size) : quotedupin(buf, c.size), buf);
        EXPECT_STREQ(buf, c.want) << c.text << " " << c.size;
    }
}

// Seeded random texts, each in a block of exactly its stated size: every
// in-place editor must stay inside the block, terminate its output and
// report a length that matches it.
TEST(CharClass, GeneratedTextsStayInsideTheirBuffers) {
    std::mt19937 rng(1234);
    const std::string pool =
        std::string("ab '\\<>\"\t\r\n-./_@+,!") + "\xE2\x80\x81\xAA\xAE\xA6\xA9";
    for (int i = 0; i < 20000; ++i) {
        std::string text(rng() % 21, ' ');
        for (auto& ch : text) ch = pool[rng() % pool.size()];
        size_t size = text.size() + 1 + rng() % 12;

        std::string out = inblock(text, size, [&](char* b) { quotedupin(b, int(size)); });
        ASSERT_LT(out.size(), size) << text;
        // Quotes only ever come in doubled pairs.
        for (size_t k = 0; k < out.size(); ++k)
            ASSERT_TRUE(out[k] != '\'' || out[++k] == '\'') << text << " -> " << out;

        out = inblock(text, size, [&](char* b) { escapeinplace(b, int(size)); });
        ASSERT_LT(out.size(), size) << text;
        ASSERT_EQ(out.find_first_of("<>"), std::string::npos) << out;
        // Every quote and backslash is escaped by a backslash before it.
        for (size_t k = 0; k < out.size(); ++k)
            ASSERT_TRUE(out[k] == '\\' ? out[++k] == '\\' || out[k] == '\'' : out[k] != '\'')
                << text << " -> " << out;

        inblock(text, text.size() + 1, [&](char* b) {
            char* r = stripquote(b, rng() % 2 ? '"' : '\'');
            ASSERT_TRUE(r >= b && r <= b + text.size());
            ASSERT_LE(std::strlen(r), text.size() - (r - b));
        });
        for (auto filter : {stripbidi, stripunsafe, makeident})
            inblock(text, text.size() + 1, [&](char* b) {
                int n = filter(b);
                ASSERT_EQ(n, static_cast<int>(std::strlen(b))) << text;
                ASSERT_LE(n, static_cast<int>(text.size()));
            });
    }
}

TEST(CharClassDeathTest, StripQuotePreconditions) {
    char text[] = "\"a\"";
    EXPECT_DEATH(stripquote(nullptr, '"'), "stripquote");
    EXPECT_DEATH(stripquote(text, '\0'), "quote");
}

TEST(Bits, NulEscape) {
    const uint8_t in[] = {0x00, 0xFE, 0xFF, 0x41};
    const char full[] = "\x02\x01\x01\x01\x02\x43";
    // Each size receives the longest prefix that leaves room for a pair and NUL.
    struct {
        int outsize, len;
    } sizes[] = {{15, 6}, {9, 6}, {8, 6}, {7, 5}, {6, 5}, {5, 3}, {4, 3}, {3, 1}, {2, 0}, {1, 0}};
    for (auto& c : sizes) {
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(nulescape(in, 4, out, c.outsize), c.len) << c.outsize;
        EXPECT_EQ(std::memcmp(out, full, c.len), 0) << c.outsize;
        EXPECT_EQ(out[c.len], '\0');
        EXPECT_EQ(out[c.outsize], '#') << c.outsize;
    }
    char untouched[2] = {'#', '#'};
    EXPECT_EQ(nulescape(in, 4, untouched, 0), 0);
    EXPECT_EQ(nulescape(in, -1, untouched + 1, 1), 0);
    EXPECT_EQ(untouched[0], '#');
    EXPECT_EQ(untouched[1], '\0');

    struct {
        const char* src;
        int maxlen;
        std::vector<uint8_t> out;
    } decodes[] = {{full, 100, {0x00, 0xFE, 0xFF, 0x41}},
                   {full, 5, {0x00, 0xFE, 0xFF}},
                   {full, 4, {0x00, 0xFE}}, // the pair at 3..4 would cross the limit
                   {full, 1, {0x00}},
                   {full, 0, {}},
                   {"\x01\x05\x01", 10, {0x03}}, // stray escapes are dropped
                   {"\x01\x01\x01", 10, {0xFE}},
                   {"", 10, {}}};
    for (auto& c : decodes) {
        uint8_t out[16];
        std::memset(out, 0xAA, sizeof out);
        int n = nulunescape(c.src, out, c.maxlen);
        ASSERT_EQ(n, int(c.out.size())) << c.maxlen;
        EXPECT_TRUE(std::equal(c.out.begin(), c.out.end(), out)) << c.maxlen;
        EXPECT_EQ(out[n], 0xAA);
    }
}

TEST(Bits, NulEscapeRoundTrip) {
    std::mt19937 rng(4);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> data(rng() % 200);
        for (auto& b : data) b = uint8_t(rng() % 4 == 0 ? 0xFC + rng() % 4 : rng());
        int outsize = int(data.size() * 2 + 1);
        std::vector<char> enc(outsize);
        int len = nulescape(data.data(), int(data.size()), enc.data(), outsize);
        ASSERT_EQ(len, int(std::strlen(enc.data())));
        std::vector<uint8_t> dec(data.size() + 1);
        int n = nulunescape(enc.data(), dec.data(), int(data.size()));
        // The limit counts source bytes, so a length of data.size() may stop early;
        // the full encoded length never does.
        EXPECT_LE(n, int(data.size()));
        n = nulunescape(enc.data(), dec.data(), len);
        ASSERT_EQ(n, int(data.size()));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), dec.begin()));
    }
}

TEST(Quotedupnew, DoublesSingleQuotes) {
    const char* cases[][2] = {{"", ""}, {"it's", "it''s"}, {"''", "''''"}, {"a\"b", "a\"b"}};
    for (auto& c : cases) {
        char* out = reinterpret_cast<char*>(1);
        EXPECT_EQ(quotedupnew(c[0], out), static_cast<int>(std::strlen(c[1])));
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out, c[1]);
        std::free(out);
    }
    char* out = reinterpret_cast<char*>(1);
    util_failalloc(0);
    EXPECT_EQ(quotedupnew("it's", out), -1);
    util_failalloc(-1);
    EXPECT_EQ(out, nullptr);
}
