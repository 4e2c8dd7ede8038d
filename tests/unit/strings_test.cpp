// String primitives: boundaries of the bounded routines, in-place edits,
// decimal texts against printf, heap slots and their failure paths.
#include "pacelag/util.h"

#include "alloc.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

TEST(Strings, BlankTest) {
    struct {
        const char* text;
        bool blank;
    } cases[] = {
        {nullptr, true}, {"", true},     {" ", true},     {"\t\r\n", true}, {"\x01\x1f\x20", true},
        {"x", false},    {" x ", false}, {"\xa0", false}, {"\x7f", false},  {" \x80", false},
    };
    for (const auto& c : cases) EXPECT_EQ(strblank(c.text), c.blank) << (c.text ? c.text : "null");
}

TEST(Strings, TrimAndStrip) {
    struct {
        const char* in;
        const char* trimmed;
    } cases[] = {
        {"  a b \r\n", "a b"}, {"\ta", "\ta"}, {"   ", ""}, {"\r\n", ""}, {"", ""}, {"x", "x"},
        {"\n x\t \n", "x\t"},  {"a  ", "a"},
    };
    for (const auto& c : cases) {
        std::vector<char> buf(c.in, c.in + std::strlen(c.in) + 1);
        EXPECT_EQ(strtrim(buf.data()), buf.data());
        EXPECT_STREQ(buf.data(), c.trimmed) << '[' << c.in << ']';
    }

    char text[] = "a b c";
    EXPECT_EQ(stripchar(text, ' '), 3);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(stripchar(text, '\0'), 3);
    char lines[] = "\r\none\r\ntwo\n";
    stripcrlf(lines);
    EXPECT_STREQ(lines, "onetwo");
    char path[] = "a\\b\\c";
    EXPECT_STREQ(strsub(path, '\\', '/'), "a/b/c");
    EXPECT_STREQ(strsub(path, '\0', 'x'), "a/b/c");
}

TEST(Strings, BoundedCopyAndConcat) {
    struct {
        const char* src;
        int size;
        const char* out;
        int result;
    } copies[] = {
        {"abcdef", 4, "abc", 3}, {"abcdef", 7, "abcdef", 6}, {"abcdef", 6, "abcde", 5},
        {"", 1, "", 0},          {"abc", 1, "", 0},
    };
    for (const auto& c : copies) {
        std::vector<char> buf(static_cast<size_t>(c.size), 'Z');
        EXPECT_EQ(strcopy(buf.data(), c.src, c.size), c.result);
        EXPECT_STREQ(buf.data(), c.out);
    }
    char untouched[2] = {'Q', 'Q'};
    EXPECT_EQ(strcopy(untouched, "abc", 0), 0);
    EXPECT_EQ(strcopy(untouched, "abc", -3), 0);
    EXPECT_EQ(untouched[0], 'Q');

    struct {
        const char* start;
        const char* add;
        int size;
        const char* out;
        int result;
    } concats[] = {
        {"abc", "def", 5, "abcd", 1},    {"abcd", "def", 5, "abcd", 0},
        {"abc", "def", 10, "abcdef", 3}, {"", "xy", 2, "x", 1},
        {"ab", "", 3, "ab", 0},
    };
    for (const auto& c : concats) {
        std::vector<char> buf(static_cast<size_t>(c.size) + 8, 'Z');
        std::strcpy(buf.data(), c.start);
        EXPECT_EQ(strconcat(buf.data(), c.add, c.size), c.result);
        EXPECT_STREQ(buf.data(), c.out);
        EXPECT_EQ(buf[static_cast<size_t>(c.size)], 'Z') << "wrote past the size";
    }
    // A buffer without a terminator inside its size is treated as full.
    char full[5] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(strconcat(full, "x", 5), 0);
    EXPECT_EQ(std::memcmp(full, "abcde", 5), 0);
    EXPECT_EQ(strconcat(full, "x", 0), 0);
}

TEST(Strings, AppendAdvancesOrRefuses) {
    char buf[10];
    std::memcpy(buf, "12345", 6);
    int pos = 5;
    EXPECT_EQ(strappend(buf, 10, "abcde", 5, pos), -1);
    EXPECT_EQ(pos, 5);
    EXPECT_STREQ(buf, "12345");
    EXPECT_EQ(strappend(buf, 10, "abcd", 4, pos), 0);
    EXPECT_EQ(pos, 9);
    EXPECT_STREQ(buf, "12345abcd");
    EXPECT_EQ(strappendstr(buf, 10, "x", pos), -1); // the terminator needs the last byte
    EXPECT_EQ(strappendstr(buf, 10, "", pos), 0);
    EXPECT_EQ(pos, 9);

    // Counted runs carry NUL bytes through.
    char bin[8];
    pos = 0;
    ASSERT_EQ(strappend(bin, 8, "a\0b", 3, pos), 0);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(std::memcmp(bin, "a\0b\0", 4), 0);
    EXPECT_EQ(strappendstr(bin, 8, "cd", pos), 0);
    EXPECT_EQ(pos, 5);
    EXPECT_EQ(strappend(bin, 8, "x", -1, pos), -1);
}

