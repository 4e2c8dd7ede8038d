// SPDX-License-Identifier: MIT
// Builders from HTML attributes, template references, delimited lists,
// separated records and regular-expression group names.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Every entry as "key=value", sorted and joined with '|'; "<null>" for null.
// The table is freed.
std::string dump(aaContext* table) {
    if (table == nullptr) return "<null>";
    std::set<std::string> entries;
    const char* key = nullptr;
    aarewind(table);
    while (void* value = aanext(table, key))
        entries.insert(key + ("=" + std::string(static_cast<const char*>(value))));
    aafree(table);
    std::string out;
    for (const std::string& e : entries) out += (out.empty() ? "" : "|") + e;
    return out;
}

// The texts of a list (none for null); the list is freed.
std::vector<std::string> texts(char** list) {
    std::vector<std::string> out;
    for (char** p = list; p != nullptr && *p != nullptr; p++) out.push_back(*p);
    strlistfree(list);
    return out;
}

// A list of texts joined with '|', "<null>" for null; the list is freed.
std::string take(char** list) {
    if (list == nullptr) return "<null>";
    std::string out;
    for (const std::string& text : texts(list)) out += text + "|";
    return out.substr(0, out.empty() ? 0 : out.size() - 1);
}

// Runs htmlattr2aa on a copy of html, which must come back unchanged.
std::string attrs(const char* html, const char* nameattr = nullptr,
                  const char* valueattr = nullptr) {
    std::string text = html, n = nameattr ? nameattr : "", v = valueattr ? valueattr : "";
    aaContext* table = aacreate();
    EXPECT_EQ(
        0, htmlattr2aa(table, &text[0], nameattr ? &n[0] : nullptr, valueattr ? &v[0] : nullptr));
    EXPECT_EQ(html, text);
    return dump(table);
}

TEST(HtmlAttr2aa, StoresNameValuePairsAndRestoresTheText) {
    EXPECT_EQ("a=b", attrs("<meta id=a content=b>", "id", "content"));
    const char* cases[][2] = {
        {"<input name='user-id' value='7'><input NAME=x><p>", "userid=7|x="},
        {"<a name=k value=1><a name=k value=2>", "k=2"},
        {"<a value=1>", ""},
        {"<a name=\"a.b c\" value='x&lt;y'>", "abc=x<y"},
        {"<a <b name=n> value=v>", "n="},
        {"name=n value=v>", ""},
        {"<a name=n value=v", ""},
        {"<a name=n value=v>>", "n=v"},
        {"", ""},
    };
    for (auto& c : cases) EXPECT_EQ(c[1], attrs(c[0])) << c[0];
}

TEST(HtmlAttr2aa, FailedStoresAreReportedAndTheRestStored) {
    // A pair lost to a failed copy is never reported as success.
    std::string got;
    for (int n = 0; n < 200 && got != "a=1|b=|c=3"; n++) {
        std::string text = "<i name=a value=1><i name=b><i name=c value=3>";
        aaContext* table = aacreate();
        util_failalloc(n);
        int result = htmlattr2aa(table, &text[0]);
        util_failalloc(-1);
        EXPECT_EQ("<i name=a value=1><i name=b><i name=c value=3>", text);
        got = dump(table);
        EXPECT_EQ(got == "a=1|b=|c=3" ? 0 : -1, result) << got;
    }
    EXPECT_EQ("a=1|b=|c=3", got);
}

TEST(KeyList, CollectsReferenceNames) {
    const char* cases[][2] = {
        {"Hello $name, your id is $id$x.", "id=|name=|x="},
        {"$", "="},
        {"$a$$b$", "=|a=|b="},
        {"$a_b $A", "A=|a="},
        {"no refs", ""},
    };
    for (auto& c : cases) {
        std::string src = c[0];
        aaContext* table = aacreate();
        keylist(&src[0], table);
        EXPECT_EQ(c[1], dump(table)) << c[0];
        EXPECT_EQ(c[0], src);
    }
}

