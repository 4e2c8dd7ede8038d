// SPDX-License-Identifier: MIT
// aaContext: a chained hash table of text or 64-bit word keys with one
// iteration cursor, and the 16-bit key hashes it is built on.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// CRC-16 table of the polynomial 0x1021, most significant bit first. The
// update below shifts right although this table belongs to a left-shifting
// CRC; the hash is defined that way, so it matches no standard CRC variant.
struct CrcTable {
    uint16_t t[256];
    constexpr CrcTable() : t() {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[i] = c;
        }
    }
};

struct FoldTable {
    unsigned char t[256];
    constexpr FoldTable() : t() {
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
    }
};

constexpr CrcTable crc;
constexpr FoldTable fold;

inline uint16_t step(uint16_t h, unsigned char b) {
    return static_cast<uint16_t>((h >> 8) ^ crc.t[(h ^ b) & 0xFF]);
}

// power.t[j][b]: what j steps over zero bytes make of the state b. Apart from
// its start value the hash is linear over GF(2), so a run of k bytes folds
// into one XOR of k table entries that can all be loaded at once, where the
// plain update is a chain of k dependent loads. Same results, fewer stalls.
struct PowerTables {
    uint16_t t[9][256];
    constexpr PowerTables() : t() {
        for (int b = 0; b < 256; ++b) {
            uint16_t h = static_cast<uint16_t>(b);
            t[0][b] = h;
            for (int j = 1; j <= 8; ++j) {
                h = static_cast<uint16_t>((h >> 8) ^ crc.t[h & 0xFF]);
                t[j][b] = h;
            }
        }
    }
};

constexpr PowerTables power;

// Upper-cases the ASCII letters among eight bytes at once.
inline uint64_t foldword(uint64_t w) {
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t low7 = w & (0x7F * ones);
    const uint64_t from_a = low7 + (0x80 - 'a') * ones;     // bit 7 set where >= 'a'
    const uint64_t past_z = low7 + (0x80 - 'z' - 1) * ones; // bit 7 set where > 'z'
    const uint64_t lower = from_a & ~past_z & ~w & (0x80 * ones);
    return w ^ (lower >> 2);
}

inline uint32_t chunk(uint32_t h, uint64_t w, int k) {
    const auto& P = power.t;
    uint32_t r = P[k][(h ^ w) & 0xFF] ^ P[k - 1][((h >> 8) ^ (w >> 8)) & 0xFF];
    for (int i = 2; i < k; ++i) r ^= P[k - i][(w >> (8 * i)) & 0xFF];
    return r;
}

template <typename Word> inline uint64_t load(const unsigned char* p, bool folded) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return folded ? foldword(w) : w;
}

inline uint16_t hashbytes(const unsigned char* p, size_t n, bool folded) {
    uint32_t h = 0xFFFF;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; n >= 8; p += 8, n -= 8) h = chunk(h, load<uint64_t>(p, folded), 8);
    if (n >= 4) {
        h = chunk(h, load<uint32_t>(p, folded), 4);
        p += 4;
        n -= 4;
    }
    if (n >= 2) {
        h = chunk(h, load<uint16_t>(p, folded), 2);
        p += 2;
        n -= 2;
    }
#endif
    for (; n > 0; ++p, --n) h = step(static_cast<uint16_t>(h), folded ? fold.t[*p] : *p);
    return static_cast<uint16_t>(h);
}

inline uint16_t hashtext(const char* text, bool folded) {
    return hashbytes(reinterpret_cast<const unsigned char*>(text), std::strlen(text), folded);
}

// 65536 buckets use every bit of the hash. Note that after two or more bytes
// the hash keeps bit 15 ^ bit 8 and bit 14 ^ bit 12 ^ bit 7 ^ bit 0 fixed, so
// it takes at most 16384 values: above 16384 buckets the extra buckets stay
// empty and chains grow with the count.
const int minbuckets = 64;
const int maxbuckets = 65536;

void setthresholds(aaContext* t) {
    if (t->flags & AA_LIST) {
        t->growat = 0;
        t->shrinkat = 0;
        return;
    }
    t->growat = t->bucketcount < maxbuckets ? 2 * t->bucketcount : 0;
    t->shrinkat =
        (t->bucketcount > minbuckets && !(t->flags & AA_NOSHRINK)) ? t->bucketcount / 2 : 0;
}

