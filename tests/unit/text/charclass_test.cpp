// Character classes, in-place filters, quote removal, quote doubling,
// escaping and URL form encoding.
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

TEST(CharClass, TokenCharacterTable) {
    const std::string members = "!\"#$%&'*+-.^_`{|}~0123456789"
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (int b = 0; b < 256; ++b) {
        char ch = static_cast<char>(b);
        bool member = b != 0 && members.find(ch) != std::string::npos;
        EXPECT_EQ(istokenchar(ch), member) << b;
    }
}

TEST(CharClass, WholeTextTests) {
    // Flags, in order: safe path, printable, path text, host name, has a letter, alphanumeric.
    struct Case {
        const char* flags;
        std::vector<const char*> texts;
    } cases[] = {{"TTTT-T", {"", "123"}},
                 {"------", {nullptr}}, // a missing text is in no class
                 {"TTT-T-", {"a/b.txt", "-a", "a-", "a-.b", "a_b", "user@x+y"}},
                 {"TTTTT-", {"x.y.z", "host-1.example", "a.-b"}},
                 {"-TT-T-", {".a", "../a", "a/../b", "a\\b"}},
                 {"-TTTT-", {"a.", "a..b"}},
                 {"-T--T-", {"c:x", "a*b", "a?b"}},
                 {"TT--T-", {"a b"}},
                 {"TTTTTT", {"Abc123"}},
                 {"T---T-", {"tab\there", "caf\xC3\xA9"}},
                 {"T-----", {"\x7F"}},
                 {"TT----", {"~!"}}};
    for (const auto& c : cases)
        for (const char* t : c.texts) {
            std::string got;
            for (bool b : {issafepath(t), isprintable(t), ispathtext(t), ishostname(t),
                           hasletter(t), isalnumstr(t)})
                got += b ? 'T' : '-';
            EXPECT_EQ(got, c.flags) << t;
        }
}

TEST(CharClass, InPlaceFilters) {
    int (*filters[])(char*) = {stripbidi, stripunsafe, makeident};
    struct Case {
        std::string text, want[3]; // by stripbidi, stripunsafe, makeident
    } cases[] = {
        {"", {"", "", ""}},
        {"a\xE2\x80\xAE"
         "b",
         {"ab", "ab", "ab"}},
        {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2"
         "\x81\xA9",
         {"", "", ""}},
        // U+2029, U+20AC, U+2069's neighbours and a cut-off sequence are kept.
        {"x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80",
         {"x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80", "x", "x"}},
        {"my-file.b7/x y!", {"my-file.b7/x y!", "my-file.b7/x y", "my_file_b7_x_y"}},
        {"a+b,c@d_e\t;<>'\"", {"a+b,c@d_e\t;<>'\"", "a+b,c@d_e", "abcd_e"}}};
    for (const auto& c : cases)
        for (int f = 0; f < 3; ++f) {
            std::string t = c.text;
            EXPECT_EQ(filters[f](&t[0]), static_cast<int>(c.want[f].size())) << f;
            EXPECT_EQ(t.c_str(), c.want[f]) << f;
        }
}

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

TEST(CharClass, UrlEncoding) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {{"a b&c~", "a+b%26c~"},
                 {"", ""},
                 {"AZaz09-._", "AZaz09-._"},
                 {"/?=%+\n", "%2F%3F%3D%25%2B%0A"},
                 {"\x01\x7F\xE9\xFF", "%01%7F%E9%FF"}};
    for (const auto& c : cases) {
        int len = -1;
        std::unique_ptr<char, void (*)(void*)> r(urlencode(c.text, len), std::free),
            r2(urlencodestr(c.text), std::free);
        EXPECT_STREQ(r.get(), c.want);
        EXPECT_STREQ(r2.get(), c.want);
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.want)));
    }
    util_failalloc(0);
    int len = -1;
    char* r = urlencode("abc", len);
    util_failalloc(-1);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(len, 0);
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
