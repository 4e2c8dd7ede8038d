// Builders from HTML attributes, template references, delimited lists,
// separated records and regular-expression group names.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// Every entry as "key=value", sorted and joined with '|'.
std::string dump(aaContext* table) {
    std::vector<std::string> entries;
    aarewind(table);
    const char* key = nullptr;
    while (void* value = aanext(table, key))
        entries.push_back(std::string(key) + "=" + static_cast<const char*>(value));
    std::sort(entries.begin(), entries.end());
    std::string out;
    for (const std::string& e : entries) out += (out.empty() ? "" : "|") + e;
    return out;
}

// A list of texts joined with '|', "<null>" for null; the list is freed.
std::string take(char** list) {
    if (list == nullptr) return "<null>";
    std::string out;
    for (char** p = list; *p != nullptr; p++) out += (p == list ? "" : "|") + std::string(*p);
    strlistfree(list);
    return out;
}

TEST(HtmlAttr2aa, StoresNameValuePairsAndRestoresTheText) {
    struct Case {
        const char* html;
        const char* nameattr; // null: default
        const char* valueattr;
        const char* want;
    } cases[] = {
        {"<input name='user-id' value='7'><input NAME=x><p>", nullptr, nullptr, "userid=7|x="},
        {"<meta id=a content=b>", "id", "content", "a=b"},
        {"<a name=k value=1><a name=k value=2>", nullptr, nullptr, "k=2"},
        {"<a value=1>", nullptr, nullptr, ""},
        {"<a name=\"a.b c\" value='x&lt;y'>", nullptr, nullptr, "abc=x<y"},
        {"<a <b name=n> value=v>", nullptr, nullptr, "n="},
        {"name=n value=v>", nullptr, nullptr, ""},
        {"<a name=n value=v", nullptr, nullptr, ""},
        {"<a name=n value=v>>", nullptr, nullptr, "n=v"},
        {"", nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        std::string html = c.html;
        std::string nameattr = c.nameattr != nullptr ? c.nameattr : "";
        std::string valueattr = c.valueattr != nullptr ? c.valueattr : "";
        aaContext* table = aacreate();
        ASSERT_NE(nullptr, table);
        EXPECT_EQ(0, htmlattr2aa(table, &html[0], c.nameattr ? &nameattr[0] : nullptr,
                                 c.valueattr ? &valueattr[0] : nullptr));
        EXPECT_EQ(c.want, dump(table));
        EXPECT_EQ(c.html, html);
        aafree(table);
    }
}

TEST(HtmlAttr2aa, FailedStoresAreReportedAndTheRestStored) {
    const char* text = "<i name=a value=1><i name=b><i name=c value=3>";
    bool done = false;
    for (int n = 0; n < 200 && !done; n++) {
        std::string html = text;
        aaContext* table = aacreate();
        ASSERT_NE(nullptr, table);
        util_failalloc(n);
        int result = htmlattr2aa(table, &html[0]);
        util_failalloc(-1);
        EXPECT_EQ(text, html);
        // A pair lost to a failed copy is never reported as success.
        done = result == 0;
        EXPECT_EQ(done ? 0 : -1, result);
        if (done) {
            EXPECT_EQ("a=1|b=|c=3", dump(table));
        }
        aafree(table);
    }
    EXPECT_TRUE(done);
}

TEST(KeyList, CollectsReferenceNames) {
    struct Case {
        const char* src;
        const char* want;
    } cases[] = {
        {"Hello $name, your id is $id$x.", "id=|name=|x="},
        {"$", "="},
        {"a$ b", "="},
        {"$a$$b$", "=|a=|b="},
        {"$a_b $A", "A=|a="},
        {"no refs", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        std::string src = c.src;
        aaContext* table = aacreate();
        ASSERT_NE(nullptr, table);
        keylist(&src[0], table);
        EXPECT_EQ(c.want, dump(table));
        EXPECT_EQ(c.src, src);
        aafree(table);
    }
}

TEST(List2aa, MakesACaseInsensitiveSetOfTrimmedWords) {
    char text[] = "red, Green ,blue,red";
    aaContext* table = list2aa(",", text);
    ASSERT_NE(nullptr, table);
    EXPECT_EQ("Green=Green|blue=blue|red=red", dump(table));
    EXPECT_STREQ("Green", static_cast<char*>(aaget(table, "GREEN")));
    aafree(table);

    char cased[] = "Red;RED\n";
    table = list2aa(";", cased);
    ASSERT_NE(nullptr, table);
    EXPECT_EQ("RED=RED", dump(table));
    aafree(table);

    char none[] = ",,,";
    table = list2aa(",", none);
    ASSERT_NE(nullptr, table);
    EXPECT_EQ(0, aacount(table));
    aafree(table);

    // Out of memory: null and nothing leaked, whichever allocation fails.
    aaContext* made = nullptr;
    for (int n = 0; n < 100 && made == nullptr; n++) {
        char words[] = "a,b,c";
        util_failalloc(n);
        made = list2aa(",", words);
        util_failalloc(-1);
    }
    ASSERT_NE(nullptr, made);
    EXPECT_EQ("a=a|b=b|c=c", dump(made));
    aafree(made);
}

TEST(CsvSplit, SplitsQuotedAndUnquotedFields) {
    struct Case {
        const char* sep;
        const char* text;
        const char* want;
    } cases[] = {
        {",", "a,b,c", "a|b|c"},
        {",", "a,,b", "a||b"},
        {",", "a,", "a|"},
        {",", "a, \r\n", "a|"},
        {",", ",", "|"},
        {",", "\"x,y\",z", "x,y|z"},
        {",", "\"q\"", "q"},
        {",", "\"\"", ""},
        {",", "\"say\"\"hi\"\"\"", "say\"hi\""},
        {",", "  a b  ,  c", "a b|c"},
        {",", "\" a \" , b", " a |b"},
        {",", "\"a\"b\"\"c ,d", "a\"b\"c|d"},
        {",", "\"open, to end", "open, to end"},
        {",", "x\"y\",z", "x\"y\"|z"},
        {",", " \t ", "<null>"},
        {",", "", "<null>"},
        {";,", "a;b,c", "a|b,c"},
        {" ", "a  b", "a|b"},
        {" ", " a b", "a|b"},
        {"", "a,b", "a,b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.sep + "] " + c.text);
        EXPECT_EQ(c.want, take(csvsplit(c.sep, c.text)));
    }
    EXPECT_EQ(3, csvcount(",", "a,b,c"));
    EXPECT_EQ(-1, csvcount(",", ""));
    EXPECT_EQ(-1, csvcount(",", nullptr));
}

TEST(CsvSplit, QuotedFieldsComeBackExactly) {
    // Any fields written quoted, with inner quotes doubled, split back unchanged.
    std::mt19937 random(20261207);
    const char alphabet[] = "ab ,\"\r\n;";
    for (int round = 0; round < 500; round++) {
        std::vector<std::string> fields(1 + random() % 5);
        std::string record;
        for (std::string& field : fields) {
            for (int i = random() % 6; i > 0; i--) field += alphabet[random() % 8];
            std::string quoted;
            for (char ch : field) quoted += ch == '"' ? "\"\"" : std::string(1, ch);
            record += (record.empty() ? "\"" : ",\"") + quoted + "\"";
        }
        SCOPED_TRACE(record);
        char** list = csvsplit(",", record.c_str());
        ASSERT_NE(nullptr, list);
        ASSERT_EQ(fields.size(), strlistcount(list));
        for (size_t i = 0; i < fields.size(); i++) EXPECT_EQ(fields[i], list[i]);
        strlistfree(list);
    }
}

TEST(CsvSplit, OutOfMemoryGivesNull) {
    for (int n = 0; n < 4; n++) {
        util_failalloc(n);
        char** list = csvsplit(",", "a,\"b\",");
        util_failalloc(-1);
        EXPECT_EQ(nullptr, list);
        util_failalloc(n);
        EXPECT_EQ(-1, csvcount(",", "a,\"b\","));
        util_failalloc(-1);
    }
}

TEST(RegexGroups, ListsNamedGroups) {
    struct Case {
        const char* pattern;
        const char* want;
    } cases[] = {
        {"(?<year>[0-9]+)-(?<month>[0-9]+)", "year|month"},
        {"\\(?<no>x)(?<=y)(?<!z)(?<my_id>q)", ""},
        {"(?<a(?<b>)", "b"},
        {"(?<1x>)(?<", "1x"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(c.want, take(regexgroups(c.pattern)));
    }

    std::string many;
    for (int i = 0; i < 450; i++) many += "(?<g" + std::to_string(i) + ">.)";
    char** list = regexgroups(many.c_str());
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(400u, strlistcount(list));
    EXPECT_STREQ("g399", list[399]);
    strlistfree(list);

    for (int n = 0; n < 3; n++) {
        util_failalloc(n);
        list = regexgroups("(?<a>)(?<b>)");
        util_failalloc(-1);
        EXPECT_EQ(nullptr, list);
    }
}

TEST(BuildersDeathTest, RequiredPointers) {
    char html[] = "<a>";
    EXPECT_DEATH(htmlattr2aa(nullptr, html),
                 "int htmlattr2aa\\(aaContext\\*, char\\*, char\\*, char\\*\\).*aa != __null");
    aaContext* table = aacreate();
    EXPECT_DEATH(keylist(nullptr, table),
                 "void keylist\\(char\\*, aaContext\\*\\).*src != __null && varlist != __null");
    EXPECT_DEATH(keylist(html, nullptr), "varlist != __null");
    aafree(table);
}

} // namespace