TEST(Strings, WordAndCharacterTests) {
    struct {
        const char* text;
        bool digits;
    } digitcases[] = {
        {"", true}, {"12-34_5.6 7", true}, {"+1", false}, {"1,5", false}, {"\xb2", false}};
    for (const auto& c : digitcases) EXPECT_EQ(alldigits(c.text), c.digits) << c.text;

    struct {
        const char* name;
        const char* ext;
        bool match;
    } extcases[] = {
        {"photo.JPG", ".jpg", true},     {"a", "abc", false},          {"x", "", true},
        {"archive.tar.gz", ".GZ", true}, {"file.jpeg", ".jpg", false}, {".jpg", ".jpg", true}};
    for (const auto& c : extcases) EXPECT_EQ(exticmp(c.name, c.ext), c.match) << c.name << c.ext;

    struct {
        const char* text;
        bool isfalse;
    } falsecases[] = {{"OFF", true}, {"False", true}, {"0", true},     {"no", true},
                      {"0 ", false}, {"00", false},   {"nope", false}, {nullptr, false},
                      {"", false},   {"yes", false}};
    for (const auto& c : falsecases) EXPECT_EQ(isfalseword(c.text), c.isfalse);

    for (int i = 0; i < 256; ++i) {
        char ch = static_cast<char>(i);
        char up = (i >= 'a' && i <= 'z') ? static_cast<char>(i - 32) : ch;
        char low = (i >= 'A' && i <= 'Z') ? static_cast<char>(i + 32) : ch;
        EXPECT_EQ(charupper(ch), up) << i;
        EXPECT_EQ(charlower(ch), low) << i;
    }
}

TEST(Strings, PathLeafListsAndPatterns) {
    struct {
        const char* path;
        const char* leaf;
    } leaves[] = {{"dir/sub\\file.txt", "file.txt"},
                  {"file", "file"},
                  {"dir/", ""},
                  {"", ""},
                  {"/", ""},
                  {"a\\b", "b"}};
    for (const auto& c : leaves) EXPECT_STREQ(pathleaf(c.path), c.leaf);
    char mutablepath[] = "x/y";
    EXPECT_EQ(pathleaf(mutablepath), mutablepath + 2);

    const char* list[] = {"a", "b", "c", nullptr, "d"};
    EXPECT_EQ(strlistcount(list), 3u);
    const char* empty[] = {nullptr};
    EXPECT_EQ(strlistcount(empty), 0u);

    const char* kv = "key=value";
    EXPECT_EQ(strafter(kv, "="), kv + 4);
    EXPECT_EQ(strafter("abc", "x"), nullptr);
    const char* abc = "abc";
    EXPECT_EQ(strafter(abc, "bc"), abc + 3);
    EXPECT_EQ(strafter(abc, ""), abc);
    char text[] = "aXbXc";
    char* after = strafter(text, "X");
    EXPECT_EQ(after, text + 2);
}

TEST(Strings, HeapSlots) {
    char* slot = nullptr;
    ASSERT_EQ(strset("one", slot), 0);
    char* first = slot;
    ASSERT_STREQ(slot, "one");
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

    char* empty = nullptr;
    util_failalloc(0);
    EXPECT_EQ(strset("x", empty), -1);
    util_failalloc(-1);
    EXPECT_EQ(empty, nullptr);

    char* a = strdup("A");
    char* b = strdup("B");
    ptrmove(a, b);
    EXPECT_EQ(a, nullptr);
    EXPECT_STREQ(b, "A");
    ptrmove(a, b); // moving null releases the destination
    EXPECT_EQ(b, nullptr);
}

TEST(Strings, DecimalTextsAgreeWithPrintf) {
    std::mt19937_64 rng(12345);
    std::vector<int64_t> values = {0,         1,         -1,           9,           10,
                                   -10,       99,        100,          INT32_MAX,   INT32_MIN,
                                   INT64_MAX, INT64_MIN, 4294967295LL, 2147483648LL};
    for (int i = 0; i < 2000; ++i) {
        int64_t v = static_cast<int64_t>(rng());
        values.push_back(v >> (rng() % 64));
    }
    char buf[32], expect[32];
    for (int64_t v : values) {
        int32_t i32 = static_cast<int32_t>(v);
        uint32_t u32 = static_cast<uint32_t>(v);
        uint64_t u64 = static_cast<uint64_t>(v);
        int n = std::snprintf(expect, sizeof expect, "%" PRId32, i32);
        EXPECT_EQ(int2str(buf, i32), n);
        EXPECT_STREQ(buf, expect);
        n = std::snprintf(expect, sizeof expect, "%" PRIu32, u32);
        EXPECT_EQ(uint2str(buf, u32), n);
        EXPECT_STREQ(buf, expect);
        n = std::snprintf(expect, sizeof expect, "%" PRId64, v);
        EXPECT_EQ(long2str(buf, v), n);
        EXPECT_STREQ(buf, expect);
        n = std::snprintf(expect, sizeof expect, "%" PRIu64, u64);
        EXPECT_EQ(ulong2str(buf, u64), n);
        EXPECT_STREQ(buf, expect);
        n = std::snprintf(expect, sizeof expect, "%u.%u.%u.%u", u32 >> 24, (u32 >> 16) & 255,
                          (u32 >> 8) & 255, u32 & 255);
        EXPECT_EQ(ipv4num2str(buf, u32), n);
        EXPECT_STREQ(buf, expect);
    }
    // The most negative values keep their exact text within the stated lengths.
    EXPECT_EQ(int2str(buf, INT32_MIN), 11);
    EXPECT_STREQ(buf, "-2147483648");
    EXPECT_EQ(long2str(buf, INT64_MIN), 20);
    EXPECT_STREQ(buf, "-9223372036854775808");
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
