// SPDX-License-Identifier: MIT
// Template key substitution: examples per routine, escaping round trips over
// random values, output growth, out-of-memory paths and the null checks.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

typedef char* (*Substitute)(char*, aaContext*);

// Runs a routine on a writable copy of the template; "<null>" for a null result.
std::string run(Substitute fn, const std::string& tmpl, aaContext* table) {
    std::string src = tmpl;
    char* out = fn(&src[0], table);
    EXPECT_EQ(src, tmpl) << "template changed";
    std::string result = out != nullptr ? out : "<null>";
    std::free(out);
    return result;
}

void put(aaContext* table, const std::string& key, const std::string& value) {
    ASSERT_EQ(aaput(table, key.c_str(), value.c_str(), AA_COPYKEY | AA_COPYVALUE), 0);
}

const std::string longname(100, 'k'); // past the 63 characters of the old name buffer

class Keysub : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(table = aacreate(), nullptr);
        const char* pairs[][2] = {{"a", "1<2&3"},   {"n", "42"},
                                  {"t", "it's"},    {"s", "C:\\dir/x"},
                                  {"q", "a\"b\\c"}, {"e", ""},
                                  {"m", "x\ny"},    {"n_1", "under"},
                                  {"neg", "-7.5"},  {"c", "\b\t\n\f\r\x01\x1f\x7f"}};
        for (auto& p : pairs) put(table, p[0], p[1]);
        put(table, longname, "L");
    }
    void TearDown() override { aafree(table); }
    void check(Substitute fn, const std::vector<std::pair<std::string, std::string>>& cases) {
        for (auto& c : cases) EXPECT_EQ(run(fn, c.first, table), c.second) << c.first;
    }
    aaContext* table = nullptr;
};

TEST_F(Keysub, ExamplesPerRoutine) {
    std::string absentlong = "$" + longname + "z";
    check(keysub, {{"x=\"$q", "x=\"a b c"}, // after '"', both '"' and '\' become spaces
                   {"v=$s", "v=C:\\dir/x"}, // no guard elsewhere
                   {"\"$.zz$q", "\"a b c"}, // guard looks at the output, not the template
                   {"[$.zz]", "[]"},        // optional and absent: nothing
                   {"[$.n]", "[42]"},
                   {"[$zz]", "[$zz]"}, // absent: the reference as written
                   {"$n_1", "under"},  // '_' is a name character here
                   {"$n.x", "42.x"},
                   {"$n$n", "4242"}, // '$' ending a name starts the next
                   {"a$$n", "a$42"}, // empty name, absent
                   {"$.$n", "42"},   // optional empty name vanishes with its '.'
                   {"$", "$"},
                   {"$N", "$N"}, // exact keys
                   {"", ""},
                   {"$" + longname + "!", "L!"}, // long names are looked up whole
                   {absentlong + " tail", absentlong + " tail"}});
    check(htmlkeysub, {{"<b>$a</b>", "<b>1&lt;2&amp;3</b>"},
                       {"cost $9z", "cost $9z"},
                       {"$n_1", "42_1"}, // '_' ends the name here
                       {"<i title=\"$q\">", "<i title=\"a&quot;b\\c\">"},
                       {"$.n", "$.n"},     // no optional form
                       {"$ & $", "$ & $"}, // template text is never escaped
                       {"$e|", "|"}});
    check(jsonkeysub, {{"path=$s", "path=C:\\\\dir\\/x"},
                       {"{\"k\":\"$q\"}", "{\"k\":\"a\\\"b\\\\c\"}"},
                       {"$c", "\\b\\t\\n\\f\\r\\u0001\\u001f\x7f"},
                       {"\"/\\$n", "\"/\\42"},
                       {"$zz/", "$zz/"}});
    check(querykeysub, {{"WHERE id=$n AND name=$'t", "WHERE id=42 AND name='it''s'"},
                        {"id=$t", "id=NULL"}, // not numeric
                        {"id=$zz", "id=NULL"},
                        {"id=$'zz;", "id=NULL;"}, // absent: no quotes
                        {"id=$neg", "id=-7.5"},
                        {"x=1,\nAND y=$-zz\nz=2", "x=1,\n\nz=2"},
                        {"x=1,\nAND y=$-n\nz=2", "x=1,\nAND y=42\nz=2"},
                        {"AND y=$-zz", ""}, // no line end anywhere
                        {"a\r\nb=$n c=$-zz d\ne", "a\r\n\ne"},
                        {"a\rb=$-zz\nc", "a\r\nc"}, // a lone CR ends a line too
                        {"$-zz $n\n$n", "\n42"},    // the rest of the line goes too
                        {"a=$'m b=$-zz\nc", "\nc"}, // a value's LF is no line start
                        {"[$e][$'e]", "[]['']"},    // the empty text counts as numeric
                        {"$n_1", "42_1"}});
}

