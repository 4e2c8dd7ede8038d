// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: aaContext, a chained hash table of text or word keys
// to untyped values with one iteration cursor, and its command-line builder.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// Table flags (aacreate).
enum {
    AA_NOCASE = 0x01,   // text keys compared and hashed ignoring ASCII case
    AA_LIST = 0x02,     // one bucket, insertion order, never resized
    AA_NOSHRINK = 0x04, // never halve the bucket array
    AA_QUIETDUP = 0x08, // aaput returns 0 instead of 1 for a present key
};

// Insert flags (aaput, aareplace).
enum {
    AA_COPYKEY = 0x01,   // store and own a copy of the key text
    AA_COPYVALUE = 0x02, // store and own a strdup copy of the value text
    AA_KEEP = 0x10,      // aaput: leave a present entry as it is
    AA_OWNKEY = 0x20,    // take over the caller's key text (freed with free)
    AA_OWNVALUE = 0x40,  // take over the caller's value (released by the callback)
};

typedef void (*aaRelease)(void* value);

struct aaEntry {
    aaEntry* next;
    union {
        char* text;
        int64_t word;
    } key;
    void* value;
    uint16_t hash;
    uint8_t keyowned;
    uint8_t valueowned;
    uint8_t wordkey;   // key is a 64-bit word; text lookups pass it by
    uint8_t keyinline; // copied key kept in the entry's block, freed with it
};

struct aaContext {
    aaRelease release;
    aaEntry** buckets;
    int32_t bucketcount;
    int32_t cursorbucket; // first bucket after the cursor entry's bucket
    aaEntry* cursor;      // entry the next advance returns; null when idle
    int32_t flags;
    int32_t count;
    int32_t shrinkat; // 0 = never
    int32_t growat;   // 0 = never
};

// Creation: null callback means free(). Null when memory runs out.
aaContext* aacreate(aaRelease callback, int flags);
aaContext* aacreate(aaRelease callback);
aaContext* aacreate(int flags);
aaContext* aacreate();
void aafree(aaContext* table); // null accepted
void aaclear(aaContext* table);
int aacount(const aaContext* table);
// Ends any iteration, then halves or doubles until the thresholds hold.
// -1 when a doubling failed, else 0 or more.
int aafit(aaContext* table);

// Text keys. aaput: 0 added, 1 present (0 under AA_QUIETDUP), -1 out of memory
// (table unchanged, caller still owns what it passed).
int aaput(aaContext* table, const char* key, const void* value, int flags);
void* aaget(aaContext* table, const char* key);
// 1 replaced, 0 absent, -1 copy failed.
int aareplace(aaContext* table, const char* key, const void* value, int flags);
// 0 removed, -1 absent.
int aaremove(aaContext* table, const char* key);
// Cursor onto the key's entry; null or absent key rewinds.
void aaseek(aaContext* table, const char* key);

// 64-bit integer keys, compared by value; never copied or freed.
int aaput(aaContext* table, int64_t key, const void* value, int flags);
void* aaget(aaContext* table, int64_t key);
int aareplace(aaContext* table, int64_t key, const void* value, int flags);
int aaremove(aaContext* table, int64_t key);
void aaseek(aaContext* table, int64_t key);

// Pointer keys, compared by value; never copied or freed.
int aaput(aaContext* table, const void* key, const void* value, int flags);
void* aaget(aaContext* table, const void* key);
int aareplace(aaContext* table, const void* key, const void* value, int flags);
int aaremove(aaContext* table, const void* key);
void aaseek(aaContext* table, const void* key);

// Iteration with the table's one cursor.
void aarewind(aaContext* table);
const char* aanextkey(aaContext* table);
void* aanextvalue(aaContext* table);
// Value of the entry under the cursor, its key stored through `key`; at the end
// null, and `key` is left alone.
void* aanext(aaContext* table, const char*& key);
void* aanext(aaContext* table, void*& key);
void* aanext(aaContext* table, int64_t& key);
void* aanext(aaContext* table, int32_t& key); // low 32 bits of the key

// 16-bit key hashes (CCITT table, right-shifting update, start 0xFFFF).
uint16_t aahash(int flags, const char* text); // folds case when flags & AA_NOCASE
uint16_t strihash(const char* text);
uint16_t strihashto(const char* text, char delim);
uint16_t strihashto(const char* text, char delim, int& length);
uint16_t memihash(const void* bytes, int count);

// Options of a command line: keys are option words less their first character,
// values the following word or "". List mode, ignoring case. Null on failure.
aaContext* args2aa(int argc, const char* const* argv);

#pragma GCC visibility pop
