// SPDX-License-Identifier: MIT
// String primitives: boundaries of the bounded routines, in-place edits, text
// tests, case-ignoring search, heap slots and their failure paths.
#include "pacelag/util.h"

#include "alloc.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

TEST(Strings, TextPredicates) {
    struct {
        bool (*test)(const char*);
        const char* text;
        bool want;
    } cases[] = {
        {strblank, nullptr, true},        {strblank, "", true},
        {strblank, "\t\r\n", true},       {strblank, "\x01\x1f\x20", true},
        {strblank, " x ", false},         {strblank, "\x7f", false},
        {strblank, " \x80", false},       {alldigits, "", true},
        {alldigits, "12-34_5.6 7", true}, {alldigits, "+1", false},
        {alldigits, "1,5", false},        {alldigits, "\xb2", false},
        {isfalseword, "OFF", true},       {isfalseword, "False", true},
        {isfalseword, "0", true},         {isfalseword, "no", true},
        {isfalseword, "0 ", false},       {isfalseword, "nope", false},
        {isfalseword, "fals", false},     {isfalseword, nullptr, false},
        {isfalseword, "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.test(c.text), c.want) << (c.text ? c.text : "null");
}

TEST(Strings, TrimAndStrip) {
    // {text, trimmed}: spaces, CRs and LFs go at both ends, tabs stay.
    const char* cases[][2] = {
        {" a b \r\n", "a b"}, {"\ta", "\ta"}, {"   ", ""}, {"", ""}, {"\n x\t \n", "x\t"}};
    for (const auto& c : cases) {
        std::vector<char> buf(c[0], c[0] + std::strlen(c[0]) + 1);
        EXPECT_EQ(strtrim(buf.data()), buf.data());
        EXPECT_STREQ(buf.data(), c[1]) << '[' << c[0] << ']';
    }

    char text[] = "a b c";
    EXPECT_EQ(stripchar(text, ' '), 3);
    EXPECT_EQ(stripchar(text, '\0'), 3);
    EXPECT_STREQ(text, "abc");
    char lines[] = "\r\none\r\ntwo\n";
    stripcrlf(lines);
    EXPECT_STREQ(lines, "onetwo");
    char path[] = "a\\b\\c";
    EXPECT_STREQ(strsub(path, '\\', '/'), "a/b/c");
    EXPECT_STREQ(strsub(path, '\0', 'x'), "a/b/c");
}

TEST(Strings, BoundedCopyAndConcat) {
    // The buffer holds `start` (none: unterminated garbage) and size + 8 bytes;
    // a null `out` means nothing may be written.
    struct {
        int (*fn)(char*, const char*, int);
        const char *start, *src;
        int size;
        const char* out;
        int result;
    } cases[] = {
        {strcopy, nullptr, "abcdef", 7, "abcdef", 6},
        {strcopy, nullptr, "abcdef", 6, "abcde", 5},
        {strcopy, nullptr, "abc", 1, "", 0},
        {strcopy, nullptr, "abc", 0, nullptr, 0},
        {strcopy, nullptr, "abc", -3, nullptr, 0},
        {strconcat, "abc", "def", 5, "abcd", 1},
        {strconcat, "abcd", "def", 5, "abcd", 0},
        {strconcat, "abc", "def", 10, "abcdef", 3},
        {strconcat, "", "xy", 2, "x", 1},
        {strconcat, "ab", "", 3, "ab", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.src) + " " + std::to_string(c.size));
        std::vector<char> buf(static_cast<size_t>(std::max(c.size, 0)) + 8, 'Z');
        if (c.start) std::strcpy(buf.data(), c.start);
        EXPECT_EQ(c.fn(buf.data(), c.src, c.size), c.result);
        if (c.out)
            EXPECT_STREQ(buf.data(), c.out);
        else
            EXPECT_EQ(buf[0], 'Z');
        EXPECT_EQ(buf[static_cast<size_t>(std::max(c.size, 0))], 'Z') << "wrote past the size";
    }
    // A buffer without a terminator inside its size is treated as full.
    char full[5] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(strconcat(full, "x", 5), 0);
    EXPECT_EQ(strconcat(full, "x", 0), 0);
    EXPECT_EQ(std::memcmp(full, "abcde", 5), 0);
}

TEST(Strings, AppendAdvancesOrRefuses) {
    char buf[10] = "12345";
    int pos = 5;
    EXPECT_EQ(strappend(buf, 10, "abcde", 5, pos), -1);
    EXPECT_STREQ(buf, "12345");
    EXPECT_EQ(strappend(buf, 10, "abcd", 4, pos), 0);
    EXPECT_EQ(strappendstr(buf, 10, "x", pos), -1); // the terminator needs the last byte
    EXPECT_EQ(strappendstr(buf, 10, "", pos), 0);
    EXPECT_EQ(pos, 9);
    EXPECT_STREQ(buf, "12345abcd");

    // Counted runs carry NUL bytes through.
    char bin[8];
    pos = 0;
    ASSERT_EQ(strappend(bin, 8, "a\0b", 3, pos), 0);
    EXPECT_EQ(std::memcmp(bin, "a\0b\0", 4), 0);
    EXPECT_EQ(strappendstr(bin, 8, "cd", pos), 0);
    EXPECT_EQ(strappend(bin, 8, "x", -1, pos), -1);
    EXPECT_EQ(pos, 5);
}

TEST(Strings, ExtensionsAndLetterCase) {
    struct {
        const char *name, *ext;
        bool match;
    } extcases[] = {
        {"photo.JPG", ".jpg", true}, {"a", "abc", false},          {"x", "", true},
        {".jpg", ".jpg", true},      {"file.jpeg", ".jpg", false}, {"a.jpx", ".jpg", false},
    };
    for (const auto& c : extcases) EXPECT_EQ(exticmp(c.name, c.ext), c.match) << c.name << c.ext;

    for (int i = 0; i < 256; ++i) {
        char ch = static_cast<char>(i);
        EXPECT_EQ(charupper(ch), (i >= 'a' && i <= 'z') ? static_cast<char>(i - 32) : ch) << i;
        EXPECT_EQ(charlower(ch), (i >= 'A' && i <= 'Z') ? static_cast<char>(i + 32) : ch) << i;
    }
}

TEST(Strings, PathLeafListsAndPatterns) {
    const char* leaves[][2] = {
        {"dir/sub\\file.txt", "file.txt"}, {"file", "file"}, {"dir/", ""}, {"", ""}};
    for (const auto& c : leaves) EXPECT_STREQ(pathleaf(c[0]), c[1]);
    char mutablepath[] = "x/y";
    EXPECT_EQ(pathleaf(mutablepath), mutablepath + 2);

    const char* list[] = {"a", "b", "c", "d", nullptr, "e"};
    EXPECT_EQ(strlistcount(list), 4u);
    EXPECT_EQ(strlistcount(list + 4), 0u);

    const char* abc = "abc";
    EXPECT_EQ(strafter(abc, "b"), abc + 2);
    EXPECT_EQ(strafter(abc, "bc"), abc + 3);
    EXPECT_EQ(strafter(abc, ""), abc);
    EXPECT_EQ(strafter(abc, "x"), nullptr);
    char text[] = "aXbXc";
    EXPECT_EQ(strafter(text, "X"), text + 2);
}

TEST(Strings, HeapSlots) {
    char* slot = nullptr;
    ASSERT_EQ(strset("one", slot), 0);
    char* first = slot;
    EXPECT_EQ(strset("one", slot), 0);
    EXPECT_EQ(slot, first) << "an equal value must not be copied again";

    util_failalloc(0);
    EXPECT_EQ(strset("two", slot), -1);
    util_failalloc(-1);
    EXPECT_STREQ(slot, "one") << "a failed copy keeps the old text";
    EXPECT_EQ(strset("two", slot), 0);
    EXPECT_STREQ(slot, "two");
    EXPECT_EQ(strset(nullptr, slot), 0);
    EXPECT_EQ(slot, nullptr);

    char* a = strdup("A");
    char* b = strdup("B");
    ptrmove(a, b);
    EXPECT_EQ(a, nullptr);
    EXPECT_STREQ(b, "A");
    ptrmove(a, b); // moving null releases the destination
    EXPECT_EQ(b, nullptr);
}

TEST(HtmlSearch, StristrAndOutsideQuotes) {
    struct Case {
        const char* text;
        const char* needle;
        int at, end; // -1: none
    } cases[] = {
        {"xxabcx", "ABC", 2, 5},  {"aaab", "aab", 1, 4}, {"abc", "", 0, 0},
        {"abc", "abcd", -1, -1},  {"", "a", -1, -1},     {"aXa", "xA", 1, 3},
        {"\xe9", "\xc9", -1, -1},
    };
    for (const Case& c : cases) {
        const char *at = stristr(c.text, c.needle), *end = stristrend(c.text, c.needle);
        EXPECT_EQ(c.at, at != nullptr ? at - c.text : -1) << c.text << " / " << c.needle;
        EXPECT_EQ(c.end, end != nullptr ? end - c.text : -1) << c.text << " / " << c.needle;
    }

    // In "ab"x: the opening quote counts, the NUL is never outside.
    const char* text = "\"ab\"x";
    for (int pos = 0; pos <= 5; pos++)
        EXPECT_EQ(pos == 3 || pos == 4, outsidequotes(text, text + pos)) << pos;
    EXPECT_FALSE(outsidequotes(text + 1, text));
    EXPECT_FALSE(outsidequotes("", ""));
}

TEST(StringsDeathTest, NullArgumentsStopTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char buf[4] = "";
    int pos = 0;
    EXPECT_DEATH(alldigits(nullptr), "alldigits");
    EXPECT_DEATH(exticmp(nullptr, "x"), "exticmp");
    EXPECT_DEATH(strsub(nullptr, 'a', 'b'), "strsub");
    EXPECT_DEATH(strsub(buf, 'a', '\0'), "to != '\\\\0'");
    EXPECT_DEATH(strappend(nullptr, 4, "x", 1, pos), "strappend");
    EXPECT_DEATH(strappend(buf, 4, nullptr, 1, pos), "strappend");
}