// Splits every chain by the next hash bit; the stored hashes make rehashing
// unnecessary. Refused while a walk is under way so that the cursor's bucket
// index stays valid.
int grow(aaContext* t) {
    int n = t->bucketcount;
    if (t->cursor || n > maxbuckets - 1) return -1;
    aaEntry** b = static_cast<aaEntry**>(
        util_realloc(t->buckets, static_cast<size_t>(2 * n) * sizeof(aaEntry*)));
    if (!b) return -1;
    t->buckets = b;
    for (int i = 0; i < n; ++i) {
        aaEntry* e = b[i];
        b[i] = nullptr;
        b[i + n] = nullptr;
        while (e) {
            aaEntry* next = e->next;
            int j = (e->hash & n) ? i + n : i;
            e->next = b[j];
            b[j] = e;
            e = next;
        }
    }
    t->bucketcount = 2 * n;
    setthresholds(t);
    return 0;
}

void shrink(aaContext* t) {
    int n = t->bucketcount;
    if (t->cursor || n <= minbuckets) return;
    int half = n / 2;
    aaEntry** b = t->buckets;
    for (int i = 0; i < half; ++i) {
        aaEntry* upper = b[i + half];
        if (!upper) continue;
        if (!b[i]) {
            b[i] = upper;
            continue;
        }
        aaEntry* tail = b[i];
        while (tail->next) tail = tail->next;
        tail->next = upper;
    }
    // A failed shrink of the block is harmless: the larger block keeps serving.
    aaEntry** smaller =
        static_cast<aaEntry**>(util_realloc(b, static_cast<size_t>(half) * sizeof(aaEntry*)));
    if (smaller) t->buckets = smaller;
    t->bucketcount = half;
    setthresholds(t);
}

void scanfrom(aaContext* t, int start) {
    for (int j = start; j < t->bucketcount; ++j) {
        if (t->buckets[j]) {
            t->cursor = t->buckets[j];
            t->cursorbucket = j + 1;
            return;
        }
    }
    t->cursor = nullptr;
}

aaEntry* advance(aaContext* t) {
    aaEntry* e = t->cursor;
    if (!e) return nullptr;
    if (e->next)
        t->cursor = e->next;
    else
        scanfrom(t, t->cursorbucket);
    return e;
}

void releaseentry(aaContext* t, aaEntry* e) {
    if (e->keyowned) std::free(e->key.text);
    if (e->valueowned && e->value) t->release(e->value);
    std::free(e);
}

void releaseall(aaContext* t) {
    for (int i = 0; i < t->bucketcount; ++i) {
        aaEntry* e = t->buckets[i];
        while (e) {
            aaEntry* next = e->next;
            releaseentry(t, e);
            e = next;
        }
        t->buckets[i] = nullptr;
    }
    t->count = 0;
    t->cursor = nullptr;
}

// Stores a new value in an entry, releasing the old one if the table owned it.
// Handing the table the pointer it already holds must not free it under the
// caller: the entry then stays owned if either side said so.
void setvalue(aaContext* t, aaEntry* e, void* value, bool owned) {
    if (e->value == value) {
        e->valueowned = e->valueowned || owned;
        return;
    }
    if (e->valueowned && e->value) t->release(e->value);
    e->value = value;
    e->valueowned = owned;
}

void setkey(aaEntry* e, char* key, bool owned) {
    if (e->key.text == key) {
        // A copy kept inside the entry's block goes with the entry, never alone.
        if (!(e->keyinline && key == reinterpret_cast<char*>(e + 1)))
            e->keyowned = e->keyowned || owned;
        return;
    }
    if (e->keyowned) std::free(e->key.text);
    e->key.text = key;
    e->keyowned = owned;
}

// Keys are short and an equal hash nearly always means an equal key, so a
// plain loop beats a call into the C library here.
inline bool sametext(const char* a, const char* b) {
    while (*a == *b) {
        if (!*a) return true;
        ++a;
        ++b;
    }
    return false;
}

// strcasecmp in the C locale, which is the folding the hash uses whatever
// locale the program has set.
inline bool sametextnocase(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    while (fold.t[*p] == fold.t[*q]) {
        if (!*p) return true;
        ++p;
        ++q;
    }
    return false;
}

