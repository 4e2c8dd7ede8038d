// Template key substitution: examples per routine, escaping round trips over
// random values, output growth, out-of-memory paths and the null checks.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

typedef char* (*Substitute)(char*, aaContext*);

// Runs a routine on a writable copy of the template; "<null>" for a null result.
std::string run(Substitute fn, const std::string& tmpl, aaContext* table) {
    std::vector<char> src(tmpl.begin(), tmpl.end());
    src.push_back('\0');
    char* out = fn(src.data(), table);
    if (out == nullptr) return "<null>";
    std::string result = out;
    std::free(out);
    EXPECT_EQ(std::string(src.data()), tmpl) << "template changed";
    return result;
}

const std::string longname(100, 'k'); // past the 63 characters of the old name buffer

class Keysub : public ::testing::Test {
  protected:
    void SetUp() override {
        table = aacreate();
        ASSERT_NE(table, nullptr);
        const char* pairs[][2] = {{"a", "1<2&3"},
                                  {"n", "42"},
                                  {"t", "it's"},
                                  {"s", "C:\\dir/x"},
                                  {"q", "a\"b\\c"},
                                  {"e", ""},
                                  {"m", "x\ny"},
                                  {"n_1", "under"},
                                  {"c", "\b\t\n\f\r\x01\x1f\x7f"},
                                  {"neg", "-7.5"},
                                  {longname.c_str(), "L"}};
        for (auto& p : pairs) ASSERT_EQ(aaput(table, p[0], p[1], AA_COPYKEY | AA_COPYVALUE), 0);
    }
    void TearDown() override { aafree(table); }
    aaContext* table = nullptr;
};

struct Case {
    std::string tmpl;
    std::string want;
};

void check(Substitute fn, aaContext* table, const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(run(fn, c.tmpl, table), c.want) << "template: " << c.tmpl;
}

TEST_F(Keysub, PlainReferences) {
    std::string absentlong = "$" + longname + "z";
    check(keysub, table,
          {
              {"v=$s", "v=C:\\dir/x"},
              {"v=\"$s\"", "v=\"C: dir/x\""}, // guard after a double quote
              {"x=\"$q", "x=\"a b c"},        // both '"' and '\' become spaces
              {"x=$q", "x=a\"b\\c"},          // no guard elsewhere
              {"\"$.zz$q", "\"a b c"},        // guard looks at the output, not the template
              {"[$.zz]", "[]"},               // optional and absent: nothing
              {"[$.n]", "[42]"},
              {"[$zz]", "[$zz]"}, // absent: the reference as written
              {"$n_1", "under"},  // '_' is a name character here
              {"$n.x", "42.x"},
              {"$n$n", "4242"}, // '$' ending a name starts the next
              {"a$$n", "a$42"}, // empty name, absent
              {"$.$n", "42"},   // optional empty name vanishes with its '.'
              {"$ x", "$ x"},
              {"$", "$"},
              {"end $n", "end 42"},
              {"$N", "$N"}, // exact keys
              {"no references", "no references"},
              {"", ""},
              {"$" + longname + "!", "L!"}, // long names are looked up whole
              {absentlong + " tail", absentlong + " tail"},
          });
}

TEST_F(Keysub, HtmlReferences) {
    check(htmlkeysub, table,
          {
              {"<b>$a</b>", "<b>1&lt;2&amp;3</b>"},
              {"cost $9z", "cost $9z"},
              {"$a$n", "1&lt;2&amp;342"},
              {"$n_1", "42_1"}, // '_' ends the name here
              {"<i title=\"$q\">", "<i title=\"a&quot;b\\c\">"},
              {"$.n", "$.n"},     // no optional form
              {"$ & $", "$ & $"}, // template text is never escaped
              {"$e|", "|"},
          });
}

TEST_F(Keysub, JsonReferences) {
    check(jsonkeysub, table,
          {
              {"path=$s", "path=C:\\\\dir\\/x"},
              {"{\"k\":\"$q\"}", "{\"k\":\"a\\\"b\\\\c\"}"},
              {"$c", "\\b\\t\\n\\f\\r\\u0001\\u001f\x7f"},
              {"\"/\\$n", "\"/\\42"},
              {"$zz/", "$zz/"},
              {"$n_1", "42_1"},
          });
}

TEST_F(Keysub, QueryReferences) {
    check(querykeysub, table,
          {
              {"WHERE id=$n AND name=$'t", "WHERE id=42 AND name='it''s'"},
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
              {"$", "NULL"},
              {"[$e][$'e]", "[]['']"}, // the empty text counts as numeric
              {"$'t$'t", "'it''s''it''s'"},
              {"$n_1", "42_1"},
              {"$-", ""}, // empty name, absent: line dropped
          });
}

