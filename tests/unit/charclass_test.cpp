// Character classes, in-place filters, quote removal, quote doubling,
// escaping and URL form encoding.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {
// A heap block of exactly `size` bytes holding text, so that the sanitizer
// build reports any write past the size the routine was given.
char* exact(const std::string& text, size_t size) {
    char* buf = static_cast<char*>(std::malloc(size));
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return buf;
}

std::string randomtext(std::mt19937& rng, const std::string& pool, int maxlen) {
    std::string out;
    int n = static_cast<int>(rng() % (maxlen + 1));
    for (int i = 0; i < n; ++i) out.push_back(pool[rng() % pool.size()]);
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
    struct Case {
        const char* text;
        bool safepath, printable, pathtext, hostname, letter, alnum;
    } cases[] = {{"", true, true, true, true, false, true},
                 {"a/b.txt", true, true, true, false, true, false},
                 {"x.y.z", true, true, true, true, true, false},
                 {".a", false, true, true, false, true, false},
                 {"a.", false, true, true, true, true, false},
                 {"a..b", false, true, true, true, true, false},
                 {"../a", false, true, true, false, true, false},
                 {"a/../b", false, true, true, false, true, false},
                 {"c:x", false, true, false, false, true, false},
                 {"a*b", false, true, false, false, true, false},
                 {"a?b", false, true, false, false, true, false},
                 {"a\\b", false, true, true, false, true, false},
                 {"host-1.example", true, true, true, true, true, false},
                 {"-a", true, true, true, false, true, false},
                 {"a-", true, true, true, false, true, false},
                 {"a-.b", true, true, true, false, true, false},
                 {"a.-b", true, true, true, true, true, false},
                 {"a_b", true, true, true, false, true, false},
                 {"a b", true, true, false, false, true, false},
                 {"user@x+y", true, true, true, false, true, false},
                 {"Abc123", true, true, true, true, true, true},
                 {"123", true, true, true, true, false, true},
                 {"tab\there", true, false, false, false, true, false},
                 {"\x7F", true, false, false, false, false, false},
                 {"caf\xC3\xA9", true, false, false, false, true, false},
                 {"~!", true, true, false, false, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(issafepath(c.text), c.safepath) << c.text;
        EXPECT_EQ(isprintable(c.text), c.printable) << c.text;
        EXPECT_EQ(ispathtext(c.text), c.pathtext) << c.text;
        EXPECT_EQ(ishostname(c.text), c.hostname) << c.text;
        EXPECT_EQ(hasletter(c.text), c.letter) << c.text;
        EXPECT_EQ(isalnumstr(c.text), c.alnum) << c.text;
    }
    // A missing text is in no class.
    EXPECT_FALSE(issafepath(nullptr) || isprintable(nullptr) || ispathtext(nullptr) ||
                 ishostname(nullptr) || hasletter(nullptr) || isalnumstr(nullptr));
}

TEST(CharClass, InPlaceFilters) {
    struct Case {
        std::string text, bidi, unsafe, ident;
    } cases[] = {
        {"", "", "", ""},
        {"a\xE2\x80\xAE"
         "b",
         "ab", "ab", "ab"},
        {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2"
         "\x81\xA9",
         "", "", ""},
        // U+2029, U+20AC, U+2069's neighbours and a cut-off sequence are kept.
        {"x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80",
         "x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80", "x", "x"},
        {"my-file.b7/x y!", "my-file.b7/x y!", "my-file.b7/x y", "my_file_b7_x_y"},
        {"a+b,c@d_e\t;<>'\"", "a+b,c@d_e\t;<>'\"", "a+b,c@d_e", "abcd_e"}};
    for (const auto& c : cases) {
        std::string t = c.text;
        EXPECT_EQ(stripbidi(&t[0]), static_cast<int>(c.bidi.size()));
        EXPECT_EQ(std::string(t.c_str()), c.bidi);
        t = c.text;
        EXPECT_EQ(stripunsafe(&t[0]), static_cast<int>(c.unsafe.size()));
        EXPECT_EQ(std::string(t.c_str()), c.unsafe);
        t = c.text;
        EXPECT_EQ(makeident(&t[0]), static_cast<int>(c.ident.size()));
        EXPECT_EQ(std::string(t.c_str()), c.ident);
    }
}

TEST(CharClass, StripQuote) {
    struct Case {
        const char* text;
        char quote;
        int offset; // where the result points, -1 for text itself
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
        if (c.offset < 0) {
            EXPECT_EQ(t, c.text);
        }
    }
}

TEST(CharClass, QuoteDoublingIntoBuffer) {
    struct Case {
        const char* src;
        int count; // -1: quotedup
        int size;
        const char* want;
    } cases[] = {{"it's", -1, 10, "it''s"}, {"it's", -1, 4, "it"},    {"it's", -1, 5, "it''"},
                 {"''", -1, 5, "''''"},     {"''", -1, 4, "''"},      {"abc", -1, 1, ""},
                 {"abc", -1, 0, nullptr},   {"abc", -1, -3, nullptr}, {"it's", 3, 10, "it''"},
                 {"it's", 0, 10, ""},       {"", 5, 10, ""},          {"ab", 99, 10, "ab"}};
    for (const auto& c : cases) {
        char dst[12];
        std::memset(dst, '#', sizeof dst);
        int n = c.count < 0 ? quotedup(c.src, dst, c.size) : quotedupn(c.src, c.count, dst, c.size);
        if (c.want == nullptr) {
            // A size below 1 leaves the buffer alone.
            EXPECT_EQ(n, 0);
            EXPECT_EQ(dst[0], '#');
            continue;
        }
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.want))) << c.src << " " << c.size;
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
                 {false, "'x'", 5, "''x "},
                 {false, "'x'", 6, "''x''"},
                 {false, "", 1, ""},
                 {false, "a'b", 0, "a'b"},
                 {true, "a<b", 10, "a&lt;b"},
                 {true, "a<b", 6, "a b"},
                 {true, "a<b", 7, "a&lt;b"},
                 {true, "a\\b", 10, "a\\\\b"},
                 {true, "it's", 6, "it\\'s"},
                 {true, "it's", 5, "it s"},
                 {true, "<>", 10, "&lt;&gt;"},
                 {true, "<>", 6, "&lt; "},
                 {true, "'<", 5, "\\' "},
                 {true, "a<b", -1, "a<b"},
                 // A text already longer than its size keeps no unescaped character.
                 {true, "a<'b", 2, "a  b"}};
    for (const auto& c : cases) {
        char buf[16] = {};
        std::strcpy(buf, c.text);
        char* r = c.escape ? escapeinplace(buf, c.size) : quotedupin(buf, c.size);
        EXPECT_EQ(r, buf);
        EXPECT_STREQ(buf, c.want) << c.text << " " << c.size;
    }
}