// The link that points at the matching entry, or the null link that ends the
// chain when the key is absent. Hashes are compared before the texts.
aaEntry** findtext(aaContext* t, const char* key, uint16_t h) {
    aaEntry** slot = &t->buckets[h & (t->bucketcount - 1)];
    aaEntry* e;
    if (t->flags & AA_NOCASE) {
        for (; (e = *slot) != nullptr; slot = &e->next)
            if (e->hash == h && !e->wordkey && sametextnocase(e->key.text, key)) return slot;
    } else {
        for (; (e = *slot) != nullptr; slot = &e->next)
            if (e->hash == h && !e->wordkey && sametext(e->key.text, key)) return slot;
    }
    return slot;
}

aaEntry** findword(aaContext* t, int64_t key) {
    aaEntry** slot = &t->buckets[static_cast<uint64_t>(key) & (t->bucketcount - 1)];
    for (aaEntry* e; (e = *slot) != nullptr; slot = &e->next)
        if (e->wordkey && e->key.word == key) return slot;
    return slot;
}

// Links a new entry: at the tail in list mode (`tail` is the chain's end
// link), else at the head of its bucket, then grows the table if due.
void link(aaContext* t, aaEntry* e, aaEntry** tail, uint16_t h) {
    if (t->bucketcount == 1) {
        e->next = nullptr;
        *tail = e;
    } else {
        aaEntry** head = &t->buckets[h & (t->bucketcount - 1)];
        e->next = *head;
        *head = e;
    }
    ++t->count;
    if (t->growat && t->count >= t->growat) grow(t); // a refused doubling only costs speed
}

void unlink(aaContext* t, aaEntry** slot) {
    aaEntry* e = *slot;
    if (t->cursor == e) advance(t);
    *slot = e->next;
    releaseentry(t, e);
    --t->count;
    if (t->shrinkat && t->count <= t->shrinkat) shrink(t);
}

void seekentry(aaContext* t, aaEntry* e) {
    t->cursor = e;
    t->cursorbucket = (e->hash & (t->bucketcount - 1)) + 1;
}

char* embeddedkey(aaEntry* e) {
    return reinterpret_cast<char*>(e + 1);
}

int dupresult(const aaContext* t) {
    return (t->flags & AA_QUIETDUP) ? 0 : 1;
}

// The value the entry is to hold, or false when its copy cannot be made. A
// null value has nothing to copy and is stored as null.
bool makevalue(const void* value, int flags, void*& out) {
    out = const_cast<void*>(value);
    if ((flags & AA_COPYVALUE) && value) {
        out = util_strdup(static_cast<const char*>(value));
        if (!out) return false;
    }
    return true;
}

bool ownsvalue(int flags) {
    return (flags & (AA_COPYVALUE | AA_OWNVALUE)) != 0;
}

const char* keytext(const aaEntry* e) {
    return e->wordkey ? reinterpret_cast<const char*>(static_cast<intptr_t>(e->key.word))
                      : e->key.text;
}

int64_t keyword(const aaEntry* e) {
    return e->wordkey ? e->key.word : static_cast<int64_t>(reinterpret_cast<intptr_t>(e->key.text));
}

int64_t ptrword(const void* key) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(key));
}

} // namespace

// Hashes

uint16_t aahash(int flags, const char* text) {
    UTIL_CHECK(text);
    return hashtext(text, flags & AA_NOCASE);
}

uint16_t strihash(const char* text) {
    UTIL_CHECK(text);
    return hashtext(text, true);
}

uint16_t strihashto(const char* text, char delim, int& length) {
    UTIL_CHECK(text);
    uint16_t h = 0xFFFF;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char stop = static_cast<unsigned char>(delim);
    int n = 0;
    for (; p[n] && p[n] != stop; ++n) h = step(h, fold.t[p[n]]);
    length = n;
    return h;
}

uint16_t strihashto(const char* text, char delim) {
    int length;
    return strihashto(text, delim, length);
}

uint16_t memihash(const void* bytes, int count) {
    uint16_t h = 0xFFFF;
    if (count <= 0) return h;
    UTIL_CHECK(bytes);
    return hashbytes(static_cast<const unsigned char*>(bytes), static_cast<size_t>(count), true);
}

// Creation and maintenance

aaContext* aacreate(aaRelease callback, int flags) {
    aaContext* t = static_cast<aaContext*>(util_malloc(sizeof(aaContext)));
    if (!t) return nullptr;
    int n = (flags & AA_LIST) ? 1 : minbuckets;
    t->buckets = static_cast<aaEntry**>(util_calloc(static_cast<size_t>(n), sizeof(aaEntry*)));
    if (!t->buckets) {
        std::free(t);
        return nullptr;
    }
    t->release = callback ? callback : std::free;
    t->bucketcount = n;
    t->cursorbucket = 0;
    t->cursor = nullptr;
    t->flags = flags;
    t->count = 0;
    setthresholds(t);
    return t;
}

