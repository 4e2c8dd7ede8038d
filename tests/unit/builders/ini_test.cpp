// SPDX-License-Identifier: MIT
// INI text into an aaContext, and cutting sections out of INI text.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

// Every entry as "key=value", sorted and joined with '|'.
std::string dump(aaContext* table) {
    std::set<std::string> entries;
    const char* key = nullptr;
    aarewind(table);
    while (void* value = aanext(table, key))
        entries.insert(key + ("=" + std::string(static_cast<const char*>(value))));
    std::string out;
    for (const std::string& e : entries) out += (out.empty() ? "" : "|") + e;
    return out;
}

void checkini(const char* text, const char* want, char lineend = '\n', char separator = '=') {
    aaContext* table = aacreate();
    EXPECT_EQ(0, ini2aa(table, text, lineend, separator));
    EXPECT_EQ(want, dump(table)) << text;
    aafree(table);
}

TEST(Ini2aa, ReadsPlainAndMarkedUpLines) {
    checkini("Max-Size = 10\na.b_c=x\nname", "MaxSize=10|abc=x|keyonly=name");
    checkini("<tr><td>Port=5000</td></tr><tr><td>Host=local</td></tr>", "Host=local|Port=5000");
    checkini("Port&eq;5000<br>Host&EQ;local<br>", "Host=local|Port=5000");
    checkini("k=\"quoted v\" trailing\nj= \"kept\"", "j=\"kept\"|k=quoted v");
    // keyonly holds that line's own text; later lines stay lines of their own.
    checkini(" first line \nsecond\r\nk=v", "k=v|keyonly=second");
    checkini("a=1;b=2;c", "a=1|b=2|keyonly=c", ';');
    checkini("a:1\r\nb : 2\r\n", "a=1|b=2", '\n', ':');
    checkini("x=y: z", "y=z", '\n', ':');
    checkini("x=", "keyonly=", '\n', ':');
    // An '=' right before the end of a line leaves the next line its own.
    for (const char* text : {"x=\nb:c", "x=<BR>b:c", "x=;b:c"})
        checkini(text, "b=c|keyonly=", text[2] == ';' ? ';' : '\n', ':');
    // Text cut off inside markup ends the line at the NUL.
    const char* cases[][2] = {
        {"key=", ""},
        {"key = \n", "key="},
        {"<b>Port</b>=1", "Port</b>=1"},
        {"Port<span>=</span>1", "Port=1"},
        {"\"my key\" junk = v", "mykey=v"},
        {"k=1\nk=2", "k=2"},
        {"<p>a=1<P>b=2<BR>c=3", "a=1|b=2|c=3"},
        {"<i>x</i>=<I>y", "x</i>=y"},
        {"  -- =v\n", "keyonly=v"},
        {"k=v<", "k=v<"},
        {"k=v</b", "k=v"},
        {"k=<td", "k=<td"},
        {"k&e", "keyonly=k&e"},
        {"k<b", ""},
        {"k=\"", ""},
        {"", ""},
    };
    for (auto& c : cases) checkini(c[0], c[1]);
}

TEST(Ini2aa, DefaultFormAndTableCase) {
    aaContext* table = aacreate(AA_NOCASE);
    EXPECT_EQ(0, ini2aa(table, "Port=1\nPORT=2\n"));
    EXPECT_EQ(1, aacount(table));
    EXPECT_STREQ("2", static_cast<char*>(aaget(table, "port")));
    EXPECT_EQ(0, ini2aa(table, nullptr));
    aafree(table);
}

TEST(Ini2aa, OutOfMemoryKeepsEarlierPairsAndLeaksNothing) {
    int result = -1;
    for (int n = 0; n < 200 && result != 0; n++) {
        aaContext* table = aacreate();
        util_failalloc(n);
        result = ini2aa(table, "a=1\nb=2\nc=3\nrest");
        util_failalloc(-1);
        std::string got = dump(table);
        EXPECT_TRUE(result == 0 ? got == "a=1|b=2|c=3|keyonly=rest"
                                : result == -1 && aacount(table) <= 3)
            << result << ": " << got;
        aafree(table);
    }
    EXPECT_EQ(0, result);
}

TEST(GetSection, CutsTheFirstMatchingSection) {
    const char* cases[][3] = {{"[a]\nk=1\n[b]\nk=2\n", "a", "k=1\n"},
                              {"[a]\nk=1\n[b]\nk=2\n", "A", ""},
                              {"\r\n\nk=1\n", "x", "k=1\n"},
                              {"x=1\n[]\nk=2", "a", "k=2"},
                              {"x=[a]\nk=1", "a", "x=[a]\nk=1"},
                              {"[a][b]\nk", "b", "k"},
                              {"[a][b]\nk", "a", ""},
                              {"[a]x[b]\nk", "a", "x[b]\nk"},
                              {"[a\n]\n[a]\r\n v \n[z", "a", " v \n[z"},
                              {"[a]\n[a]\nsecond", "a", ""},
                              {"[ab]\nk", "a", ""},
                              {"[]\nk", nullptr, "k"},
                              {"[a", "a", "[a"},
                              {"", "a", ""}};
    for (auto& c : cases) {
        char* got = getsection(c[0], c[1]);
        EXPECT_STREQ(c[2], got) << c[0];
        std::free(got);
    }
}

TEST(GetSectionDeathTest, NullData) {
    char name[] = "a";
    EXPECT_DEATH(getsection(static_cast<char*>(nullptr), name),
                 "char ?\\* ?getsection\\(char ?\\*, char ?\\*\\).*data != __null");
}

} // namespace
