// INI text into an aaContext, and cutting sections out of INI text.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

TEST(Ini2aa, ReadsPlainAndMarkedUpLines) {
    struct Case {
        const char* text;
        char lineend, separator;
        const char* want;
    } cases[] = {
        {"Max-Size = 10\na.b_c=x\nname", '\n', '=', "MaxSize=10|abc=x|keyonly=name"},
        {"key=", '\n', '=', ""},
        {"key = \n", '\n', '=', "key="},
        {"x=y: z", '\n', ':', "y=z"},
        {"<tr><td>Port=5000</td></tr><tr><td>Host=local</td></tr>", '\n', '=',
         "Host=local|Port=5000"},
        {"<b>Port</b>=1", '\n', '=', "Port</b>=1"},
        {"Port<span>=</span>1", '\n', '=', "Port=1"},
        {"Port&eq;5000<br>Host&EQ;local<br>", '\n', '=', "Host=local|Port=5000"},
        {"k=\"quoted v\" trailing\nj= \"kept\"", '\n', '=', "j=\"kept\"|k=quoted v"},
        {"\"my key\" junk = v", '\n', '=', "mykey=v"},
        {"k=1\nk=2", '\n', '=', "k=2"},
        {"a=1;b=2;c", ';', '=', "a=1|b=2|keyonly=c"},
        {"a:1\r\nb : 2\r\n", '\n', ':', "a=1|b=2"},
        {"<p>a=1<P>b=2<BR>c=3", '\n', '=', "a=1|b=2|c=3"},
        {"<i>x</i>=<I>y", '\n', '=', "x</i>=y"},
        {"  -- =v\n", '\n', '=', "keyonly=v"},
        // keyonly holds that line's own text; later lines stay lines of their own.
        {" first line \nsecond\r\nk=v", '\n', '=', "k=v|keyonly=second"},
        {"only one\n\n", '\n', '=', "keyonly=only one"},
        // Text cut off inside markup ends the line at the NUL.
        {"k=v<", '\n', '=', "k=v<"},
        {"k=v</b", '\n', '=', "k=v"},
        {"k=<td", '\n', '=', "k=<td"},
        {"k&e", '\n', '=', "keyonly=k&e"},
        {"k<b", '\n', '=', ""},
        {"x=", '\n', ':', "keyonly="},
        {"k=\"", '\n', '=', ""},
        {"", '\n', '=', ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        aaContext* table = aacreate();
        ASSERT_NE(nullptr, table);
        EXPECT_EQ(0, ini2aa(table, c.text, c.lineend, c.separator));
        EXPECT_EQ(c.want, dump(table));
        aafree(table);
    }
}

TEST(Ini2aa, DefaultFormAndTableCase) {
    aaContext* table = aacreate(AA_NOCASE);
    ASSERT_NE(nullptr, table);
    EXPECT_EQ(0, ini2aa(table, "Port=1\nPORT=2\n"));
    EXPECT_EQ(1, aacount(table));
    EXPECT_STREQ("2", static_cast<char*>(aaget(table, "port")));
    EXPECT_EQ(0, ini2aa(table, nullptr));
    aafree(table);
}

TEST(Ini2aa, OutOfMemoryKeepsEarlierPairsAndLeaksNothing) {
    const char* text = "a=1\nb=2\nc=3\nrest";
    bool done = false;
    for (int n = 0; n < 200 && !done; n++) {
        aaContext* table = aacreate();
        ASSERT_NE(nullptr, table);
        util_failalloc(n);
        int result = ini2aa(table, text);
        util_failalloc(-1);
        done = result == 0;
        if (done) {
            EXPECT_EQ("a=1|b=2|c=3|keyonly=rest", dump(table));
        } else {
            EXPECT_EQ(-1, result);
            EXPECT_LE(aacount(table), 3);
        }
        aafree(table);
    }
    EXPECT_TRUE(done);
}

TEST(GetSection, CutsTheFirstMatchingSection) {
    struct Case {
        const char* data;
        const char* name;
        const char* want;
    } cases[] = {
        {"[a]\nk=1\n[b]\nk=2\n", "a", "k=1\n"},
        {"[a]\nk=1\n[b]\nk=2\n", "b", "k=2\n"},
        {"[a]\nk=1\n[b]\nk=2\n", "c", ""},
        {"[a]\nk=1\n[b]\nk=2\n", "A", ""},
        {"k=1\n", "x", "k=1\n"},
        {"\r\n\nk=1\n", "x", "k=1\n"},
        {"x=1\n[]\nk=2", "a", "k=2"},
        {"x=[a]\nk=1", "a", "x=[a]\nk=1"},
        {"[a][b]\nk", "b", "k"},
        {"[a][b]\nk", "a", ""},
        {"[a]x[b]\nk", "a", "x[b]\nk"},
        {"[a\n]\n[a]\r\n v \n[z", "a", " v \n[z"},
        {"[a]\n[a]\nsecond", "a", ""},
        {"[ab]\nk", "a", ""},
        {"[a]\nk", nullptr, ""},
        {"[]\nk", nullptr, "k"},
        {"[a", "a", "[a"},
        {"", "a", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        char* got = getsection(c.data, c.name);
        ASSERT_NE(nullptr, got);
        EXPECT_STREQ(c.want, got);
        std::free(got);
    }
}

TEST(GetSectionDeathTest, NullData) {
    char name[] = "a";
    EXPECT_DEATH(getsection(static_cast<char*>(nullptr), name),
                 "char\\* getsection\\(char\\*, char\\*\\).*data != __null");
}

} // namespace