aaContext* aacreate(aaRelease callback) {
    return aacreate(callback, 0);
}
aaContext* aacreate(int flags) {
    return aacreate(nullptr, flags);
}
aaContext* aacreate() {
    return aacreate(nullptr, 0);
}

void aafree(aaContext* table) {
    if (!table) return;
    releaseall(table);
    std::free(table->buckets);
    std::free(table);
}

void aaclear(aaContext* table) {
    UTIL_CHECK(table);
    releaseall(table);
}

int aacount(const aaContext* table) {
    UTIL_CHECK(table);
    return table->count;
}

int aafit(aaContext* table) {
    UTIL_CHECK(table);
    table->cursor = nullptr;
    for (;;) {
        if (table->shrinkat && table->count <= table->shrinkat) {
            shrink(table);
        } else if (table->growat && table->count >= table->growat) {
            if (grow(table) < 0) return -1;
        } else {
            return 0;
        }
    }
}

// Text keys

int aaput(aaContext* table, const char* key, const void* value, int flags) {
    UTIL_CHECK(table);
    UTIL_CHECK(key);
    const size_t length = std::strlen(key);
    const uint16_t h =
        hashbytes(reinterpret_cast<const unsigned char*>(key), length, table->flags & AA_NOCASE);
    aaEntry** slot = findtext(table, key, h);
    aaEntry* e = *slot;
    const bool copykey = flags & AA_COPYKEY;
    const bool ownkey = !copykey && (flags & AA_OWNKEY);
    const bool ownvalue = !(flags & AA_COPYVALUE) && (flags & AA_OWNVALUE);

    if (e && (flags & AA_KEEP)) {
        // The caller handed these over; they are not wanted, so they go now,
        // unless they are the very pointers the entry already holds.
        if (ownkey && key != e->key.text) std::free(const_cast<char*>(key));
        if (ownvalue && value && value != e->value) table->release(const_cast<void*>(value));
        return dupresult(table);
    }

    if (e) {
        // A matching key has the same length, so a copy kept inside the entry
        // takes the new spelling in place; any other key needs a copy of its own.
        const bool inplace = copykey && e->keyinline && e->key.text == embeddedkey(e);
        char* k = const_cast<char*>(key);
        if (copykey && !inplace && !(k = util_strdup(key))) return -1;
        void* v;
        if (!makevalue(value, flags, v)) {
            if (k != key) std::free(k);
            return -1;
        }
        setvalue(table, e, v, ownsvalue(flags));
        if (inplace)
            std::memmove(e->key.text, key, length);
        else
            setkey(e, k, copykey || ownkey);
        return dupresult(table);
    }

    // A copied key lives in the entry's own block: one allocation instead of
    // two, and the key sits next to the hash that lookups read first.
    void* v;
    if (!makevalue(value, flags, v)) return -1;
    e = static_cast<aaEntry*>(util_malloc(sizeof(aaEntry) + (copykey ? length + 1 : 0)));
    if (!e) {
        if (v != value) std::free(v);
        return -1;
    }
    if (copykey) {
        e->key.text = embeddedkey(e);
        std::memcpy(e->key.text, key, length + 1);
    } else {
        e->key.text = const_cast<char*>(key);
    }
    e->value = v;
    e->hash = h;
    e->keyowned = ownkey; // an embedded copy goes with the entry
    e->valueowned = ownsvalue(flags);
    e->wordkey = 0;
    e->keyinline = copykey;
    link(table, e, slot, h);
    return 0;
}

void* aaget(aaContext* table, const char* key) {
    UTIL_CHECK(table);
    UTIL_CHECK(key);
    aaEntry* e = *findtext(table, key, aahash(table->flags, key));
    return e ? e->value : nullptr;
}

int aareplace(aaContext* table, const char* key, const void* value, int flags) {
    UTIL_CHECK(table);
    UTIL_CHECK(key);
    aaEntry* e = *findtext(table, key, aahash(table->flags, key));
    if (!e) return 0;
    void* v;
    if (!makevalue(value, flags, v)) return -1;
    setvalue(table, e, v, ownsvalue(flags));
    return 1;
}