TEST_F(Keysub, NullTableAndCaseFlag) {
    const char* tmpl = "$n $.x $'y $-z";
    for (Substitute fn : {keysub, htmlkeysub, jsonkeysub, querykeysub})
        EXPECT_EQ(run(fn, tmpl, nullptr), tmpl);

    aaContext* nocase = aacreate(AA_NOCASE);
    put(nocase, "Key", "v");
    put(nocase, "", "E");
    EXPECT_EQ(run(keysub, "$KEY $key", nocase), "v v");
    EXPECT_EQ(run(htmlkeysub, "$kEy", nocase), "v");
    // With the empty key present, a lone '$' is a reference like any other.
    EXPECT_EQ(run(keysub, "$ x", nocase), "E x");
    EXPECT_EQ(run(jsonkeysub, "$ x", nocase), "E x");
    aafree(nocase);
}

// A strict decoder of the inside of a JSON string; false on anything JSON
// does not allow (raw control bytes, unknown escapes, a bare quote).
bool jsondecode(const std::string& in, std::string& out) {
    const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (static_cast<unsigned char>(in[i]) < 0x20 || in[i] == '"') return false;
        if (in[i] != '\\') {
            out += in[i];
        } else if (++i < in.size() && from.find(in[i]) != std::string::npos) {
            out += to[from.find(in[i])];
        } else if (i + 4 < in.size() && in[i] == 'u') {
            unsigned long code = std::strtoul(in.substr(i + 1, 4).c_str(), nullptr, 16);
            if (code >= 0x80) return false; // only ASCII is ever escaped
            out += static_cast<char>(code);
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// Undoes the four entities; false for an '&' that starts none of them.
bool htmldecode(const std::string& in, std::string& out) {
    const char* entities[] = {"&quot;", "&amp;", "&lt;", "&gt;"};
    out.clear();
    for (size_t i = 0, k = 0; i < in.size(); ++i, k = 0) {
        while (in[i] == '&' && k < 4 && in.compare(i, std::strlen(entities[k]), entities[k]) != 0)
            ++k;
        if (k == 4) return false;
        out += in[i] == '&' ? "\"&<>"[k] : in[i];
        if (in[i] == '&') i += std::strlen(entities[k]) - 1;
    }
    return true;
}

// Puts value under key "v" and returns what replaces the reference to it
// between the template's fixed head and tail.
std::string between(Substitute fn, aaContext* table, const std::string& value,
                    const std::string& head, const std::string& tail,
                    const std::string& ref = "$v") {
    EXPECT_EQ(aareplace(table, "v", value.c_str(), AA_COPYVALUE), 1);
    std::string out = run(fn, head + ref + tail, table);
    bool ok = out.size() >= head.size() + tail.size() && out.compare(0, head.size(), head) == 0 &&
              out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
    EXPECT_TRUE(ok) << "head or tail damaged: " << out;
    return ok ? out.substr(head.size(), out.size() - head.size() - tail.size()) : "";
}

TEST_F(Keysub, EscapingRoundTripsForRandomValues) {
    put(table, "v", "");
    const std::string favour = "\"\\/\b\f\n\r\t\x01<>&''''-;";
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> len(0, 40), byte(1, 0x7F), pick(0, 3);
    for (int round = 0; round < 3000; ++round) {
        // Every fourth byte from the characters that need escaping.
        std::string value(len(rng), ' ');
        for (char& c : value)
            c = pick(rng) == 0 ? favour[byte(rng) % favour.size()] : static_cast<char>(byte(rng));
        SCOPED_TRACE(::testing::PrintToString(value));

        std::string decoded, json = between(jsonkeysub, table, value, "{\"k\":\"", "\"}");
        EXPECT_TRUE(jsondecode(json, decoded)) << json;
        EXPECT_EQ(decoded, value);

        std::string html = between(htmlkeysub, table, value, "<a title=\"", "\">");
        EXPECT_EQ(html.find_first_of("<>\""), std::string::npos) << html;
        EXPECT_TRUE(htmldecode(html, decoded)) << "raw '&' in " << html;
        EXPECT_EQ(decoded, value);

        // Read the literal as SQL would: '' is a quote, a lone quote ends it.
        std::string sql = between(querykeysub, table, value, "x=", ";", "$'v"), literal;
        size_t i = 1;
        for (; i < sql.size() && (sql[i] != '\'' || sql.compare(i, 2, "''") == 0); ++i)
            literal += sql[i] == '\'' ? sql[i++] : sql[i];
        EXPECT_EQ(sql.substr(0, 1) + sql.substr(std::min(i, sql.size())), "''")
            << "literal ended early in " << sql;
        EXPECT_EQ(literal, value);
    }
}

TEST_F(Keysub, LargeTemplateWithLongValues) {
    // About 1 MB of template, thousands of references to 10000-character
    // values, absent names in between.
    const int keys = 20;
    for (int k = 0; k < keys; ++k)
        put(table, "key" + std::to_string(k), std::string(10000, 'A' + k));
    std::string tmpl, want;
    std::mt19937 rng(3);
    while (tmpl.size() < (1u << 20)) {
        std::string filler(rng() % 800, 'f'), ref = "$key" + std::to_string(rng() % (keys + 2));
        tmpl += filler + ref + " ";
        const char* value = static_cast<const char*>(aaget(table, ref.c_str() + 1));
        want += filler + (value ? value : ref) + " ";
    }
    EXPECT_EQ(run(keysub, tmpl, table), want);
    EXPECT_EQ(run(htmlkeysub, tmpl, table), want);
    // The output grows geometrically: some 25 MB from a 1 MB start in a few
    // dozen reallocations, not one per inserted value.
    util_failalloc(40);
    EXPECT_EQ(run(jsonkeysub, tmpl, table), want);
    util_failalloc(-1);
}

TEST(KeysubMemo, ManyReferencesToSimilarNames) {
    // Hundreds of distinct names, present and absent, that share prefixes,
    // suffixes or both (differing only in the middle), of every length from
    // 1 to 40, each referenced many times in random order.
    std::vector<std::string> names;
    for (int len = 1; len <= 40; ++len)
        for (char mid : {'a', 'b', 'Z', '7', '_'})
            names.push_back(std::string(len / 2, 'x') + mid + std::string(len - len / 2 - 1, 'x'));
    for (int i = 0; i < 500; ++i) names.push_back("k" + std::to_string(i));
    std::mt19937 rng(11);
    aaContext* table = aacreate();
    std::vector<std::string> replaced;
    for (const std::string& name : names) {
        replaced.push_back(rng() % 3 != 0 ? "<" + name + ">" : "$" + name);
        if (replaced.back()[0] == '<') put(table, name, replaced.back());
    }
    for (int round = 0; round < 20; ++round) {
        std::string tmpl, want;
        for (int r = 0; r < 3000; ++r) {
            // A '$' glued to the previous name starts the next reference.
            std::string sep = r % 7 != 0 ? " " : "";
            size_t k = rng() % names.size();
            tmpl += "$" + names[k] + sep;
            want += replaced[k] + sep;
        }
        EXPECT_EQ(run(keysub, tmpl, table), want);
    }
    aafree(table);
}

TEST_F(Keysub, OutOfMemoryFreesEverything) {
    // A long value forces growth, a long name forces a name copy; every
    // allocation in turn is made to fail, and the leak checker watches.
    put(table, "big", std::string(1000, 'x'));
    std::string tail = " $" + longname + " $big $'big $t\n";
    for (Substitute fn : {keysub, htmlkeysub, jsonkeysub, querykeysub}) {
        std::string tmpl = (fn == querykeysub ? "$'big$'big" : "$big$big") + tail;
        std::string want = run(fn, tmpl, table), got = "<null>";
        ASSERT_NE(want, "<null>");
        int failures = -1;
        for (int ok = 0; ok < 50 && got == "<null>"; ++ok, ++failures) {
            util_failalloc(ok);
            got = run(fn, tmpl, table);
            util_failalloc(-1);
        }
        EXPECT_EQ(got, want);
        EXPECT_GE(failures, 3) << "expected several allocations: first, growth, name";
    }
}

TEST(KeysubDeath, NullTemplateStops) {
    for (Substitute fn : {keysub, htmlkeysub, jsonkeysub, querykeysub})
        EXPECT_DEATH(fn(nullptr, nullptr), "keysub\\(char ?\\*, aaContext ?\\*\\).*src != __null");
}

} // namespace