TEST_F(Keysub, NullTableAndCaseFlag) {
    const char* tmpl = "$n $.x $'y $-z";
    for (Substitute fn : {keysub, htmlkeysub, jsonkeysub, querykeysub})
        EXPECT_EQ(run(fn, tmpl, nullptr), tmpl);

    aaContext* nocase = aacreate(AA_NOCASE);
    ASSERT_NE(nocase, nullptr);
    ASSERT_EQ(aaput(nocase, "Key", "v", AA_COPYKEY | AA_COPYVALUE), 0);
    ASSERT_EQ(aaput(nocase, "", "E", AA_COPYKEY | AA_COPYVALUE), 0);
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
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = in[i];
        if (c < 0x20 || c == '"') return false;
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        if (++i == in.size()) return false;
        switch (in[i]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            if (i + 4 >= in.size()) return false;
            unsigned long code = std::strtoul(in.substr(i + 1, 4).c_str(), nullptr, 16);
            if (code >= 0x80) return false; // only ASCII is ever escaped
            out += static_cast<char>(code);
            i += 4;
            break;
        }
        default: return false;
        }
    }
    return true;
}

// Undoes the four entities; false for an '&' that starts none of them.
bool htmldecode(const std::string& in, std::string& out) {
    static const struct {
        const char* entity;
        char ch;
    } entities[] = {{"&quot;", '"'}, {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '&') {
            out += in[i];
            continue;
        }
        bool known = false;
        for (auto& e : entities) {
            size_t len = std::strlen(e.entity);
            if (!known && in.compare(i, len, e.entity) == 0) {
                out += e.ch;
                i += len - 1;
                known = true;
            }
        }
        if (!known) return false;
    }
    return true;
}

std::string randomvalue(std::mt19937& rng, int maxlen, const std::string& favour) {
    std::uniform_int_distribution<int> len(0, maxlen), byte(1, 0x7F), pick(0, 3);
    std::string v(len(rng), ' ');
    for (char& c : v) {
        // Every fourth byte from the characters that need escaping.
        c = pick(rng) == 0 ? favour[byte(rng) % favour.size()] : static_cast<char>(byte(rng));
    }
    return v;
}

void setvalue(aaContext* table, const std::string& value) {
    if (aareplace(table, "v", value.c_str(), AA_COPYVALUE) == 0) {
        ASSERT_EQ(aaput(table, "v", value.c_str(), AA_COPYKEY | AA_COPYVALUE), 0);
    }
}

// Puts each random value under key "v" and returns what lies between the
// template's fixed head and tail.
std::string between(Substitute fn, aaContext* table, const std::string& value,
                    const std::string& head, const std::string& tail) {
    setvalue(table, value);
    std::string out = run(fn, head + "$v" + tail, table);
    if (out.size() < head.size() + tail.size() || out.compare(0, head.size(), head) != 0 ||
        out.compare(out.size() - tail.size(), tail.size(), tail) != 0) {
        ADD_FAILURE() << "head or tail damaged: " << out;
        return "";
    }
    return out.substr(head.size(), out.size() - head.size() - tail.size());
}

TEST_F(Keysub, EscapingRoundTripsForRandomValues) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 2000; ++round) {
        std::string value = randomvalue(rng, 40, "\"\\/\b\f\n\r\t\x01'<>&");
        SCOPED_TRACE(::testing::PrintToString(value));

        std::string decoded, json = between(jsonkeysub, table, value, "{\"k\":\"", "\"}");
        EXPECT_TRUE(jsondecode(json, decoded)) << json;
        EXPECT_EQ(decoded, value);

        std::string html = between(htmlkeysub, table, value, "<a title=\"", "\">");
        EXPECT_EQ(html.find_first_of("<>\""), std::string::npos) << html;
        std::string unescaped;
        EXPECT_TRUE(htmldecode(html, unescaped)) << "raw '&' in " << html;
        EXPECT_EQ(unescaped, value);
    }
}

TEST_F(Keysub, QuotedLiteralHoldsAnyValue) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string value = randomvalue(rng, 30, "''''\\;-");
        SCOPED_TRACE(::testing::PrintToString(value));
        setvalue(table, value);
        std::string out = run(querykeysub, "x=$'v;", table);
        ASSERT_GE(out.size(), 5u);
        ASSERT_EQ(out.compare(0, 3, "x='"), 0) << out;
        // Read the literal as SQL would: '' is a quote, a lone quote ends it.
        std::string literal;
        size_t i = 3;
        for (; i < out.size(); ++i) {
            if (out[i] != '\'') {
                literal += out[i];
            } else if (i + 1 < out.size() && out[i + 1] == '\'') {
                literal += '\'';
                ++i;
            } else {
                break;
            }
        }
        EXPECT_EQ(out.substr(i), "';") << "literal ended early in " << out;
        EXPECT_EQ(literal, value);
    }
}