int aaremove(aaContext* table, const char* key) {
    UTIL_CHECK(table);
    UTIL_CHECK(key);
    aaEntry** slot = findtext(table, key, aahash(table->flags, key));
    if (!*slot) return -1;
    unlink(table, slot);
    return 0;
}

void aaseek(aaContext* table, const char* key) {
    UTIL_CHECK(table);
    aaEntry* e = key ? *findtext(table, key, aahash(table->flags, key)) : nullptr;
    if (e)
        seekentry(table, e);
    else
        aarewind(table);
}

// 64-bit word keys

int aaput(aaContext* table, int64_t key, const void* value, int flags) {
    UTIL_CHECK(table);
    const bool ownvalue = !(flags & AA_COPYVALUE) && (flags & AA_OWNVALUE);
    void* v;
    if (!makevalue(value, flags, v)) return -1;
    aaEntry** slot = findword(table, key);
    aaEntry* e = *slot;
    if (e && (flags & AA_KEEP)) {
        if (v != value) std::free(v);
        if (ownvalue && value && value != e->value) table->release(const_cast<void*>(value));
        return dupresult(table);
    }
    if (e) {
        setvalue(table, e, v, ownsvalue(flags));
        return dupresult(table);
    }
    e = static_cast<aaEntry*>(util_malloc(sizeof(aaEntry)));
    if (!e) {
        if (v != value) std::free(v);
        return -1;
    }
    const uint16_t h = static_cast<uint16_t>(key);
    e->key.word = key;
    e->value = v;
    e->hash = h;
    e->keyowned = 0;
    e->valueowned = ownsvalue(flags);
    e->wordkey = 1;
    e->keyinline = 0;
    link(table, e, slot, h);
    return 0;
}

void* aaget(aaContext* table, int64_t key) {
    UTIL_CHECK(table);
    aaEntry* e = *findword(table, key);
    return e ? e->value : nullptr;
}

int aareplace(aaContext* table, int64_t key, const void* value, int flags) {
    UTIL_CHECK(table);
    aaEntry* e = *findword(table, key);
    if (!e) return 0;
    void* v;
    if (!makevalue(value, flags, v)) return -1;
    setvalue(table, e, v, ownsvalue(flags));
    return 1;
}

int aaremove(aaContext* table, int64_t key) {
    UTIL_CHECK(table);
    aaEntry** slot = findword(table, key);
    if (!*slot) return -1;
    unlink(table, slot);
    return 0;
}

void aaseek(aaContext* table, int64_t key) {
    UTIL_CHECK(table);
    aaEntry* e = *findword(table, key);
    if (e)
        seekentry(table, e);
    else
        aarewind(table);
}

// Pointer keys: the same as word keys, the pointer's bits being the word.

int aaput(aaContext* table, const void* key, const void* value, int flags) {
    return aaput(table, ptrword(key), value, flags);
}

void* aaget(aaContext* table, const void* key) {
    return aaget(table, ptrword(key));
}

int aareplace(aaContext* table, const void* key, const void* value, int flags) {
    return aareplace(table, ptrword(key), value, flags);
}

int aaremove(aaContext* table, const void* key) {
    return aaremove(table, ptrword(key));
}

void aaseek(aaContext* table, const void* key) {
    if (!key) {
        UTIL_CHECK(table);
        aarewind(table);
        return;
    }
    aaseek(table, ptrword(key));
}

// Iteration

void aarewind(aaContext* table) {
    UTIL_CHECK(table);
    scanfrom(table, 0);
}

const char* aanextkey(aaContext* table) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    return e ? keytext(e) : nullptr;
}

void* aanextvalue(aaContext* table) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    return e ? e->value : nullptr;
}

void* aanext(aaContext* table, const char*& key) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    if (!e) return nullptr;
    key = keytext(e);
    return e->value;
}

void* aanext(aaContext* table, void*& key) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    if (!e) return nullptr;
    key = reinterpret_cast<void*>(static_cast<intptr_t>(keyword(e)));
    return e->value;
}

void* aanext(aaContext* table, int64_t& key) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    if (!e) return nullptr;
    key = keyword(e);
    return e->value;
}

void* aanext(aaContext* table, int32_t& key) {
    UTIL_CHECK(table);
    aaEntry* e = advance(table);
    if (!e) return nullptr;
    key = static_cast<int32_t>(static_cast<uint32_t>(keyword(e)));
    return e->value;
}