TEST(CharClass, UrlEncoding) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {{"a b&c~", "a+b%26c~"},
                 {"\xE9", "%E9"},
                 {"", ""},
                 {"AZaz09-._", "AZaz09-._"},
                 {"/?=%+\n", "%2F%3F%3D%25%2B%0A"},
                 {"\x01\x7F\xFF", "%01%7F%FF"}};
    for (const auto& c : cases) {
        int len = -1;
        char* r = urlencode(c.text, len);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(r, c.want);
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.want)));
        std::free(r);
        r = urlencodestr(c.text);
        EXPECT_STREQ(r, c.want);
        std::free(r);
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
        std::string text = randomtext(rng, pool, 20);
        int size = static_cast<int>(text.size()) + 1 + static_cast<int>(rng() % 12);

        char* buf = exact(text, size);
        quotedupin(buf, size);
        std::string out = buf;
        ASSERT_LT(out.size(), static_cast<size_t>(size)) << text;
        // Quotes only ever come in doubled pairs.
        for (size_t k = 0; k < out.size(); ++k) {
            if (out[k] != '\'') continue;
            ASSERT_EQ(out[k + 1], '\'') << text << " -> " << out;
            ++k;
        }
        std::free(buf);

        buf = exact(text, size);
        escapeinplace(buf, size);
        out = buf;
        ASSERT_LT(out.size(), static_cast<size_t>(size)) << text;
        ASSERT_EQ(out.find_first_of("<>"), std::string::npos) << out;
        // Every quote and backslash is escaped by a backslash before it.
        for (size_t k = 0; k < out.size(); ++k) {
            ASSERT_NE(out[k], '\'') << text << " -> " << out;
            if (out[k] == '\\') {
                ASSERT_TRUE(out[k + 1] == '\\' || out[k + 1] == '\'') << out;
                ++k;
            }
        }
        std::free(buf);

        size = static_cast<int>(text.size()) + 1;
        buf = exact(text, size);
        char* r = stripquote(buf, rng() % 2 ? '"' : '\'');
        ASSERT_TRUE(r >= buf && r <= buf + text.size());
        ASSERT_LE(std::strlen(r), text.size() - (r - buf));
        std::free(buf);

        int (*filters[])(char*) = {stripbidi, stripunsafe, makeident};
        for (auto filter : filters) {
            buf = exact(text, size);
            int n = filter(buf);
            ASSERT_EQ(n, static_cast<int>(std::strlen(buf))) << text;
            ASSERT_LE(n, static_cast<int>(text.size()));
            std::free(buf);
        }
    }
}

TEST(CharClassDeathTest, StripQuotePreconditions) {
    char text[] = "\"a\"";
    EXPECT_DEATH(stripquote(nullptr, '"'), "stripquote");
    EXPECT_DEATH(stripquote(text, '\0'), "quote");
}