TEST_F(Keysub, LargeTemplateWithLongValues) {
    // About 1 MB of template, thousands of references to 10000-character
    // values, absent names in between; the result is compared with a plain
    // string-built expectation.
    const int keys = 20;
    std::vector<std::string> values;
    for (int k = 0; k < keys; ++k) {
        values.push_back(std::string(10000, static_cast<char>('A' + k)));
        std::string name = "key" + std::to_string(k);
        ASSERT_EQ(aaput(table, name.c_str(), values.back().c_str(), AA_COPYKEY | AA_COPYVALUE), 0);
    }
    std::string tmpl, want;
    std::mt19937 rng(3);
    while (tmpl.size() < (1u << 20)) {
        std::string filler(rng() % 800, 'f');
        tmpl += filler;
        want += filler;
        int k = rng() % (keys + 2);
        std::string ref = "$key" + std::to_string(k);
        tmpl += ref + " ";
        want += (k < keys ? values[k] : ref) + " ";
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
    // 1 to 40, each referenced many times in random order; names at the very
    // end of the template too.
    std::vector<std::string> names;
    for (int len = 1; len <= 40; ++len) {
        for (char mid : {'a', 'b', 'Z', '7', '_'}) {
            std::string name(len, 'x');
            name[len / 2] = mid;
            names.push_back(name);
        }
    }
    for (int i = 0; i < 500; ++i) names.push_back("k" + std::to_string(i));
    std::mt19937 rng(11);
    aaContext* table = aacreate();
    ASSERT_NE(table, nullptr);
    std::vector<bool> present;
    for (const std::string& name : names) {
        present.push_back(rng() % 3 != 0);
        if (present.back()) {
            std::string value = "<" + name + ">";
            ASSERT_EQ(aaput(table, name.c_str(), value.c_str(), AA_COPYKEY | AA_COPYVALUE), 0);
        }
    }
    for (int round = 0; round < 20; ++round) {
        std::string tmpl, want;
        for (int r = 0; r < 3000; ++r) {
            size_t k = rng() % names.size();
            tmpl += "$" + names[k];
            want += present[k] ? "<" + names[k] + ">" : "$" + names[k];
            if (r % 7 != 0) {
                tmpl += " ";
                want += " ";
            }
        }
        // A separator glued to the next name keeps it apart: '$' directly
        // after a name starts the next reference.
        EXPECT_EQ(run(keysub, tmpl, table), want);
    }
    aafree(table);
}

TEST_F(Keysub, OutOfMemoryFreesEverything) {
    // A long value forces growth, a long name forces a name copy; every
    // allocation in turn is made to fail, and the leak checker watches.
    std::string big(1000, 'x');
    ASSERT_EQ(aaput(table, "big", big.c_str(), AA_COPYKEY | AA_COPYVALUE), 0);
    std::string tail = " $" + longname + " $big $'big $t\n";
    struct {
        Substitute fn;
        std::string tmpl;
    } cases[] = {{keysub, "$big$big" + tail},
                 {htmlkeysub, "$big$big" + tail},
                 {jsonkeysub, "$big$big" + tail},
                 {querykeysub, "$'big$'big" + tail}};
    for (auto& c : cases) {
        std::string want = run(c.fn, c.tmpl, table);
        ASSERT_NE(want, "<null>");
        int failures = 0;
        for (int ok = 0; ok < 50; ++ok) {
            util_failalloc(ok);
            std::string got = run(c.fn, c.tmpl, table);
            util_failalloc(-1);
            if (got == "<null>") {
                ++failures;
                continue;
            }
            EXPECT_EQ(got, want);
            break;
        }
        EXPECT_GE(failures, 3) << "expected several allocations: first, growth, name";
    }
}

TEST(Quotedupnew, DoublesSingleQuotes) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""}, {"it's", "it''s"}, {"''", "''''"}, {"a\"b", "a\"b"}, {"'x'", "''x''"}};
    for (auto& c : cases) {
        char* out = reinterpret_cast<char*>(1);
        EXPECT_EQ(quotedupnew(c.in, out), static_cast<int>(std::strlen(c.out)));
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out, c.out);
        std::free(out);
    }
    char* out = reinterpret_cast<char*>(1);
    util_failalloc(0);
    EXPECT_EQ(quotedupnew("it's", out), -1);
    util_failalloc(-1);
    EXPECT_EQ(out, nullptr);
}

TEST(KeysubDeath, NullTemplateStops) {
    EXPECT_DEATH(keysub(nullptr, nullptr),
                 "char\\* keysub\\(char\\*, aaContext\\*\\).*src != __null");
    EXPECT_DEATH(htmlkeysub(nullptr, nullptr),
                 "char\\* htmlkeysub\\(char\\*, aaContext\\*\\).*src != __null");
    EXPECT_DEATH(jsonkeysub(nullptr, nullptr),
                 "char\\* jsonkeysub\\(char\\*, aaContext\\*\\).*src != __null");
    EXPECT_DEATH(querykeysub(nullptr, nullptr), "querykeysub");
}

} // namespace
