// SPDX-License-Identifier: MIT
// Tests of args2aa: option words, values, order, dropped words and failures.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

Pairs walk(aaContext* t) {
    Pairs out;
    aarewind(t);
    const char* key;
    for (void* value; (value = aanext(t, key)) != nullptr;)
        out.emplace_back(key, static_cast<const char*>(value));
    return out;
}

aaContext* parse(std::vector<const char*> words) {
    words.insert(words.begin(), "-prog"); // skipped even though it looks like an option
    words.push_back(nullptr);
    return args2aa(static_cast<int>(words.size() - 1), words.data());
}

TEST(Args, WordsBecomeOptionsInFirstAppearanceOrder) {
    struct Case {
        std::vector<const char*> words;
        Pairs want;
    } cases[] = {
        {{"-mode", "client", "-host", "example", "-rate", "4"},
         {{"mode", "client"}, {"host", "example"}, {"rate", "4"}}},
        {{"", "stray", "-v"}, {{"v", ""}}},
        {{"-a", "x", "y"}, {{"a", "x"}}},
        {{}, {}},
        {{"-rate", "-5"}, {{"rate", ""}, {"5", ""}}},
        {{"-rate", "-5", "9"}, {{"rate", ""}, {"5", "9"}}},
        {{"--port", "80", "-", "x"}, {{"-port", "80"}, {"", "x"}}},
        {{"-a", "1", "-b", "2", "-A", "3"}, {{"A", "3"}, {"b", "2"}}},
        {{"-x", "", "-k", "v w"}, {{"x", ""}, {"k", "v w"}}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const char* w : c.words) trace += std::string(w) + " ";
        SCOPED_TRACE(trace);
        aaContext* t = parse(c.words);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(walk(t), c.want);
        EXPECT_EQ(t->flags, AA_NOCASE | AA_LIST);
        aafree(t);
    }
}

TEST(Args, LookupsIgnoreCaseAndCopyTheWords) {
    char mode[] = "-MODE", value[] = "client";
    const char* argv[] = {"pacelag", mode, value, nullptr};
    aaContext* t = args2aa(3, argv);
    ASSERT_NE(t, nullptr);
    // The table holds copies: changing the argument words changes nothing.
    mode[1] = 'X';
    value[0] = 'X';
    EXPECT_STREQ(static_cast<char*>(aaget(t, "mode")), "client");
    EXPECT_EQ(aaget(t, "host"), nullptr);
    aafree(t);
    // One word or fewer gives an empty table, even with a null vector.
    for (int argc : {-1, 0, 1}) {
        aaContext* empty = args2aa(argc, argc < 1 ? nullptr : argv);
        ASSERT_NE(empty, nullptr) << argc;
        EXPECT_EQ(aacount(empty), 0);
        aafree(empty);
    }
}

TEST(Args, OutOfMemoryAnywhereGivesNullAndLeaksNothing) {
    int failures = 0;
    for (int n = 0;; ++n) {
        util_failalloc(n);
        aaContext* t = parse({"-mode", "client", "-host", "x", "-mode", "s", "-v"});
        util_failalloc(-1);
        if (t) {
            EXPECT_EQ(walk(t), (Pairs{{"mode", "s"}, {"host", "x"}, {"v", ""}}));
            aafree(t);
            break;
        }
        ++failures;
        ASSERT_LT(n, 100);
    }
    EXPECT_GE(failures, 2 + 3 * 2); // table, buckets, then value and entry of each
}

TEST(ArgsDeath, NullVectorIsAProgrammingError) {
    EXPECT_DEATH(args2aa(2, nullptr), "argv");
}

} // namespace