TEST(List2aa, MakesACaseInsensitiveSetOfTrimmedWords) {
    char text[] = "red, Green ,blue,red", cased[] = "Red;RED\n", none[] = ",,,";
    aaContext* table = list2aa(",", text);
    EXPECT_STREQ("Green", static_cast<char*>(aaget(table, "GREEN")));
    EXPECT_EQ("Green=Green|blue=blue|red=red", dump(table));
    EXPECT_EQ("RED=RED", dump(list2aa(";", cased)));
    EXPECT_EQ("", dump(list2aa(",", none)));

    // Out of memory: null and nothing leaked, whichever allocation fails.
    std::string got = "<null>";
    for (int n = 0; n < 100 && got == "<null>"; n++) {
        char words[] = "a,b,c";
        util_failalloc(n);
        aaContext* made = list2aa(",", words);
        util_failalloc(-1);
        got = dump(made);
    }
    EXPECT_EQ("a=a|b=b|c=c", got);
}

TEST(CsvSplit, SplitsQuotedAndUnquotedFields) {
    const char* cases[][3] = {
        {",", "a,b,c", "a|b|c"},
        {",", "a, \r\n", "a|"},
        {",", ",", "|"},
        {",", "\"x,y\",z", "x,y|z"},
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
        {"", "a,b", "a,b"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c[2], take(csvsplit(c[0], c[1]))) << "[" << c[0] << "] " << c[1];
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
            std::string quoted;
            for (int i = random() % 6; i > 0; i--) field += alphabet[random() % 8];
            for (char ch : field) quoted += ch == '"' ? "\"\"" : std::string(1, ch);
            record += (record.empty() ? "\"" : ",\"") + quoted + "\"";
        }
        EXPECT_EQ(fields, texts(csvsplit(",", record.c_str()))) << record;
    }
}

TEST(CsvSplit, OutOfMemoryGivesNull) {
    for (int n = 0; n < 4; n++) {
        util_failalloc(n);
        EXPECT_EQ(nullptr, csvsplit(",", "a,\"b\","));
        util_failalloc(n);
        EXPECT_EQ(-1, csvcount(",", "a,\"b\","));
        util_failalloc(-1);
    }
}

TEST(RegexGroups, ListsNamedGroups) {
    const char* cases[][2] = {
        {"(?<year>[0-9]+)-(?<month>[0-9]+)", "year|month"},
        {"\\(?<no>x)(?<=y)(?<!z)(?<my_id>q)", ""},
        {"(?<a(?<b>)", "b"},
        {"(?<1x>)(?<", "1x"},
        {"", ""},
    };
    for (auto& c : cases) EXPECT_EQ(c[1], take(regexgroups(c[0]))) << c[0];

    std::string many;
    for (int i = 0; i < 450; i++) many += "(?<g" + std::to_string(i) + ">.)";
    std::vector<std::string> names = texts(regexgroups(many.c_str()));
    ASSERT_EQ(400u, names.size());
    EXPECT_EQ("g399", names.back());

    for (int n = 0; n < 3; n++) {
        util_failalloc(n);
        EXPECT_EQ(nullptr, regexgroups("(?<a>)(?<b>)"));
        util_failalloc(-1);
    }
}

TEST(BuildersDeathTest, RequiredPointers) {
    char html[] = "<a>";
    EXPECT_DEATH(
        htmlattr2aa(nullptr, html),
        "int htmlattr2aa\\(aaContext ?\\*, char ?\\*, char ?\\*, char ?\\*\\).*aa != __null");
    aaContext* table = aacreate();
    EXPECT_DEATH(keylist(nullptr, table),
                 "void keylist\\(char ?\\*, aaContext ?\\*\\).*src != __null && varlist != __null");
    EXPECT_DEATH(keylist(html, nullptr), "varlist != __null");
    aafree(table);
}

} // namespace
