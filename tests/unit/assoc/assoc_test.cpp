// SPDX-License-Identifier: MIT
// Tests of aaContext: hashes, lookups and results, resizing, walks with one
// cursor, ownership of keys and values, and the out-of-memory paths.
#include "pacelag/util.h"

#include "alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Bit-by-bit CRC-16 step of the polynomial 0x1021, most significant bit first,
// shifted right as the hash does: an independent reference for the hash.
uint16_t refhash(const std::string& s, bool folded) {
    uint16_t h = 0xFFFF;
    for (unsigned char b : s) {
        if (folded && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
        uint16_t c = static_cast<uint16_t>(((h ^ b) & 0xFF) << 8);
        for (int bit = 0; bit < 8; ++bit)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
        h = static_cast<uint16_t>((h >> 8) ^ c);
    }
    return h;
}

// Checks every structural invariant and returns the table as one text: bucket
// and entry counts, then each entry in bucket order with its value and
// ownership bits, so that a call that must change nothing can be compared.
std::string check(const aaContext* t) {
    const int n = t->bucketcount;
    EXPECT_EQ(n & (n - 1), 0) << "bucket count " << n << " is not a power of two";
    EXPECT_TRUE((t->flags & AA_LIST) ? n == 1 : n >= 64 && n <= 65536) << n;
    std::string out = std::to_string(n) + " " + std::to_string(t->count);
    int count = 0;
    for (int i = 0; i < n; ++i) {
        for (const aaEntry* e = t->buckets[i]; e; e = e->next, ++count) {
            EXPECT_EQ(e->hash & (n - 1), i);
            if (e->wordkey) {
                EXPECT_EQ(e->hash, static_cast<uint16_t>(e->key.word));
                out += " #" + std::to_string(e->key.word);
            } else {
                EXPECT_EQ(e->hash, aahash(t->flags, e->key.text)) << e->key.text;
                out += " " + std::string(e->key.text);
            }
            out += "=" + std::to_string(reinterpret_cast<uintptr_t>(e->value)) + "/" +
                   std::to_string(e->keyinline * 4 + e->keyowned * 2 + e->valueowned);
        }
    }
    EXPECT_EQ(count, t->count);
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

TEST(AssocHash, ReferenceValuesAndEveryRoutineAgree) {
    struct Case {
        const char* text;
        uint16_t plain, folded;
    } cases[] = {{"abc", 0x3C5F, 0x8DFD},
                 {"ABC", 0x8DFD, 0x8DFD},
                 {"mode", 0xCFFC, 0x7E87},
                 {"", 0xFFFF, 0xFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(refhash(c.text, false), c.plain);
        EXPECT_EQ(aahash(0, c.text), c.plain);
        EXPECT_EQ(aahash(AA_NOCASE | AA_LIST, c.text), c.folded);
        EXPECT_EQ(strihash(c.text), c.folded);
        EXPECT_EQ(memihash(c.text, static_cast<int>(std::strlen(c.text))), c.folded);
        EXPECT_EQ(strihashto(c.text, '\0'), c.folded);
    }
    // Every byte value, then random runs of every length up to 40 at every
    // alignment, against the reference; the counted form takes NUL bytes too.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(aahash(0, all.c_str()), refhash(all, false));
    EXPECT_EQ(aahash(AA_NOCASE, all.c_str()), refhash(all, true));
    std::mt19937 rng(7);
    std::string pool(400, ' ');
    for (char& c : pool) c = static_cast<char>(rng());
    for (int offset = 0; offset < 8; ++offset) {
        for (int n = 0; n <= 40; ++n) {
            SCOPED_TRACE(std::to_string(offset) + " " + std::to_string(n));
            const char* p = pool.data() + offset + 8 * n;
            std::string bytes(p, static_cast<size_t>(n)), text(bytes.c_str());
            EXPECT_EQ(memihash(p, n), refhash(bytes, true));
            EXPECT_EQ(aahash(0, text.c_str()), refhash(text, false));
            EXPECT_EQ(aahash(AA_NOCASE, text.c_str()), refhash(text, true));
        }
    }
    EXPECT_EQ(memihash("a\0b", 3), refhash(std::string("A\0B", 3), false));
    EXPECT_EQ(memihash("abc", 0), 0xFFFF);
    EXPECT_EQ(memihash(nullptr, -5), 0xFFFF);
}

TEST(AssocHash, HashToStopsAtTheDelimiter) {
    struct Case {
        const char *text, delim, *hashed; // the part that should be hashed
    } cases[] = {
        {"Mode=client", '=', "MODE"}, {"=x", '=', ""},      {"", '=', ""},
        {"a\xff", '\xff', "a"},       {"abc", '\0', "abc"},
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
    // result: of Put, Replace, Remove or Count; expect: what aaget finds after
    // a Put, Replace or Get.
    struct Step {
        Op op;
        const char *key, *value;
        int flags, result;
        const char* expect;
    };
    for (int tflags : {0, int(AA_QUIETDUP), int(AA_NOCASE), int(AA_LIST), AA_LIST | AA_NOCASE}) {
        SCOPED_TRACE(tflags);
        const int dup = (tflags & AA_QUIETDUP) ? 0 : 1;
        const bool nocase = tflags & AA_NOCASE;
        const Step steps[] = {
            {Remove, "a", nullptr, 0, -1, nullptr},
            {Replace, "a", "x", AA_COPYVALUE, 0, nullptr},
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
            case Remove: EXPECT_EQ(aaremove(t, s.key), s.result); continue;
            case Count: EXPECT_EQ(aacount(t), s.result); continue;
            case Get: break;
            }
            EXPECT_STREQ(static_cast<const char*>(aaget(t, s.key)), s.expect);
        }
        check(t);
        aafree(t);
    }
}

TEST(AssocTable, ListModeKeepsFirstPlaceWithTheLaterSpelling) {
    aaContext* t = aacreate(AA_LIST | AA_NOCASE);
    const char* words[][2] = {{"mode", "client"}, {"host", "h"}, {"MODE", "server"}};
    for (auto& w : words) aaput(t, w[0], w[1], AA_COPYKEY | AA_COPYVALUE);
    EXPECT_STREQ(static_cast<char*>(aaget(t, "Mode")), "server");
    // Many keys keep insertion order and one bucket, aafit or not.
    putkeys(t, 0, 300);
    EXPECT_EQ(aafit(t), 0);
    std::vector<std::string> want = {"MODE", "host"};
    for (int i = 0; i < 300; ++i) want.push_back(numkey(i));
    EXPECT_EQ(walkkeys(t), want);
    check(t);
    aafree(t);
}

TEST(AssocTable, DoublesAtTheGrowThresholdAndHalvesAtTheShrinkThreshold) {
    struct Stop {
        int count, buckets;
    };
    for (int flags : {0, int(AA_NOSHRINK), int(AA_NOCASE)}) {
        SCOPED_TRACE(flags);
        const bool noshrink = flags & AA_NOSHRINK;
        aaContext* t = aacreate(flags);
        int n = 0;
        // Just before and at the 128th and 256th insertions.
        for (const Stop& s : {Stop{127, 64}, {128, 128}, {255, 128}, {256, 256}}) {
            putkeys(t, n, s.count);
            n = s.count;
            EXPECT_EQ(t->bucketcount, s.buckets) << n;
        }
        // 256 buckets halve at 128 entries, 128 buckets at 64, never below 64.
        for (const Stop& s : {Stop{129, 256}, {128, 128}, {65, 128}, {64, 64}, {0, 64}}) {
            while (n > s.count) ASSERT_EQ(aaremove(t, numkey(--n).c_str()), 0);
            EXPECT_EQ(t->bucketcount, noshrink ? 256 : s.buckets) << n;
            check(t);
        }
        aafree(t);
    }
}

TEST(AssocTable, StopsDoublingAt65536Buckets) {
    aaContext* t = aacreate();
    const int64_t n = 2 * 65536 + 1000;
    // Values tell the keys apart: many keys share a hash and a bucket here.
    auto value = [](int64_t k) { return reinterpret_cast<void*>(static_cast<intptr_t>(k + 1)); };
    for (int64_t k = 0; k < n; ++k) ASSERT_EQ(aaput(t, k * 3, value(k), 0), 0);
    EXPECT_EQ(t->bucketcount, 65536);
    EXPECT_EQ(aafit(t), 0);
    check(t);
    EXPECT_EQ(t->bucketcount, 65536);
    for (int64_t k = 0; k < n; k += 997) EXPECT_EQ(aaget(t, k * 3), value(k)) << k;
    for (int64_t k = 0; k < n; ++k) EXPECT_EQ(aaremove(t, k * 3), 0);
    EXPECT_EQ(t->bucketcount, 64);
    aafree(t);
}

TEST(AssocWalk, ResizingWaitsForTheWalkThenFitCatchesUp) {
    aaContext* t = aacreate();
    putkeys(t, 0, 10);
    aarewind(t);
    std::set<std::string> seen = {aanextkey(t)};
    putkeys(t, 10, 210);
    EXPECT_EQ(t->bucketcount, 64);
    check(t);
    // The walk stays intact and returns each entry once.
    for (const char* k; (k = aanextkey(t)) != nullptr;) EXPECT_TRUE(seen.insert(k).second) << k;
    EXPECT_GE(seen.size(), 10u);
    EXPECT_EQ(t->cursor, nullptr);
    putkeys(t, 210, 211); // the walk is over: the next insertion doubles
    EXPECT_EQ(t->bucketcount, 128);
    check(t);
    // An abandoned walk keeps halving off too, until aafit.
    putkeys(t, 211, 250);
    aaseek(t, "key3");
    EXPECT_NE(t->cursor, nullptr);
    for (int i = 0; i < 240; ++i) aaremove(t, numkey(i).c_str());
    EXPECT_EQ(t->bucketcount, 128);
    EXPECT_EQ(aafit(t), 0);
    EXPECT_EQ(t->bucketcount, 64);
    check(t);
    aafree(t);
}

TEST(AssocWalk, RemovingDuringAWalkReturnsEveryOtherEntryOnce) {
    // For every position: remove the entry the next advance would return and
    // one already returned, in both modes.
    for (int tflags : {0, int(AA_LIST)}) {
        for (int n : {1, 5, 130}) {
            for (int pos = 0; pos < n; ++pos) {
                SCOPED_TRACE(std::to_string(tflags) + " " + std::to_string(n) + " " +
                             std::to_string(pos));
                aaContext* t = aacreate(tflags);
                putkeys(t, 0, n);
                std::vector<std::string> want = walkkeys(t), got;
                aarewind(t);
                for (int i = 0; i < pos; ++i) got.push_back(aanextkey(t));
                EXPECT_EQ(aaremove(t, want[pos].c_str()), 0);
                EXPECT_EQ(pos > 0 ? aaremove(t, want[0].c_str()) : 0, 0);
                for (const char* k; (k = aanextkey(t)) != nullptr;) got.push_back(k);
                want.erase(want.begin() + pos);
                EXPECT_EQ(got, want);
                EXPECT_EQ(aacount(t), n - (pos > 0 ? 2 : 1));
                check(t);
                aafree(t);
            }
        }
    }
}

TEST(AssocWalk, CursorOutTypesSeekAndEnd) {
    aaContext* t = aacreate(AA_LIST);
    int v[3];
    // The first two share a 16-bit hash; the third fits the 32-bit out-type
    // only as its low half.
    const int64_t keys[] = {5, 5 + 65536, 0x1234567800000009LL};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(aaput(t, keys[i], &v[i], 0), 0);
    int64_t k64 = 0;
    int32_t k32 = 0;
    void* kp = nullptr;
    const char* ktext = "untouched";
    aarewind(t);
    EXPECT_EQ(aanext(t, k64), &v[0]);
    EXPECT_EQ(aanext(t, kp), &v[1]);
    EXPECT_EQ(aanext(t, k32), &v[2]);
    // At the end every out-type is left alone.
    EXPECT_TRUE(!aanext(t, k64) && !aanext(t, k32) && !aanext(t, kp) && !aanext(t, ktext) &&
                !aanextkey(t) && !aanextvalue(t));
    EXPECT_EQ(k64, 5);
    EXPECT_EQ(kp, reinterpret_cast<void*>(intptr_t(5 + 65536)));
    EXPECT_EQ(k32, 9);
    EXPECT_STREQ(ktext, "untouched");

    // Seek: present word key starts there, absent or null rewinds.
    aaseek(t, keys[1]);
    EXPECT_EQ(aanextvalue(t), &v[1]);
    aaseek(t, int64_t(77));
    EXPECT_EQ(aanextvalue(t), &v[0]);
    aaseek(t, static_cast<const void*>(nullptr));
    EXPECT_EQ(aanextvalue(t), &v[0]);
    // In list mode an entry added during a walk lands at the tail and is
    // still returned by that walk.
    aaput(t, int64_t(42), &v[2], 0);
    EXPECT_EQ(aanextvalue(t), &v[1]);
    EXPECT_EQ(aanextvalue(t), &v[2]);
    EXPECT_EQ(aanext(t, k64), &v[2]);
    EXPECT_EQ(k64, 42);
    EXPECT_EQ(aanextvalue(t), nullptr);
    aafree(t);

    // Text keys in hashed mode: seek, then the walk runs to the end.
    t = aacreate(AA_NOCASE);
    putkeys(t, 0, 100);
    std::vector<std::string> order = walkkeys(t), rest;
    aaseek(t, "Key42"); // a mixed spelling: only the folded hash finds it
    for (const char* k; (k = aanextkey(t)) != nullptr;) rest.push_back(k);
    EXPECT_EQ(rest, std::vector<std::string>(std::find(order.begin(), order.end(), "key42"),
                                             order.end()));
    aaseek(t, "absent");
    EXPECT_EQ(aanextkey(t), order[0]);
    aaseek(t, static_cast<const char*>(nullptr));
    EXPECT_EQ(aanextkey(t), order[0]);
    // aaclear ends the walk and keeps the buckets.
    putkeys(t, 100, 200);
    int buckets = t->bucketcount;
    aaclear(t);
    EXPECT_EQ(t->bucketcount, buckets);
    EXPECT_EQ(t->cursor, nullptr);
    EXPECT_EQ(check(t), std::to_string(buckets) + " 0");
    aafree(t);
}

TEST(AssocTable, PointerAndWordKeysLiveBesideTextKeys) {
    int a = 0, b = 0;
    const void* pa = &a;
    // Word 0xFFFF and the empty text share a hash and a bucket.
    for (int flags : {0, int(AA_NOCASE)}) {
        aaContext* t = aacreate(flags);
        EXPECT_EQ(aaput(t, "", &a, 0), 0);
        EXPECT_EQ(aaput(t, int64_t(0xFFFF), &b, 0), 0);
        EXPECT_EQ(aaput(t, pa, &b, 0), 0);
        EXPECT_EQ(aaput(t, pa, &a, AA_KEEP), 1);
        EXPECT_EQ(aaget(t, ""), &a);
        EXPECT_EQ(aaget(t, pa), &b);
        EXPECT_EQ(aareplace(t, pa, &a, 0), 1);
        EXPECT_EQ(aaget(t, pa), &a);
        EXPECT_EQ(aareplace(t, int64_t(1), &a, 0), 0);
        EXPECT_EQ(aaremove(t, int64_t(1)), -1);
        EXPECT_EQ(aaremove(t, ""), 0);
        EXPECT_EQ(aaget(t, int64_t(0xFFFF)), &b);
        EXPECT_EQ(aaremove(t, pa), 0);
        EXPECT_EQ(aacount(t), 1);
        check(t);
        aafree(t);
    }
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
    step("own", aaput(t, strdup("k2"), strdup("v"), AA_OWNKEY | AA_OWNVALUE), 0, 0);
    step("refer", aaput(t, "k3", "static", 0), 0, 0);
    step("own null value", aaput(t, "k4", nullptr, AA_OWNVALUE), 0, 0);
    // Replacing owned values releases the old one.
    step("replace copied", aaput(t, "k1", "w", AA_COPYVALUE), 1, 1);
    step("replace owned", aareplace(t, "k2", strdup("w"), AA_OWNVALUE), 1, 2);
    step("replace referred", aareplace(t, "k3", strdup("w"), AA_OWNVALUE), 1, 2);
    // AA_KEEP: the unwanted key is freed, the unwanted value released.
    step("keep", aaput(t, strdup("k2"), strdup("x"), AA_KEEP | AA_OWNKEY | AA_OWNVALUE), 1, 3);
    step("keep null", aaput(t, strdup("k4"), nullptr, AA_KEEP | AA_OWNKEY | AA_OWNVALUE), 1, 3);
    // Handing over the pointer the entry already holds frees nothing.
    void* held = aaget(t, "k2");
    step("same value", aaput(t, "k2", held, AA_OWNVALUE), 1, 3);
    step("same value kept", aaput(t, "k2", held, AA_OWNVALUE | AA_KEEP), 1, 3);
    step("remove", aaremove(t, "k2"), 0, 4);
    step("refer over owned", aareplace(t, "k1", "static", 0), 1, 5);
    step("remove referred", aaremove(t, "k1"), 0, 5);
    step("word copy", aaput(t, int64_t(7), "v", AA_COPYVALUE), 0, 5);
    step("word keep", aaput(t, int64_t(7), "v", AA_COPYVALUE | AA_KEEP), 1, 5);
    step("word keep owned", aaput(t, int64_t(7), strdup("v"), AA_OWNVALUE | AA_KEEP), 1, 6);
    // A key handed over twice is freed once.
    char* k5 = strdup("k5");
    step("own key", aaput(t, k5, nullptr, AA_OWNKEY), 0, 6);
    step("same key", aaput(t, k5, nullptr, AA_OWNKEY), 1, 6);
    step("same key kept", aaput(t, k5, nullptr, AA_OWNKEY | AA_KEEP), 1, 6);
    // A copy kept by the table and handed back as owned is still freed with its entry.
    step("copied key", aaput(t, "k7", nullptr, AA_COPYKEY), 0, 6);
    aaseek(t, "k7");
    char* k7 = const_cast<char*>(aanextkey(t));
    step("copied key handed back", aaput(t, k7, nullptr, AA_OWNKEY), 1, 6);
    // Copy wins over own: the caller keeps its pointers.
    char *k6 = strdup("k6"), *v6 = strdup("v6");
    step("copy and own", aaput(t, k6, v6, AA_COPYKEY | AA_OWNKEY | AA_COPYVALUE | AA_OWNVALUE), 0,
         6);
    std::free(k6);
    std::free(v6);
    EXPECT_STREQ(static_cast<char*>(aaget(t, "k6")), "v6");
    aaclear(t);
    EXPECT_EQ(aacount(t), 0);
    aaput(t, "again", strdup("v"), AA_OWNVALUE);
    aafree(t);
    aafree(nullptr);
    EXPECT_EQ(releases, 10); // k3's "w", k6's and word 7's copies, then "again"
}

TEST(AssocTable, TextsWithEqualHashesStayDistinct) {
    // For each table kind find two keys its own hash cannot tell apart, of
    // different lengths and letter cases so that the text comparison decides.
    for (int flags : {0, int(AA_NOCASE), int(AA_LIST), AA_LIST | AA_NOCASE}) {
        SCOPED_TRACE(flags);
        std::vector<std::string> seen(65536);
        std::string a, b;
        for (int i = 0; a.empty(); ++i) {
            b = (i % 2 ? "Key" : "kEy_") + std::to_string(i);
            std::string& slot = seen[aahash(flags, b.c_str())];
            a = slot;
            slot = b;
        }
        aaContext* t = aacreate(flags);
        int va = 1, vb = 2;
        EXPECT_EQ(aaput(t, a.c_str(), &va, AA_COPYKEY), 0);
        EXPECT_EQ(aaput(t, b.c_str(), &vb, AA_COPYKEY), 0);
        EXPECT_EQ(aaget(t, b.c_str()), &vb);
        EXPECT_EQ(aaremove(t, b.c_str()), 0);
        EXPECT_EQ(aaget(t, a.c_str()), &va);
        EXPECT_EQ(aaget(t, b.c_str()), nullptr);
        aafree(t);
    }
}

TEST(AssocMemory, FailedPutsAndReplacesLeaveTableAndCallerAsTheyWere) {
    // Each case runs against a table holding "old" (copied key and value),
    // "ref" (referred key) and word 9, with allocations failing after n
    // successes for n = 0, 1, ... until the call succeeds. A null key means a
    // word key: 9 when it is present, else 10. The key and value come from
    // malloc so that a table that wrongly kept or freed them shows up under
    // the sanitizers.
    struct Case {
        bool replace;
        const char* key;
        int flags, success, failures;
    } cases[] = {
        {false, "new", AA_COPYKEY | AA_COPYVALUE, 0, 2},
        {false, "new", AA_OWNKEY | AA_OWNVALUE, 0, 1},
        {false, "old", AA_COPYKEY | AA_COPYVALUE, 1, 1},
        {false, "ref", AA_COPYKEY, 1, 1},
        {false, "ref", AA_COPYKEY | AA_COPYVALUE, 1, 2},
        {false, "old", AA_OWNKEY | AA_COPYVALUE, 1, 1},
        {false, "old", AA_OWNKEY | AA_OWNVALUE, 1, 0},
        {true, "old", AA_COPYVALUE, 1, 1},
        {true, "none", AA_COPYVALUE, 0, 0},
        {false, nullptr, AA_COPYVALUE, 0, 2},
        {false, nullptr, AA_COPYVALUE | AA_KEEP, 1, 1},
        {true, nullptr, AA_COPYVALUE, 1, 1},
    };
    for (const Case& c : cases) {
        int failures = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE(std::to_string(&c - cases) + " n=" + std::to_string(n));
            releases = 0;
            aaContext* t = aacreate(countrelease, 0);
            ASSERT_EQ(aaput(t, "old", "v", AA_COPYKEY | AA_COPYVALUE), 0);
            ASSERT_EQ(aaput(t, "ref", nullptr, 0), 0);
            ASSERT_EQ(aaput(t, int64_t(9), "w", AA_COPYVALUE), 0);
            const int64_t word = c.success ? 9 : 10;
            const std::string before = check(t);
            char* key = c.key ? strdup(c.key) : nullptr;
            char* value = strdup("value");
            util_failalloc(n);
            const int r = c.key ? (c.replace ? aareplace(t, key, value, c.flags)
                                             : aaput(t, key, value, c.flags))
                                : (c.replace ? aareplace(t, word, value, c.flags)
                                             : aaput(t, word, value, c.flags));
            util_failalloc(-1);
            const bool failed = r == -1;
            if (failed) {
                ++failures;
                EXPECT_EQ(check(t), before);
                EXPECT_EQ(releases, 0);
                ASSERT_LT(n, 10);
            } else {
                EXPECT_EQ(r, c.success);
                check(t);
            }
            // Whatever the table did not take over is still the caller's.
            const bool tookkey =
                !failed && !c.replace && (c.flags & AA_OWNKEY) && !(c.flags & AA_COPYKEY);
            const bool tookvalue = !failed && (c.flags & AA_OWNVALUE) &&
                                   !(c.flags & AA_COPYVALUE) && !(c.replace && !c.success);
            if (!tookkey) std::free(key);
            if (!tookvalue) std::free(value);
            aafree(t);
            if (!failed) break;
        }
        EXPECT_EQ(failures, c.failures) << (&c - cases);
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
    EXPECT_EQ(t->bucketcount, 64);
    EXPECT_EQ(walkkeys(t).size(), 128u);
    check(t);
    util_failalloc(0);
    EXPECT_EQ(aafit(t), -1);
    util_failalloc(-1);
    EXPECT_EQ(t->bucketcount, 64);
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
    check(t);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(aaremove(t, numkey(i).c_str()), 0) << i;
    putkeys(t, 0, 300);
    EXPECT_EQ(t->bucketcount, 256);
    check(t);
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
