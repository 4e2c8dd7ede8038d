// Attribute values of tag text, entities, HTML escaping and case-insensitive search.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Result of an allocating call as a string ("<null>" for null), freed.
std::string take(char* text) {
    std::string s = text != nullptr ? text : "<null>";
    std::free(text);
    return s;
}

TEST(HtmlTagValue, FindsDecodesAndDelimitsValues) {
    struct Case {
        const char* html;
        const char* key;
        const char* want;
    } cases[] = {
        {"a href='x&quot;y' title=z", "href", "x\"y"},
        {"a href='x&quot;y' title=z", "title", "z"},
        {"a href='x&quot;y' title=z", "id", "<null>"},
        {"title=\"alt=1\" alt=2", "alt", "2"},
        {"name = 'v'", "name", "v"},
        {"name=='v'", "name", "v"},
        {"name = = x", "name", "="},
        {"name='", "name", ""},
        {"name='abc", "name", "abc"},
        {"name", "name", "<null>"},
        {"name=\"a b\"", "name", "a b"},
        {"data-id=5 id=3", "id", "5"},
        {"NAME=Up", "name", "Up"},
        {"name=", "name", ""},
        {"name= ", "name", ""},
        {"name=\t\r\nv w", "name", "v"},
        {"name=a&lt;b&gt;&QUOT;&amp;", "name", "a<b>\"&amp;"},
        // An entity cut by the end of the value stays as it is.
        {"name='a&lt' x;", "name", "a&lt"},
        {"name=a&quot", "name", "a&quot"},
        {"\"name=1\"", "name", "<null>"},
        {"", "name", "<null>"},
        {"x", "", "<null>"},
        {"=v", "", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.html) + " / " + c.key);
        EXPECT_EQ(c.want, take(htmltagvalue(c.html, c.key, static_cast<int>(strlen(c.key)))));
    }
    // A keylen longer than the text never steps past its end.
    EXPECT_EQ("<null>", take(htmltagvalue("ab", "ab", 50)));
    EXPECT_EQ("<null>", take(htmltagvalue(nullptr, "ab", 2)));
}

TEST(HtmlEscape, EscapesAndTruncatesAtWholePieces) {
    EXPECT_EQ("a&lt;b &amp; &quot;c&quot;'&gt;", take(htmlescape("a<b & \"c\"'>")));
    EXPECT_EQ("", take(htmlescape("")));

    struct Case {
        const char* src;
        size_t size;
        const char* want;
    } cases[] = {
        {"a<b", 6, "a&lt;"}, {"a<b", 5, "a"},     {"a<b", 1, ""}, {"a<b", 7, "a&lt;b"},
        {"\"", 6, ""},       {"\"", 7, "&quot;"}, {"ab", 2, "a"}, {"", 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.src) + " size " + std::to_string(c.size));
        char buf[16];
        memset(buf, 'Z', sizeof buf);
        htmlescapebuf(c.src, buf, c.size);
        EXPECT_STREQ(c.want, buf);
        // Nothing is written past the size the caller gave.
        EXPECT_EQ('Z', buf[c.size]);
    }
    char untouched[4] = "xyz";
    htmlescapebuf("a<b", untouched, 0);
    EXPECT_STREQ("xyz", untouched);
}

TEST(HtmlUnescape, DecodesNamedEntitiesOnly) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"x &AMP; &Apos; &nbsp;&foo; &", "x & '  &foo; &"},
        {"&lt;&gt;&quot;&amp;", "<>\"&"},
        {"&amp;lt;", "&lt;"},
        {"&amp", "&amp"},
        {"&&lt;", "&<"},
        {"&lt", "&lt"},
        {"&apos", "&apos"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        int length = htmlunescape(&text[0]);
        EXPECT_STREQ(c.want, text.c_str());
        EXPECT_EQ(static_cast<int>(strlen(c.want)), length);
    }
    EXPECT_EQ(0, htmlunescape(nullptr));
}

TEST(HtmlUnescapeN, DecodesThreeEntitiesInACountedRun) {
    struct Case {
        const char* src;
        int len;
        const char* want;
    } cases[] = {
        {"&lt;&GT;&quot;&amp;&nbsp;", 25, "<>\"&amp;&nbsp;"},
        {"ab&lt;cd", 3, "ab<"}, // an entity begun inside the run is taken whole
        {"ab&lt;cd", 2, "ab"},
        {"a&l", 3, "a&l"},
        {"abc", 0, ""},
        {"abc", -4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        EXPECT_EQ(c.want, take(htmlunescapen(c.src, c.len)));
    }
    // The run ends at the text's NUL even when len says more.
    char shortbuf[3] = {'a', 'b', '\0'};
    EXPECT_EQ("ab", take(htmlunescapen(shortbuf, 40)));
}

TEST(HtmlSearch, StristrAndOutsideQuotes) {
    struct Case {
        const char* text;
        const char* needle;
        int at;  // -1: none
        int end; // -1: none
    } cases[] = {
        {"xxabcx", "ABC", 2, 5},  {"aaab", "aab", 1, 4}, {"abc", "", 0, 0},
        {"abc", "abcd", -1, -1},  {"", "a", -1, -1},     {"aXa", "xA", 1, 3},
        {"\xe9", "\xc9", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.needle);
        const char* at = stristr(c.text, c.needle);
        const char* end = stristrend(c.text, c.needle);
        EXPECT_EQ(c.at, at != nullptr ? at - c.text : -1);
        EXPECT_EQ(c.end, end != nullptr ? end - c.text : -1);
    }

    const char* text = "\"ab\"x";
    EXPECT_FALSE(outsidequotes(text, text + 1));
    EXPECT_FALSE(outsidequotes(text, text)); // the opening quote counts
    EXPECT_TRUE(outsidequotes(text, text + 3));
    EXPECT_TRUE(outsidequotes(text, text + 4));
    EXPECT_FALSE(outsidequotes(text, text + 5)); // the NUL
    EXPECT_FALSE(outsidequotes(text + 1, text));
    EXPECT_FALSE(outsidequotes("", ""));
}

TEST(HtmlDeathTest, RequiredPointers) {
    EXPECT_DEATH(htmltagvalue("a=b", nullptr, 1), "htmltagvalue.*key != NULL");
    EXPECT_DEATH(htmlescape(nullptr), "htmlescape.*src != NULL");
}

} // namespace
