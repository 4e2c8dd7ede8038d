// SPDX-License-Identifier: MIT
// Attribute values of tag text, entities and HTML escaping.
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

// A text, a size or length, and the result.
struct Counted {
    const char* src;
    int n;
    const char* want;
};

TEST(HtmlTagValue, FindsDecodesAndDelimitsValues) {
    const char* cases[][3] = {
        {"a href='x&quot;y' title=z", "href", "x\"y"},
        {"title=\"alt=1\" alt=2", "alt", "2"},
        {"name = 'v'", "name", "v"},
        {"name=='v'", "name", "v"},
        {"name = = x", "name", "="},
        {"name='abc", "name", "abc"},
        {"name", "name", "<null>"},
        {"name=\"a b\"", "name", "a b"},
        {"data-id=5 id=3", "id", "5"},
        {"NAME=Up", "name", "Up"},
        {"name=", "name", ""},
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
    for (auto& c : cases) {
        EXPECT_EQ(c[2], take(htmltagvalue(c[0], c[1], static_cast<int>(strlen(c[1])))))
            << c[0] << " / " << c[1];
    }
    // A keylen longer than the text never steps past its end.
    EXPECT_EQ("<null>", take(htmltagvalue("ab", "ab", 50)));
    EXPECT_EQ("<null>", take(htmltagvalue(nullptr, "ab", 2)));
}

TEST(HtmlEscape, EscapesAndTruncatesAtWholePieces) {
    EXPECT_EQ("a&lt;b &amp; &quot;c&quot;'&gt;", take(htmlescape("a<b & \"c\"'>")));
    EXPECT_EQ("", take(htmlescape("")));
    const Counted cases[] = {
        {"a<b", 6, "a&lt;"}, {"a<b", 5, "a"},     {"a<b", 1, ""}, {"a<b", 7, "a&lt;b"},
        {"\"", 6, ""},       {"\"", 7, "&quot;"}, {"ab", 2, "a"}, {"", 4, ""},
    };
    for (const Counted& c : cases) {
        char buf[16];
        memset(buf, 'Z', sizeof buf);
        htmlescapebuf(c.src, buf, c.n);
        EXPECT_STREQ(c.want, buf) << c.src << " size " << c.n;
        EXPECT_EQ('Z', buf[c.n]) << "written past the size";
    }
    char untouched[4] = "xyz";
    htmlescapebuf("a<b", untouched, 0);
    EXPECT_STREQ("xyz", untouched);
}

TEST(HtmlUnescape, DecodesNamedEntitiesOnly) {
    const char* cases[][2] = {
        {"x &AMP; &Apos; &nbsp;&foo; &lt;&gt;&quot; & &amp;lt;", "x & '  &foo; <>\" & &lt;"},
        {"&&lt;&amp", "&<&amp"},
        {"", ""},
    };
    for (auto& c : cases) {
        std::string text = c[0];
        EXPECT_EQ(static_cast<int>(strlen(c[1])), htmlunescape(&text[0]));
        EXPECT_STREQ(c[1], text.c_str());
    }
    EXPECT_EQ(0, htmlunescape(nullptr));
}

TEST(HtmlUnescapeN, DecodesThreeEntitiesInACountedRun) {
    const Counted cases[] = {
        {"&lt;&GT;&quot;&amp;&nbsp;", 25, "<>\"&amp;&nbsp;"},
        {"ab&lt;cd", 3, "ab<"}, // an entity begun inside the run is taken whole
        {"ab&lt;cd", 2, "ab"},
        {"a&l", 3, "a&l"},
        {"abc", 0, ""},
        {"abc", -4, ""},
        {"ab", 40, "ab"}, // the run ends at the text's NUL even when len says more
    };
    for (const Counted& c : cases) EXPECT_EQ(c.want, take(htmlunescapen(c.src, c.n))) << c.src;
}

TEST(HtmlDeathTest, RequiredPointers) {
    EXPECT_DEATH(htmltagvalue("a=b", nullptr, 1), "htmltagvalue.*key != NULL");
    EXPECT_DEATH(htmlescape(nullptr), "htmlescape.*src != NULL");
}

} // namespace
