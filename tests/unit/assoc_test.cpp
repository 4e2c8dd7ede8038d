// Tests of aaContext: hashes, lookups and results, resizing, walks with one
// cursor, ownership of keys and values, and the out-of-memory paths.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// Bit-by-bit CRC-16 step of the polynomial 0x1021, most significant bit first:
// an independent source for the table the hash is built on.
uint16_t crcentry(int i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit)
        c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    return c;
}

uint16_t refhash(const std::string& s, bool folded) {
    uint16_t h = 0xFFFF;
    for (unsigned char b : s) {
        if (folded && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
        h = static_cast<uint16_t>((h >> 8) ^ crcentry((h ^ b) & 0xFF));
    }
    return h;
}

// Checks every structural invariant and returns the entries in walk order,
// read straight from the buckets so the cursor is left alone.
std::vector<std::pair<std::string, void*>> entries(const aaContext* t) {
    std::vector<std::pair<std::string, void*>> out;
    const bool list = t->flags & AA_LIST;
    const int n = t->bucketcount;
    EXPECT_EQ(n & (n - 1), 0) << "bucket count " << n << " is not a power of two";
    if (list) {
        EXPECT_EQ(n, 1);
        EXPECT_EQ(t->growat, 0);
        EXPECT_EQ(t->shrinkat, 0);
    } else {
        EXPECT_GE(n, 64);
        EXPECT_LE(n, 65536);
        EXPECT_EQ(t->growat, n < 65536 ? 2 * n : 0);
        EXPECT_EQ(t->shrinkat, (n > 64 && !(t->flags & AA_NOSHRINK)) ? n / 2 : 0);
    }
    for (int i = 0; i < n; ++i) {
        for (const aaEntry* e = t->buckets[i]; e; e = e->next) {
            EXPECT_EQ(e->hash & (n - 1), i);
            if (e->wordkey) {
                EXPECT_EQ(e->hash, static_cast<uint16_t>(e->key.word));
                out.emplace_back("#" + std::to_string(e->key.word), e->value);
            } else {
                EXPECT_EQ(e->hash, aahash(t->flags, e->key.text)) << e->key.text;
                out.emplace_back(e->key.text, e->value);
            }
        }
    }
    EXPECT_EQ(static_cast<int>(out.size()), t->count);
    return out;
}

std::vector<std::string> walkkeys(aaContext* t) {
    std::vector<std::string> keys;
    aarewind(t);
    for (const char* k; (k = aanextkey(t)) != nullptr;) keys.push_back(k);
    return keys;
}

std::string numkey(int i) {
    return "key" + std::to_string(i);
}

void putkeys(aaContext* t, int from, int to) {
    for (int i = from; i < to; ++i)
        ASSERT_EQ(aaput(t, numkey(i).c_str(), nullptr, AA_COPYKEY), 0) << i;
}

int releases = 0;
void countrelease(void* value) {
    ++releases;
    std::free(value);
}

char* text(const char* s) {
    return ::strdup(s);
}

TEST(AssocHash, ReferenceValuesAndEveryRoutineAgree) {
    struct Case {
        const char* text;
        uint16_t plain, folded;
    } cases[] = {
        {"abc", 0x3C5F, 0x8DFD},
        {"ABC", 0x8DFD, 0x8DFD},
        {"mode", 0xCFFC, 0x7E87},
        {"", 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(aahash(0, c.text), c.plain);
        EXPECT_EQ(aahash(AA_NOCASE, c.text), c.folded);
        EXPECT_EQ(aahash(AA_NOCASE | AA_LIST, c.text), c.folded);
        EXPECT_EQ(strihash(c.text), c.folded);
        EXPECT_EQ(memihash(c.text, static_cast<int>(std::strlen(c.text))), c.folded);
        EXPECT_EQ(strihashto(c.text, '\0'), c.folded);
    }
    // A single byte b hashes to 0x00FF ^ T[0xFF ^ b], which exposes table entries.
    struct Entry {
        int index;
        uint16_t value;
    } table[] = {{1, 0x1021}, {128, 0x9188}, {255, 0x1EF0}};
    for (const Entry& e : table) {
        EXPECT_EQ(crcentry(e.index), e.value);
        unsigned char b = static_cast<unsigned char>(0xFF ^ e.index);
        EXPECT_EQ(memihash(&b, 1), 0x00FF ^ e.value) << e.index;
    }
    // Every byte value, and random texts, against the bitwise reference.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    srand(7);
    std::vector<std::string> texts = {all, "Hello, World", "x"};
    for (int i = 0; i < 200; ++i) {
        std::string s;
        for (int j = rand() % 24; j > 0; --j) s += static_cast<char>(1 + rand() % 255);
        texts.push_back(s);
    }
    for (const std::string& s : texts) {
        EXPECT_EQ(aahash(0, s.c_str()), refhash(s, false));
        EXPECT_EQ(aahash(AA_NOCASE, s.c_str()), refhash(s, true));
    }
    // Binary runs of every length up to 40 at every alignment, NUL bytes included.
    unsigned char bytes[64];
    for (int i = 0; i < 64; ++i) bytes[i] = static_cast<unsigned char>(rand());
    for (int offset = 0; offset < 8; ++offset) {
        for (int n = 0; n <= 40; ++n) {
            std::string s(reinterpret_cast<char*>(bytes + offset), static_cast<size_t>(n));
            EXPECT_EQ(memihash(bytes + offset, n), refhash(s, true)) << offset << " " << n;
        }
    }
    // memihash counts NUL bytes and refuses counts below 1.
    EXPECT_EQ(memihash("a\0b", 3), refhash(std::string("A\0B", 3), false));
    EXPECT_EQ(memihash("abc", 0), 0xFFFF);
    EXPECT_EQ(memihash(nullptr, -5), 0xFFFF);
}

TEST(AssocHash, HashToStopsAtTheDelimiter) {
    struct Case {
        const char* text;
        char delim;
        const char* hashed; // the part that should be hashed
    } cases[] = {
        {"Mode=client", '=', "MODE"}, {"=x", '=', ""},         {"", '=', ""},
        {"abc", '=', "abc"},          {"a\x80z", '\x80', "a"}, {"a\xff", '\xff', "a"},
        {"path/to", '/', "path"},     {"abc", '\0', "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int length = -1;
        EXPECT_EQ(strihashto(c.text, c.delim, length), strihash(c.hashed));
        EXPECT_EQ(length, static_cast<int>(std::strlen(c.hashed)));
        EXPECT_EQ(strihashto(c.text, c.delim), strihash(c.hashed));
    }
}

// One sequence of operations on one table, each with its expected result.
TEST(AssocTable, ResultsOfPutGetReplaceRemove) {
    enum Op { Put, Get, Replace, Remove, Count };
    struct Step {
        Op op;
        const char* key;
        const char* value;
        int flags;
        int result;         // Put/Replace/Remove/Count
        const char* expect; // Get, and the value stored after the step
    };
    for (int tflags :
         {int(0), int(AA_QUIETDUP), int(AA_NOCASE), int(AA_LIST), AA_LIST | AA_NOCASE}) {
        SCOPED_TRACE(tflags);
        const int dup = (tflags & AA_QUIETDUP) ? 0 : 1;
        const bool nocase = tflags & AA_NOCASE;
        const Step steps[] = {
            {Get, "a", nullptr, 0, 0, nullptr},
            {Remove, "a", nullptr, 0, -1, nullptr},
            {Replace, "a", "x", AA_COPYVALUE, 0, nullptr},
            {Count, "", nullptr, 0, 0, nullptr},
            {Put, "a", "1", AA_COPYVALUE, 0, "1"},
            {Put, "a", "2", AA_COPYVALUE, dup, "2"},
            {Put, "a", "3", AA_COPYVALUE | AA_KEEP, dup, "2"},
            {Put, "A", "4", AA_COPYVALUE | AA_COPYKEY, nocase ? dup : 0, "4"},
            {Get, "a", nullptr, 0, 0, nocase ? "4" : "2"},
            {Replace, "a", "5", AA_COPYVALUE, 1, "5"},
            {Put, "", "empty", AA_COPYVALUE, 0, "empty"},
            {Put, "b", nullptr, AA_COPYVALUE, 0, nullptr},
            {Count, "", nullptr, 0, nocase ? 3 : 4, nullptr},
            {Remove, "a", nullptr, 0, 0, nullptr},
            {Remove, "a", nullptr, 0, -1, nullptr},
            {Get, "A", nullptr, 0, 0, nocase ? nullptr : "4"},
            {Remove, "", nullptr, 0, 0, nullptr},
            {Count, "", nullptr, 0, nocase ? 1 : 2, nullptr},
        };
        aaContext* t = aacreate(tflags);
        ASSERT_NE(t, nullptr);
        int i = 0;
        for (const Step& s : steps) {
            SCOPED_TRACE(i++);
            switch (s.op) {
            case Put: EXPECT_EQ(aaput(t, s.key, s.value, s.flags), s.result); break;
            case Replace: EXPECT_EQ(aareplace(t, s.key, s.value, s.flags), s.result); break;
            case Remove: EXPECT_EQ(aaremove(t, s.key), s.result); break;
            case Count: EXPECT_EQ(aacount(t), s.result); break;
            case Get: break;
            }
            if (s.op == Count || s.op == Remove) continue;
            const char* got = static_cast<const char*>(aaget(t, s.key));
            if (s.expect)
                EXPECT_STREQ(got, s.expect);
            else
                EXPECT_EQ(got, nullptr);
        }
        entries(t);
        aafree(t);
    }
}

TEST(AssocTable, ListModeKeepsFirstPlaceWithTheLaterSpelling) {
    aaContext* t = aacreate(AA_LIST | AA_NOCASE);
    const char* words[][2] = {{"mode", "client"}, {"host", "h"}, {"MODE", "server"}};
    for (auto& w : words) aaput(t, w[0], w[1], AA_COPYKEY | AA_COPYVALUE);
    EXPECT_EQ(aacount(t), 2);
    EXPECT_EQ(walkkeys(t), (std::vector<std::string>{"MODE", "host"}));
    EXPECT_STREQ(static_cast<char*>(aaget(t, "Mode")), "server");
    // Many keys in list mode keep insertion order and one bucket.
    for (int i = 0; i < 300; ++i) aaput(t, numkey(i).c_str(), nullptr, AA_COPYKEY);
    std::vector<std::string> keys = walkkeys(t);
    ASSERT_EQ(keys.size(), 302u);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(keys[i + 2], numkey(i));
    EXPECT_EQ(t->bucketcount, 1);
    EXPECT_EQ(aafit(t), 0);
    EXPECT_EQ(t->bucketcount, 1);
    aafree(t);
}

TEST(AssocTable, DoublesAtTheGrowThresholdAndHalvesAtTheShrinkThreshold) {
    for (int flags : {int(0), int(AA_NOSHRINK), int(AA_NOCASE)}) {
        SCOPED_TRACE(flags);
        const bool noshrink = flags & AA_NOSHRINK;
        aaContext* t = aacreate(flags);
        EXPECT_EQ(t->bucketcount, 64);
        putkeys(t, 0, 127);
        EXPECT_EQ(t->bucketcount, 64);
        putkeys(t, 127, 128);
        EXPECT_EQ(t->bucketcount, 128);
        putkeys(t, 128, 255);
        EXPECT_EQ(t->bucketcount, 128);
        putkeys(t, 255, 256);
        EXPECT_EQ(t->bucketcount, 256);
        entries(t);
        // 256 buckets halve at 128 entries, 128 buckets at 64, never below 64.
        struct Stop {
            int remaining, buckets;
        } stops[] = {{129, 256}, {128, 128}, {65, 128}, {64, 64}, {0, 64}};
        int left = 256;
        for (const Stop& s : stops) {
            while (left > s.remaining) ASSERT_EQ(aaremove(t, numkey(--left).c_str()), 0);
            EXPECT_EQ(t->bucketcount, noshrink ? 256 : s.buckets) << s.remaining;
            entries(t);
        }
        // Present keys and refused doublings never add buckets.
        putkeys(t, 0, 10);
        EXPECT_EQ(aaput(t, "key1", nullptr, AA_COPYKEY), 1);
        EXPECT_EQ(t->bucketcount, noshrink ? 256 : 64);
        aafree(t);
    }
}

TEST(AssocTable, StopsDoublingAt65536Buckets) {
    aaContext* t = aacreate();
    const int64_t n = 2 * 65536 + 1000;
    for (int64_t k = 0; k < n; ++k) ASSERT_EQ(aaput(t, k * 3, nullptr, 0), 0);
    EXPECT_EQ(t->bucketcount, 65536);
    EXPECT_EQ(t->growat, 0);
    EXPECT_EQ(aafit(t), 0);
    EXPECT_EQ(t->bucketcount, 65536);
    entries(t);
    for (int64_t k = 0; k < n; k += 997) EXPECT_EQ(aaget(t, k * 3), nullptr) << k;
    for (int64_t k = 0; k < n; ++k) EXPECT_EQ(aaremove(t, k * 3), 0);
    EXPECT_EQ(t->bucketcount, 64);
    aafree(t);
}

TEST(AssocWalk, ResizingWaitsForTheWalkThenFitCatchesUp) {
    for (bool fit : {false, true}) {
        SCOPED_TRACE(fit);
        aaContext* t = aacreate();
        putkeys(t, 0, 10);
        aarewind(t);
        std::set<std::string> seen;
        seen.insert(aanextkey(t));
        putkeys(t, 10, 210);
        EXPECT_EQ(t->bucketcount, 64);
        entries(t);
        // Removals do not halve either, and the walk stays intact.
        for (const char* k; (k = aanextkey(t)) != nullptr;) EXPECT_TRUE(seen.insert(k).second) << k;
        EXPECT_GE(seen.size(), 10u);
        EXPECT_EQ(t->cursor, nullptr);
        if (fit) {
            EXPECT_EQ(aafit(t), 0);
            EXPECT_EQ(t->bucketcount, 128);
            EXPECT_EQ(aacount(t), 210);
        } else {
            putkeys(t, 210, 211);
            EXPECT_EQ(t->bucketcount, 128); // one doubling per insertion
        }
        entries(t);
        // An abandoned walk keeps resizing off until aafit.
        putkeys(t, 211, 250);
        aaseek(t, "key3");
        EXPECT_NE(t->cursor, nullptr);
        for (int i = 0; i < 240; ++i) aaremove(t, numkey(i).c_str());
        EXPECT_EQ(t->bucketcount, 128);
        EXPECT_EQ(aafit(t), 0);
        EXPECT_EQ(t->bucketcount, 64);
        entries(t);
        aafree(t);
    }
}

TEST(AssocWalk, RemovingDuringAWalkReturnsEveryOtherEntryOnce) {
    // For every position: remove the entry the next advance would return,
    // then (second pass) an entry already returned, in both modes.
    for (int tflags : {int(0), int(AA_LIST)}) {
        for (int n : {1, 5, 130}) {
            for (int pos = 0; pos < n; ++pos) {
                SCOPED_TRACE(std::to_string(tflags) + " " + std::to_string(n) + " " +
                             std::to_string(pos));
                aaContext* t = aacreate(tflags);
                putkeys(t, 0, n);
                std::vector<std::string> order = walkkeys(t);
                aarewind(t);
                std::vector<std::string> got;
                for (int i = 0; i < pos; ++i) got.push_back(aanextkey(t));
                EXPECT_EQ(aaremove(t, order[pos].c_str()), 0);
                if (pos > 0) {
                    EXPECT_EQ(aaremove(t, order[0].c_str()), 0);
                }
                for (const char* k; (k = aanextkey(t)) != nullptr;) got.push_back(k);
                std::vector<std::string> want = order;
                want.erase(want.begin() + pos);
                EXPECT_EQ(got, want);
                EXPECT_EQ(aacount(t), n - (pos > 0 ? 2 : 1));
                entries(t);
                aafree(t);
            }
        }
    }
}

TEST(AssocWalk, CursorOutTypesSeekAndEnd) {
    aaContext* t = aacreate(AA_LIST);
    int values[3];
    aaput(t, int64_t(5), &values[0], 0);
    aaput(t, int64_t(5 + 65536), &values[1], 0);
    aaput(t, int64_t(0x1234567800000009LL), &values[2], 0);
    EXPECT_EQ(aacount(t), 3);
    EXPECT_EQ(aaget(t, int64_t(5)), &values[0]);
    EXPECT_EQ(aaget(t, int64_t(5 + 65536)), &values[1]);
    EXPECT_EQ(aaget(t, int64_t(0)), nullptr);

    int64_t k64 = 0;
    int32_t k32 = 0;
    void* kp = nullptr;
    aarewind(t);
    EXPECT_EQ(aanext(t, k64), &values[0]);
    EXPECT_EQ(k64, 5);
    EXPECT_EQ(aanext(t, kp), &values[1]);
    EXPECT_EQ(kp, reinterpret_cast<void*>(intptr_t(5 + 65536)));
    EXPECT_EQ(aanext(t, k32), &values[2]);
    EXPECT_EQ(k32, 9);
    // At the end every out-type is left alone.
    const char* ktext = "untouched";
    EXPECT_EQ(aanext(t, k64), nullptr);
    EXPECT_EQ(aanext(t, k32), nullptr);
    EXPECT_EQ(aanext(t, kp), nullptr);
    EXPECT_EQ(aanext(t, ktext), nullptr);
    EXPECT_EQ(aanextkey(t), nullptr);
    EXPECT_EQ(aanextvalue(t), nullptr);
    EXPECT_EQ(k64, 5);
    EXPECT_EQ(k32, 9);
    EXPECT_STREQ(ktext, "untouched");

    // Seek: present word key starts there, absent or null rewinds.
    aaseek(t, int64_t(5 + 65536));
    EXPECT_EQ(aanextvalue(t), &values[1]);
    aaseek(t, int64_t(77));
    EXPECT_EQ(aanextvalue(t), &values[0]);
    aanextvalue(t);
    aaseek(t, static_cast<const void*>(nullptr));
    EXPECT_EQ(aanextvalue(t), &values[0]);
    // In list mode an entry added during a walk lands at the tail and is
    // still returned by that walk.
    aarewind(t);
    aanextvalue(t);
    aaput(t, int64_t(42), &values[2], 0);
    EXPECT_EQ(aanextvalue(t), &values[1]);
    EXPECT_EQ(aanextvalue(t), &values[2]);
    EXPECT_EQ(aanext(t, k64), &values[2]);
    EXPECT_EQ(k64, 42);
    EXPECT_EQ(aanextvalue(t), nullptr);
    aafree(t);

    // Text keys in hashed mode: seek, then the walk runs to the end.
    t = aacreate(AA_NOCASE);
    putkeys(t, 0, 100);
    std::vector<std::string> order = walkkeys(t);
    aaseek(t, "KEY42");
    std::vector<std::string> rest;
    for (const char* k; (k = aanextkey(t)) != nullptr;) rest.push_back(k);
    auto at = std::find(order.begin(), order.end(), "key42");
    EXPECT_EQ(rest, std::vector<std::string>(at, order.end()));
    aaseek(t, "absent");
    EXPECT_EQ(aanextkey(t), order[0]);
    aaseek(t, static_cast<const char*>(nullptr));
    EXPECT_EQ(aanextkey(t), order[0]);
    // aaclear ends the walk and keeps the buckets.
    putkeys(t, 100, 200);
    int buckets = t->bucketcount;
    aaclear(t);
    EXPECT_EQ(aacount(t), 0);
    EXPECT_EQ(t->bucketcount, buckets);
    EXPECT_EQ(t->cursor, nullptr);
    aarewind(t);
    EXPECT_EQ(aanextkey(t), nullptr);
    entries(t);
    aafree(t);
}

TEST(AssocTable, PointerAndWordKeysLiveBesideTextKeys) {
    aaContext* t = aacreate();
    int a = 0, b = 0;
    // Word 0xFFFF and the empty text share a hash and a bucket.
    EXPECT_EQ(aaput(t, "", &a, 0), 0);
    EXPECT_EQ(aaput(t, int64_t(0xFFFF), &b, 0), 0);
    EXPECT_EQ(aaput(t, static_cast<const void*>(&a), &b, 0), 0);
    EXPECT_EQ(aaput(t, static_cast<const void*>(&a), &a, AA_KEEP), 1);
    EXPECT_EQ(aaget(t, ""), &a);
    EXPECT_EQ(aaget(t, int64_t(0xFFFF)), &b);
    EXPECT_EQ(aaget(t, static_cast<const void*>(&a)), &b);
    EXPECT_EQ(aareplace(t, static_cast<const void*>(&a), &a, 0), 1);
    EXPECT_EQ(aaget(t, static_cast<const void*>(&a)), &a);
    EXPECT_EQ(aareplace(t, int64_t(1), &a, 0), 0);
    EXPECT_EQ(aaremove(t, int64_t(1)), -1);
    EXPECT_EQ(aaremove(t, ""), 0);
    EXPECT_EQ(aaget(t, int64_t(0xFFFF)), &b);
    EXPECT_EQ(aaremove(t, static_cast<const void*>(&a)), 0);
    EXPECT_EQ(aacount(t), 1);
    entries(t);
    aafree(t);
}

TEST(AssocOwnership, KeysAndValuesAreReleasedExactlyOnce) {
    // Each step names what the callback must have been called for so far.
    releases = 0;
    aaContext* t = aacreate(countrelease, 0);
    auto step = [](const char* what, int got, int want, int released) {
        EXPECT_EQ(got, want) << what;
        EXPECT_EQ(releases, released) << what;
    };
    step("copy", aaput(t, "k1", "v", AA_COPYKEY | AA_COPYVALUE), 0, 0);
    step("own", aaput(t, text("k2"), text("v"), AA_OWNKEY | AA_OWNVALUE), 0, 0);
    step("refer", aaput(t, "k3", "static", 0), 0, 0);
    step("own null value", aaput(t, "k4", nullptr, AA_OWNVALUE), 0, 0);
    // Replacing owned values releases the old one.
    step("replace copied", aaput(t, "k1", "w", AA_COPYVALUE), 1, 1);
    step("replace owned", aareplace(t, "k2", text("w"), AA_OWNVALUE), 1, 2);
    step("replace referred", aareplace(t, "k3", text("w"), AA_OWNVALUE), 1, 2);
    // AA_KEEP: the unwanted key is freed, the unwanted value released.
    step("keep", aaput(t, text("k2"), text("x"), AA_KEEP | AA_OWNKEY | AA_OWNVALUE), 1, 3);
    step("keep null", aaput(t, text("k4"), nullptr, AA_KEEP | AA_OWNKEY | AA_OWNVALUE), 1, 3);
    // Handing over the pointer the entry already holds frees nothing.
    void* held = aaget(t, "k2");
    step("same value", aaput(t, "k2", held, AA_OWNVALUE), 1, 3);
    step("same value kept", aaput(t, "k2", held, AA_OWNVALUE | AA_KEEP), 1, 3);
    step("same value replaced", aareplace(t, "k2", held, 0), 1, 3);
    step("remove", aaremove(t, "k2"), 0, 4);
    step("refer over owned", aareplace(t, "k1", "static", 0), 1, 5);
    step("remove referred", aaremove(t, "k1"), 0, 5);
    step("word copy", aaput(t, int64_t(7), "v", AA_COPYVALUE), 0, 5);
    step("word keep", aaput(t, int64_t(7), "v", AA_COPYVALUE | AA_KEEP), 1, 5);
    step("word keep owned", aaput(t, int64_t(7), text("v"), AA_OWNVALUE | AA_KEEP), 1, 6);
    // A key handed over twice is freed once.
    char* k5 = text("k5");
    step("own key", aaput(t, k5, nullptr, AA_OWNKEY), 0, 6);
    step("same key", aaput(t, k5, nullptr, AA_OWNKEY), 1, 6);
    step("same key kept", aaput(t, k5, nullptr, AA_OWNKEY | AA_KEEP), 1, 6);
    // Copy wins over own: the caller keeps its pointers.
    char* k6 = text("k6");
    char* v6 = text("v6");
    step("copy and own", aaput(t, k6, v6, AA_COPYKEY | AA_OWNKEY | AA_COPYVALUE | AA_OWNVALUE), 0,
         6);
    std::free(k6);
    std::free(v6);
    EXPECT_STREQ(static_cast<char*>(aaget(t, "k6")), "v6");
    aaclear(t);
    EXPECT_EQ(aacount(t), 0);
    aaput(t, "again", text("v"), AA_OWNVALUE);
    aafree(t);
    aafree(nullptr);
    EXPECT_EQ(releases, 10); // k3's "w", k6's and word 7's copies, then "again"
}

TEST(AssocTable, TextsWithEqualHashesStayDistinct) {
    // Among a few thousand keys some share a 16-bit hash; for each table kind
    // find a pair that its own hash cannot tell apart. Keys of different
    // lengths and letter cases make the text comparison do the work.
    for (int flags : {int(0), int(AA_NOCASE), int(AA_LIST), AA_LIST | AA_NOCASE}) {
        SCOPED_TRACE(flags);
        std::vector<std::string> seen(65536);
        std::string a, b;
        for (int i = 0; a.empty(); ++i) {
            std::string k = (i % 2 ? "Key" : "kEy_") + std::to_string(i);
            std::string& slot = seen[aahash(flags, k.c_str())];
            if (!slot.empty()) {
                a = slot;
                b = k;
            }
            slot = k;
        }
        aaContext* t = aacreate(flags);
        int va = 1, vb = 2;
        EXPECT_EQ(aaput(t, a.c_str(), &va, AA_COPYKEY), 0);
        EXPECT_EQ(aaput(t, b.c_str(), &vb, AA_COPYKEY), 0);
        EXPECT_EQ(aaget(t, a.c_str()), &va);
        EXPECT_EQ(aaget(t, b.c_str()), &vb);
        EXPECT_EQ(aaremove(t, b.c_str()), 0);
        EXPECT_EQ(aaget(t, a.c_str()), &va);
        EXPECT_EQ(aaget(t, b.c_str()), nullptr);
        aafree(t);
    }
}

// What a failed call must leave exactly as it was.
struct Snapshot {
    std::vector<std::pair<std::string, void*>> entries;
    std::vector<int> owned;
    int buckets, count;
    bool operator==(const Snapshot& o) const {
        return entries == o.entries && owned == o.owned && buckets == o.buckets && count == o.count;
    }
};

Snapshot snapshot(const aaContext* t) {
    Snapshot s{entries(t), {}, t->bucketcount, t->count};
    for (int i = 0; i < t->bucketcount; ++i)
        for (const aaEntry* e = t->buckets[i]; e; e = e->next)
            s.owned.push_back(e->keyinline * 4 + e->keyowned * 2 + e->valueowned);
    return s;
}

TEST(AssocMemory, FailedPutsAndReplacesLeaveTableAndCallerAsTheyWere) {
    // Each case runs against a table holding "old" (copied key and value),
    // "ref" (referred key) and word 9, with allocations failing after n successes for n = 0, 1, ...
    // until the call succeeds. The key and value come from malloc so that
    // a table that wrongly kept or freed them shows up under the sanitizers.
    enum Call { Put, Replace, PutWord, ReplaceWord };
    struct Case {
        const char* name;
        Call call;
        const char* key;
        int flags, success, failures;
    } cases[] = {
        {"new, copies", Put, "new", AA_COPYKEY | AA_COPYVALUE, 0, 2},
        {"new, owned", Put, "new", AA_OWNKEY | AA_OWNVALUE, 0, 1},
        {"new, copy key own value", Put, "new", AA_COPYKEY | AA_OWNVALUE, 0, 1},
        {"present, copies", Put, "old", AA_COPYKEY | AA_COPYVALUE, 1, 1},
        {"present referred key, copy", Put, "ref", AA_COPYKEY, 1, 1},
        {"present, own key copy value", Put, "old", AA_OWNKEY | AA_COPYVALUE, 1, 1},
        {"present, owned", Put, "old", AA_OWNKEY | AA_OWNVALUE, 1, 0},
        {"replace, copy", Replace, "old", AA_COPYVALUE, 1, 1},
        {"replace, absent", Replace, "none", AA_COPYVALUE, 0, 0},
        {"word new, copy", PutWord, nullptr, AA_COPYVALUE, 0, 2},
        {"word present, copy", PutWord, nullptr, AA_COPYVALUE, 1, 1},
        {"word present, keep", PutWord, nullptr, AA_COPYVALUE | AA_KEEP, 1, 1},
        {"word replace, copy", ReplaceWord, nullptr, AA_COPYVALUE, 1, 1},
    };
    for (const Case& c : cases) {
        int failures = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE(std::string(c.name) + " n=" + std::to_string(n));
            releases = 0;
            aaContext* t = aacreate(countrelease, 0);
            ASSERT_EQ(aaput(t, "old", "v", AA_COPYKEY | AA_COPYVALUE), 0);
            ASSERT_EQ(aaput(t, "ref", nullptr, 0), 0);
            ASSERT_EQ(aaput(t, int64_t(9), "w", AA_COPYVALUE), 0);
            const int64_t word = c.success ? 9 : 10;
            Snapshot before = snapshot(t);
            char* key = c.key ? text(c.key) : nullptr;
            char* value = text("value");
            util_failalloc(n);
            int r = -2;
            switch (c.call) {
            case Put: r = aaput(t, key, value, c.flags); break;
            case Replace: r = aareplace(t, key, value, c.flags); break;
            case PutWord: r = aaput(t, word, value, c.flags); break;
            case ReplaceWord: r = aareplace(t, word, value, c.flags); break;
            }
            util_failalloc(-1);
            if (r == -1) {
                ++failures;
                EXPECT_TRUE(snapshot(t) == before);
                EXPECT_EQ(releases, 0);
                std::free(key); // still the caller's
                std::free(value);
                aafree(t);
                ASSERT_LT(n, 10);
                continue;
            }
            EXPECT_EQ(r, c.success);
            entries(t);
            // Whatever the table did not take over is still the caller's.
            const bool tookkey = c.call == Put && (c.flags & AA_OWNKEY) && !(c.flags & AA_COPYKEY);
            const bool tookvalue = (c.flags & AA_OWNVALUE) && !(c.flags & AA_COPYVALUE) &&
                                   !(c.call == Replace && !c.success);
            if (!tookkey) std::free(key);
            if (!tookvalue) std::free(value);
            aafree(t);
            break;
        }
        EXPECT_EQ(failures, c.failures) << c.name;
    }
}

TEST(AssocMemory, FailedResizesKeepTheTableUsable) {
    // Creation fails cleanly at either allocation.
    for (int n : {0, 1}) {
        util_failalloc(n);
        EXPECT_EQ(aacreate(AA_NOCASE), nullptr);
        util_failalloc(-1);
    }
    aaContext* t = aacreate();
    putkeys(t, 0, 127);
    // The 128th key: its entry succeeds, the doubling fails and is ignored.
    util_failalloc(1);
    EXPECT_EQ(aaput(t, "key127", nullptr, AA_COPYKEY), 0);
    util_failalloc(-1);
    EXPECT_EQ(aacount(t), 128);
    EXPECT_EQ(t->bucketcount, 64);
    EXPECT_EQ(aaget(t, "key127"), nullptr);
    EXPECT_EQ(walkkeys(t).size(), 128u);
    util_failalloc(0);
    EXPECT_EQ(aafit(t), -1);
    util_failalloc(-1);
    EXPECT_EQ(t->bucketcount, 64);
    entries(t);
    EXPECT_EQ(aafit(t), 0);
    EXPECT_EQ(t->bucketcount, 128);
    // A halving whose smaller block cannot be had still halves the count.
    putkeys(t, 128, 130);
    for (int i = 129; i > 64; --i) ASSERT_EQ(aaremove(t, numkey(i).c_str()), 0);
    EXPECT_EQ(t->bucketcount, 128);
    util_failalloc(0);
    EXPECT_EQ(aaremove(t, "key64"), 0);
    util_failalloc(-1);
    EXPECT_EQ(t->bucketcount, 64);
    Snapshot s = snapshot(t);
    EXPECT_EQ(s.count, 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(aaremove(t, numkey(i).c_str()), 0) << i;
    putkeys(t, 0, 300);
    EXPECT_EQ(t->bucketcount, 256);
    entries(t);
    aafree(t);
}

TEST(AssocDeath, NullTablesAndKeysAreProgrammingErrors) {
    aaContext* t = aacreate();
    EXPECT_DEATH(aaput(nullptr, "k", nullptr, 0), "aaput");
    EXPECT_DEATH(aaput(t, static_cast<const char*>(nullptr), nullptr, 0), "key");
    EXPECT_DEATH(aaget(t, static_cast<const char*>(nullptr)), "aaget");
    EXPECT_DEATH(aaremove(nullptr, int64_t(1)), "aaremove");
    EXPECT_DEATH(aacount(nullptr), "aacount");
    EXPECT_DEATH(aanextkey(nullptr), "aanextkey");
    EXPECT_DEATH(aahash(0, nullptr), "aahash");
    aafree(t);
}

} // namespace
